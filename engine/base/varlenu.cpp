#include "base/varlenu.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/sysutils.h"

namespace {

// Each byte value as eight bytes of 0 or 1, bit 0 first.
struct TExpandTable {
    uint8_t Bytes[256][8];
    TExpandTable()
    {
        for (int v = 0; v < 256; ++v)
            for (int b = 0; b < 8; ++b)
                Bytes[v][b] = static_cast<uint8_t>(v >> b & 1);
    }
};
const TExpandTable Expand;

} // namespace

TVarLen TVarLen::CreateSized(int32_t Bits)
{
    TVarLen v;
    v.SetBitLength(Bits);
    return v;
}

TVarLen TVarLen::LengthOnly(int32_t Bits)
{
    TVarLen v;
    v.FBitLength = std::max(Bits, 0);
    return v;
}

TVarLen TVarLen::CreateCopy(const TVarLen& Source)
{
    return Source;
}

void TVarLen::SetBitLength(int32_t Bits)
{
    if (Bits < 0)
        throw Exception("Invalid bit length " + std::to_string(Bits));
    const size_t bytes = static_cast<size_t>(Bits / 8 + (Bits % 8 != 0 ? 1 : 0));
    FBytes.resize(bytes, 0);
    if (bytes == 0)
        FBytes.shrink_to_fit();
    FBitLength = Bits;
}

uint8_t TVarLen::GetByte(int32_t Index) const
{
    if (Index < 0 || Index >= ByteLength())
        return 0;
    return FBytes[static_cast<size_t>(Index)];
}

void TVarLen::SetByte(int32_t Index, uint8_t Value)
{
    if (Index < 0 || Index >= ByteLength())
        return;
    FBytes[static_cast<size_t>(Index)] = Value;
}

void TVarLen::FillOnes()
{
    std::fill(FBytes.begin(), FBytes.end(), uint8_t{0xFF});
}

void TVarLen::FillZeros()
{
    std::fill(FBytes.begin(), FBytes.end(), uint8_t{0x00});
}

void TVarLen::BitsToBytes(uint8_t* Out, int32_t Count) const
{
    Count = std::clamp(Count, 0, FBitLength);
    const int32_t whole = std::min(Count / 8, ByteLength());
    for (int32_t i = 0; i < whole; ++i)
        std::memcpy(Out + 8 * i, Expand.Bytes[FBytes[static_cast<size_t>(i)]], 8);
    for (int32_t i = whole * 8; i < Count; ++i)
        Out[i] = GetByte(i / 8) >> (i % 8) & 1;
}

void TVarLen::DropBytes()
{
    FBytes = TBigBytes();
}
