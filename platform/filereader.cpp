#include "filereader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::function<bool(int64_t)> ReadFault;

} // namespace

void SetReadFaultForTest(std::function<bool(int64_t Offset)> Fault)
{
    ReadFault = std::move(Fault);
}

TFileReader::~TFileReader()
{
    Close();
}

bool TFileReader::Open(const std::string& Name)
{
    Close();
    // Non-blocking so that opening a FIFO without a writer returns at once;
    // the type test below then refuses it.
    const int fd = ::open(Name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    FHandle = fd;
    FPosition = 0;
    return true;
}

void TFileReader::Close()
{
    if (FHandle >= 0)
        ::close(FHandle);
    FHandle = -1;
    FPosition = 0;
}

bool IsDirectoryPath(const std::string& Path)
{
    struct stat st {};
    return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

TFileIdentity IdentityOf(const struct stat& St)
{
    return {static_cast<uint64_t>(St.st_dev), static_cast<uint64_t>(St.st_ino), static_cast<int64_t>(St.st_size),
            static_cast<int64_t>(St.st_mtim.tv_sec) * 1000000000 + St.st_mtim.tv_nsec,
            static_cast<int64_t>(St.st_ctim.tv_sec) * 1000000000 + St.st_ctim.tv_nsec};
}

} // namespace

TFileIdentity TFileReader::Identity() const
{
    struct stat st {};
    if (FHandle < 0 || ::fstat(FHandle, &st) != 0)
        return {};
    return IdentityOf(st);
}

TFileIdentity IdentityOfPath(const std::string& Path)
{
    struct stat st {};
    if (Path.empty() || ::stat(Path.c_str(), &st) != 0)
        return {};
    return IdentityOf(st);
}

int64_t TFileReader::Size() const
{
    if (FHandle < 0)
        return -1;
    struct stat st {};
    if (::fstat(FHandle, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t TFileReader::Read(void* Buffer, int64_t Count)
{
    if (FHandle < 0 || Count < 0)
        return -1;
    if (ReadFault && ReadFault(FPosition))
        return -1;
    for (;;) {
        const ssize_t n = ::read(FHandle, Buffer, static_cast<size_t>(Count));
        if (n >= 0) {
            FPosition += n;
            return static_cast<int64_t>(n);
        }
        if (errno != EINTR)
            return -1;
    }
}

bool TFileReader::Seek(int64_t Position)
{
    if (FHandle < 0 || Position < 0)
        return false;
    if (::lseek(FHandle, static_cast<off_t>(Position), SEEK_SET) < 0)
        return false;
    FPosition = Position;
    return true;
}

} // namespace platform
