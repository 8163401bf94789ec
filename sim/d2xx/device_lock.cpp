#include "device_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace simd2xx {

namespace {

// Empty: no lock files.
std::string LockFolder(bool DefaultFolder)
{
    const char* folder = std::getenv(LockDirEnvVar);
    return folder ? folder : DefaultFolder ? "/tmp" : "";
}

std::string FileName(const std::string& Key)
{
    std::string name = "orbesk-sim-";
    for (const char c : Key)
        name += (c == '/' || c == '\0') ? '_' : c;
    return name + ".lock";
}

int OpenLockFile(const std::string& Path)
{
    // Opened without O_CREAT first: /tmp's sticky bit may refuse O_CREAT
    // on a file another user made.
    int fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    fd = open(Path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0)
        fchmod(fd, 0666); // whatever the umask: other users' programs too
    return fd;
}

} // namespace

TDeviceLock& TDeviceLock::operator=(TDeviceLock&& Other) noexcept
{
    if (this != &Other) {
        Release();
        Fd = Other.Fd;
        Other.Fd = -1;
    }
    return *this;
}

bool TDeviceLock::Take(const std::string& Key, bool DefaultFolder)
{
    Release();
    const std::string folder = LockFolder(DefaultFolder);
    if (folder.empty())
        return true;
    mkdir(folder.c_str(), 0777); // a folder the test names may not exist yet
    const int fd = OpenLockFile(folder + "/" + FileName(Key));
    if (fd < 0)
        return true;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return !held;
    }
    Fd = fd;
    return true;
}

void TDeviceLock::Release()
{
    // Closing the only descriptor of the open file drops its lock.
    if (Fd >= 0)
        close(Fd);
    Fd = -1;
}

} // namespace simd2xx
