#include "progpath.h"

#include <climits>
#include <unistd.h>

namespace platform {

std::string ProgramFilePath()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    return std::string(path, static_cast<size_t>(n));
}

} // namespace platform
