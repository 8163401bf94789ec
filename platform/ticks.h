// Millisecond ticks (wrapping at 2^32) and sleep, with a seam so tests can
// drive time instead of waiting for it.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

uint32_t GetTickCount();
void Sleep(uint32_t Milliseconds);

// Replaces the clock for the whole process; empty functions restore the
// real one. Tests set this before any player thread starts.
void SetClockForTest(std::function<uint32_t()> Ticks, std::function<void(uint32_t)> SleepFn);

} // namespace platform
