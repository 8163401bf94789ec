// The players' walk through the TAP controller: one step towards a target
// state, and the whole walk with its reset and pause re-entry rules.
#pragma once

#include <functional>
#include <string>

#include "base/jtagfile.h"

struct TTapStep {
    bool Tms;
    TapState Next;
};

// Current and Target are TAP states (codes 0..15); Current differs from
// Target and Target is not RESET (the walk to RESET is six TMS-1 clocks).
TTapStep TapWalkStep(TapState Current, TapState Target);

bool IsTapState(TapState State);

// To is one TCK from From (with TMS 0 or 1); both are TAP states.
bool IsTapStep(TapState From, TapState To);

enum class TTapWalkResult : uint8_t {
    Done,
    ClockFailed,    // Current is the last state reached
    ReentryFailed,  // leaving a pause to enter it again failed
    BadState,       // Current or Target is no TAP state; nothing clocked
};

// Walks Current to Target with one ClockTms call per clock, keeping Current
// equal to the chain's state after every clock. RESET is six TMS-1 clocks
// whatever Current says; a pause that is both Current and Target is left
// and entered again.
// A template, so that a player's clock is called straight, not through a
// function object of its own, at every TMS step.
template <typename TClock>
TTapWalkResult WalkTap(TapState& Current, TapState Target, const TClock& ClockTms)
{
    if (!IsTapState(Target) || !IsTapState(Current))
        return TTapWalkResult::BadState;
    if (Target == TapState::RESET) {
        for (int k = 0; k < 6; ++k)
            if (!ClockTms(true))
                return TTapWalkResult::ClockFailed;
        Current = TapState::RESET;
        return TTapWalkResult::Done;
    }
    if (Current == Target && (Target == TapState::DRPAUSE || Target == TapState::IRPAUSE)) {
        // Leave the pause and come back through the capture state.
        if (WalkTap(Current, TapState::DRSELECT, ClockTms) != TTapWalkResult::Done)
            return TTapWalkResult::ReentryFailed;
    }
    // Every walk of the table ends within eight clocks.
    for (int steps = 0; Current != Target; ++steps) {
        if (steps > 16)
            return TTapWalkResult::BadState;
        const TTapStep step = TapWalkStep(Current, Target);
        if (!ClockTms(step.Tms))
            return TTapWalkResult::ClockFailed;
        Current = step.Next;
    }
    return TTapWalkResult::Done;
}

// A player's GotoState: the walk clocked through File's OnTmsClock (TDI
// low; an empty event counts as done). False after a failed clock; a failed
// exit from a pause is also reported as "USB communication error". A state
// outside the sixteen is passed to Raise, which throws.
bool GotoTapState(const TJtagFile& File, TapState& Current, TapState Target,
                  const std::function<void(const std::string& Message)>& Raise);
