#pragma once

#include <cstdint>
#include <string>

// Decimal text with FormatSettings.ThousandSeparator between groups of
// three digits ("1 234 567" with the separator the programs set).
std::string IntToStrGrouped(int64_t Value);
