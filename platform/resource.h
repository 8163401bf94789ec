// Named blocks of bytes carried inside the program, put there at build time
// (orbesk_embed_resources in this folder's CMakeLists.txt), read as a
// stream: no file beside the program to lose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

struct TResource {
    const char* Name;
    const uint8_t* Data;
    size_t Size;
};

// The resource of that name; null when the program carries none.
const TResource* FindResource(const std::string& Name);

// Reads one resource from its start.
class TResourceStream {
public:
    // False when there is no resource of that name.
    bool Open(const std::string& Name);
    bool IsOpen() const { return FResource != nullptr; }
    size_t Size() const { return FResource ? FResource->Size : 0; }
    // Up to Count bytes from where the last read ended; the number copied.
    size_t Read(void* Buffer, size_t Count);

private:
    const TResource* FResource = nullptr;
    size_t FPosition = 0;
};

// The table the build generates: every embedded resource, Count of them.
const TResource* EmbeddedResources(size_t& Count);

} // namespace platform
