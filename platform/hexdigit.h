#pragma once

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
