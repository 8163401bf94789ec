#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>

// Decimal text with FormatSettings.ThousandSeparator between groups of
// three digits ("1 234 567" with the separator the programs set).
std::string IntToStrGrouped(int64_t Value);

// A set of 8-bit characters.
using TCharSet = std::bitset<256>;
TCharSet CharSetOf(std::string_view Chars);
inline bool InCharSet(char C, const TCharSet& Chars) { return Chars.test(static_cast<unsigned char>(C)); }

// The leading characters of Text up to, not including, the first one in
// Chars; all of Text when none is.
std::string CopyUpToChars(const std::string& Text, const TCharSet& Chars);

// Text as it may reach a terminal or a log: control characters other than
// a tab (an escape that would turn the terminal red, say) become \xHH.
std::string VisibleText(std::string_view Text);

// 'a' to 'z' become 'A' to 'Z'; every other byte stays, whatever the locale.
void UpperCaseAscii(std::string& Text);
