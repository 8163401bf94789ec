#include "meminfo.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <limits>
#include <string>

namespace platform {

namespace {

constexpr uint64_t Unknown = std::numeric_limits<uint64_t>::max();
std::atomic<uint64_t> Override{Unknown};

// "MemAvailable:  123456 kB" from /proc/meminfo.
uint64_t SystemAvailable()
{
    std::ifstream in("/proc/meminfo");
    std::string key;
    uint64_t kb = 0;
    std::string unit;
    while (in >> key >> kb) {
        std::getline(in, unit);
        if (key == "MemAvailable:")
            return kb * 1024;
    }
    return Unknown;
}

uint64_t ReadNumber(const char* Path)
{
    std::ifstream in(Path);
    uint64_t v = 0;
    if (in >> v)
        return v;
    return Unknown; // absent, or "max"
}

// Room left under the cgroup's limit (v2).
uint64_t CgroupAvailable()
{
    const uint64_t max = ReadNumber("/sys/fs/cgroup/memory.max");
    const uint64_t current = ReadNumber("/sys/fs/cgroup/memory.current");
    if (max == Unknown || current == Unknown)
        return Unknown;
    return max > current ? max - current : 0;
}

// Room left under the address-space limit.
uint64_t AddressSpaceAvailable()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return Unknown;
    std::ifstream in("/proc/self/statm");
    uint64_t pages = 0;
    if (!(in >> pages))
        return Unknown;
    const uint64_t used = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

} // namespace

uint64_t AvailableMemory()
{
    const uint64_t forced = Override.load();
    if (forced != Unknown)
        return forced;
    return std::min({SystemAvailable(), CgroupAvailable(), AddressSpaceAvailable()});
}

void SetAvailableMemoryForTest(std::optional<uint64_t> Bytes)
{
    Override.store(Bytes.value_or(Unknown));
}

} // namespace platform
