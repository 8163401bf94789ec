#include "base/varlenu.h"

#include <algorithm>
#include <string>

#include "base/sysutils.h"

TVarLen TVarLen::CreateSized(int32_t Bits)
{
    TVarLen v;
    v.SetBitLength(Bits);
    return v;
}

TVarLen TVarLen::CreateCopy(const TVarLen& Source)
{
    TVarLen v;
    v.SetBitLength(Source.BitLength());
    for (int32_t i = 0; i < v.ByteLength(); ++i)
        v.SetByte(i, Source.GetByte(i));
    return v;
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
