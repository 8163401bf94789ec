// Sequential reading of one regular file: open, size, read, seek. Anything
// that is not a regular file (a directory, a FIFO, a device) is refused at
// open, so a reader can neither block on it nor read garbage from it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// What tells one state of a file from another: the same file that was
// neither written nor replaced has the same identity. The change time is
// in it because no user can set it back, as touch or an unpacker sets the
// modification time.
struct TFileIdentity {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = -1;
    int64_t ModifiedNs = 0;
    int64_t ChangedNs = 0;
    bool operator==(const TFileIdentity&) const = default;
};

// The identity of the file Path names now; empty when there is none.
TFileIdentity IdentityOfPath(const std::string& Path);

class TFileReader {
public:
    TFileReader() = default;
    ~TFileReader();
    TFileReader(const TFileReader&) = delete;
    TFileReader& operator=(const TFileReader&) = delete;

    // False when the file does not exist, cannot be read or is not a
    // regular file; nothing stays open then.
    bool Open(const std::string& Name);
    bool IsOpen() const { return FHandle >= 0; }
    void Close();

    // Size in bytes at the time of the call; -1 when not open.
    int64_t Size() const;
    // The open file's identity at the time of the call; empty when not open.
    TFileIdentity Identity() const;
    // Bytes read into Buffer (0 at the end of the file), or -1 on an error.
    int64_t Read(void* Buffer, int64_t Count);
    // Moves to Position bytes from the start; false on an error.
    bool Seek(int64_t Position);

private:
    int FHandle = -1;
    int64_t FPosition = 0;
};

// Whether Path names a directory (a link to one included); false for an
// empty path and for nothing there.
bool IsDirectoryPath(const std::string& Path);

// Test seam: while set, a read that starts at an offset for which Fault
// returns true fails as if the device had reported an error. An empty
// function restores normal reading. Set it before any reader thread runs.
void SetReadFaultForTest(std::function<bool(int64_t Offset)> Fault);

} // namespace platform
