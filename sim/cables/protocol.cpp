#include "cables/protocol.h"

#include <algorithm>

namespace sim {

size_t Protocol::Read(uint8_t* Buffer, size_t Count)
{
    const size_t n = std::min(Count, Available());
    for (size_t i = 0; i < n; ++i) {
        Buffer[i] = Rx.front();
        Rx.pop_front();
    }
    return n;
}

} // namespace sim
