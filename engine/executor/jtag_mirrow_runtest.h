// The Mirrow's share of a RUNTEST: the clocks it waits at and the cycles a
// wait takes there (the bytes themselves are in jtag_mirrow_runtest.cpp).
#pragma once

#include <cstdint>

#include "executor/jtag_runtest.h"

// Thresholds of the 100 kHz and the 1 MHz clock; an undefined count clock
// raises.
extern const TRuntestRules MirrowRuntestRules;

// Cycles at table index Index for a wait of Microseconds: t / 10^6 * f
// rounded, + 1, raised where the table's rounded-down frequency lies below
// the real clock, so that the wait still lasts Microseconds.
uint64_t MirrowWaitCycles(int32_t Index, uint64_t Microseconds);
