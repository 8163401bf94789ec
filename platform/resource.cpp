#include "resource.h"

#include <algorithm>
#include <cstring>

namespace platform {

const TResource* FindResource(const std::string& Name)
{
    size_t count = 0;
    const TResource* table = EmbeddedResources(count);
    for (size_t i = 0; i < count; ++i)
        if (Name == table[i].Name)
            return &table[i];
    return nullptr;
}

bool TResourceStream::Open(const std::string& Name)
{
    FResource = FindResource(Name);
    FPosition = 0;
    return FResource != nullptr;
}

size_t TResourceStream::Read(void* Buffer, size_t Count)
{
    if (!FResource)
        return 0;
    const size_t n = std::min(Count, FResource->Size - FPosition);
    if (n > 0)
        std::memcpy(Buffer, FResource->Data + FPosition, n);
    FPosition += n;
    return n;
}

} // namespace platform
