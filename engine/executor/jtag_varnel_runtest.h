// The Varnel's share of a RUNTEST: the clocks it waits at and the cycles a
// wait takes there (the bytes themselves are in jtag_varnel_runtest.cpp).
#pragma once

#include <cstdint>

#include "executor/jtag_runtest.h"

// Thresholds of the low (3 MHz / 36) and the 750 kHz clock.
extern const TRuntestRules VarnelRuntestRules;

// A clock for the cycles of a wait: a native clock, or repeated mode on the
// 3 MHz base with Repeat pin bytes per half period.
struct TVarnelWaitClock {
    uint8_t Byte;          // the byte that selects it
    int32_t Repeat;        // 0 native
    int64_t Hz;            // the frequency the cycles are counted from
    uint32_t PeriodThirds; // its real period, in thirds of a microsecond
};

// The clock nearest below Hz: 3 MHz, 1.5 MHz, 750 kHz native, else
// repeated mode with ceil(10^6 / Hz) repeats. Hz > 0.
TVarnelWaitClock VarnelLadderClock(int32_t Hz);
// The clock in force: ClockRepeat and CurrentFrequency.
TVarnelWaitClock VarnelClockInForce(const TJtagExecuter& Executer);
// Wait bytes of a device-timed wait: one per 512 periods of the 3 MHz
// base, plus one.
uint64_t VarnelWaitBytes(uint64_t Microseconds);
// t * f div 10^6 + 1 cycles, raised where the nominal f lies above the
// real clock (f = round(10^6 / r) in repeated mode) so the wait still
// lasts Microseconds.
uint64_t VarnelWaitCycles(const TVarnelWaitClock& Clock, uint64_t Microseconds);
