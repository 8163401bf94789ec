// The bit dumps of a mismatch report: one character a bit, bit 0 first,
// "1" or "0" where compared and "x" elsewhere, a blank after every fourth
// character of the line (Group counts them across the parts of one line).
#pragma once

#include <cstdint>
#include <string>

#include "base/varlenu.h"

// The expected bits under Mask; all "x" when Expected is empty.
void AppendExpectedBits(std::string& Line, int& Group, const TVarLen& Mask, const TVarLen& Expected);
// The bits read (one byte a bit, zero or not) under Mask; all "x" when
// Read is null.
void AppendReadBits(std::string& Line, int& Group, const TVarLen& Mask, const uint8_t* Read);
