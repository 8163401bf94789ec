// The compare of a read-back, eight bits at a time: the players' hot loop
// for a long scan.
#pragma once

#include <cstdint>

#include "base/varlenu.h"

// The first of Count bits whose Capture entry is set and whose Read entry
// (zero for 0, anything else for 1) differs from Expected's bit; -1 when
// none does. Capture and Read hold one byte a bit.
int32_t FirstMismatch(const TVarLen& Expected, const uint8_t* Capture, const uint8_t* Read, int32_t Count);
