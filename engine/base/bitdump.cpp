#include "base/bitdump.h"

namespace {

void AppendGrouped(std::string& Line, int& Group, char c)
{
    Line.push_back(c);
    if (++Group == 4) {
        Line.push_back(' ');
        Group = 0;
    }
}

} // namespace

void AppendExpectedBits(std::string& Line, int& Group, const TVarLen& Mask, const TVarLen& Expected)
{
    for (int32_t i = 0; i < Mask.BitLength(); ++i)
        AppendGrouped(Line, Group,
                      !Mask.GetBit(i) || Expected.BitLength() == 0 ? 'x' : (Expected.GetBit(i) ? '1' : '0'));
}

void AppendReadBits(std::string& Line, int& Group, const TVarLen& Mask, const uint8_t* Read)
{
    for (int32_t i = 0; i < Mask.BitLength(); ++i)
        AppendGrouped(Line, Group, !Mask.GetBit(i) || Read == nullptr ? 'x' : (Read[i] != 0 ? '1' : '0'));
}
