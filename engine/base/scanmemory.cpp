#include "base/scanmemory.h"

#include <algorithm>
#include <limits>

#include "meminfo.h"

namespace {

int64_t Megabytes(int64_t Bytes)
{
    return (Bytes + (1 << 20) - 1) >> 20;
}

} // namespace

bool ScanFitsInMemory(int64_t Bits)
{
    // Small scans cost nothing worth asking the system about.
    if (Bits < (1 << 20))
        return true;
    return static_cast<uint64_t>(Bits * BytesPerScanBit) <= platform::AvailableMemory();
}

std::string ScanMemoryText(int64_t Bits)
{
    const int64_t need = Bits * BytesPerScanBit;
    const uint64_t available = platform::AvailableMemory();
    const auto room = static_cast<int64_t>(std::min<uint64_t>(available, std::numeric_limits<int64_t>::max() >> 1));
    return "Scan of " + std::to_string(Bits) + " bits would need " + std::to_string(Megabytes(need)) +
           " MB of memory, " + std::to_string(Megabytes(room)) + " MB are available";
}
