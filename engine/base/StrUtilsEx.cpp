#include "base/StrUtilsEx.h"

#include <algorithm>

#include "base/sysutils.h"

std::string IntToStrGrouped(int64_t Value)
{
    if (Value == 0)
        return "0";
    // The magnitude is taken unsigned so that the most negative value has one.
    uint64_t magnitude = Value < 0 ? 0 - static_cast<uint64_t>(Value) : static_cast<uint64_t>(Value);
    const char separator = FormatSettings.ThousandSeparator;
    std::string reversed;
    int digits = 0;
    while (magnitude != 0) {
        if (digits > 0 && digits % 3 == 0)
            reversed.push_back(separator);
        reversed.push_back(static_cast<char>('0' + magnitude % 10));
        magnitude /= 10;
        ++digits;
    }
    if (Value < 0)
        reversed.push_back('-');
    std::reverse(reversed.begin(), reversed.end());
    return reversed;
}

TCharSet CharSetOf(std::string_view Chars)
{
    TCharSet set;
    for (const char c : Chars)
        set.set(static_cast<unsigned char>(c));
    return set;
}

std::string CopyUpToChars(const std::string& Text, const TCharSet& Chars)
{
    size_t n = 0;
    while (n < Text.size() && !InCharSet(Text[n], Chars))
        ++n;
    return Text.substr(0, n);
}

void UpperCaseAscii(std::string& Text)
{
    for (char& c : Text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 0x20);
}

std::string VisibleText(std::string_view Text)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(Text.size());
    for (const char ch : Text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\t') || c == 0x7F) {
            out += "\\x";
            out += Hex[c >> 4];
            out += Hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}
