// The Druvel's clock arithmetic, shared by its routines and its RUNTEST
// bytes: TCK is the 6 MHz base divided by (divisor + 1).
#pragma once

#include <cstdint>

#include "executor/jtag_runtest.h"

constexpr int32_t DruvelBaseHz = 6000000;
constexpr int32_t DruvelMaxDivisor = 65000;

// Thresholds of the 100 kHz and the 1 MHz clock; an undefined count clock
// raises.
extern const TRuntestRules DruvelRuntestRules;

// The divisor for Hz, truncated (the clock can lie above Hz): 6 MHz div Hz
// - 1, at least 0 and at most 65 000. Hz > 0.
int32_t DruvelDivisorFor(int64_t Hz);
// The clock a divisor gives, truncated to whole Hz.
int32_t DruvelHzOf(int32_t Divisor);
