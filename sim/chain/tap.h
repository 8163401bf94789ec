// The sixteen-state TAP controller of one device, as IEEE 1149.1 draws it.
// It moves on a rising TCK edge by the TMS level sampled there; the actions
// of the states (capture, shift, update) belong to the device around it.
#pragma once

#include <cstdint>

namespace sim {

// Codes and names as SVF uses them, so a trace reads like the file.
enum class TapState : uint8_t {
    RESET = 0, IDLE, DRSELECT, DRCAPTURE, DRSHIFT, DREXIT1, DRPAUSE, DREXIT2, DRUPDATE,
    IRSELECT, IRCAPTURE, IRSHIFT, IREXIT1, IRPAUSE, IREXIT2, IRUPDATE
};

constexpr int TapStateCount = 16;

TapState NextTapState(TapState State, bool Tms);
const char* TapStateName(TapState State);
// The states a TAP can rest in: Test-Logic-Reset, Run-Test/Idle, the pauses.
bool IsStableTapState(TapState State);
bool IsShiftTapState(TapState State);

class Tap {
public:
    TapState State() const { return FState; }
    // A rising TCK edge with TMS at Tms.
    TapState Clock(bool Tms);
    // Power-on or TRST: Test-Logic-Reset at once, without a clock.
    void Reset() { FState = TapState::RESET; }

private:
    TapState FState = TapState::RESET;
};

} // namespace sim
