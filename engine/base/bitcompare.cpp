#include "base/bitcompare.h"

#include <bit>
#include <cstring>

namespace {

// Eight entries (zero for 0, anything else for 1) as the bits of a byte.
uint8_t PackEight(const uint8_t* Entries)
{
    uint64_t v;
    std::memcpy(&v, Entries, 8);
    constexpr uint64_t Low7 = 0x7F7F7F7F7F7F7F7Full;
    const uint64_t nonzero = (((v & Low7) + Low7) | v) & ~Low7;
    return static_cast<uint8_t>(((nonzero >> 7) * 0x0102040810204080ull) >> 56);
}

} // namespace

int32_t FirstMismatch(const TVarLen& Expected, const uint8_t* Capture, const uint8_t* Read, int32_t Count)
{
    const int32_t whole = Count / 8;
    for (int32_t j = 0; j < whole; ++j) {
        const auto diff =
            static_cast<uint8_t>((PackEight(Read + 8 * j) ^ Expected.GetByte(j)) & PackEight(Capture + 8 * j));
        if (diff != 0)
            return 8 * j + std::countr_zero(diff);
    }
    for (int32_t i = whole * 8; i < Count; ++i)
        if (Capture[i] != 0 && (Read[i] != 0) != Expected.GetBit(i))
            return i;
    return -1;
}
