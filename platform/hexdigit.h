#pragma once

#include <cstdint>
#include <string_view>

// The value of one hexadecimal digit, either case; -1 for any other
// character. Independent of the C library's locale.
inline int HexDigitValue(char C)
{
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    if (C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    return -1;
}

// Hexadecimal digits, at least one and nothing else, as a value of at most
// MaxValue (leading zeros are fine: the limit is the value's).
inline bool HexDigitsToUInt(std::string_view Digits, uint64_t MaxValue, uint64_t& Value)
{
    if (Digits.empty())
        return false;
    uint64_t v = 0;
    for (const char c : Digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || v > MaxValue >> 4)
            return false;
        v = v << 4 | static_cast<uint64_t>(digit);
        if (v > MaxValue)
            return false;
    }
    Value = v;
    return true;
}
