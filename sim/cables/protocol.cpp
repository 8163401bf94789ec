#include "cables/protocol.h"

#include <algorithm>

namespace sim {

size_t Protocol::Read(uint8_t* Buffer, size_t Count)
{
    const size_t n = std::min(Count, Available());
    std::copy_n(Rx.begin(), n, Buffer);
    Rx.erase(Rx.begin(), Rx.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

} // namespace sim
