// One step of the player's walk through the TAP controller towards a target
// state: the TMS value to clock and the state it leads to.
#pragma once

#include "base/jtagfile.h"

struct TTapStep {
    bool Tms;
    TapState Next;
};

// Current and Target are TAP states (codes 0..15); Current differs from
// Target and Target is not RESET (the walk to RESET is six TMS-1 clocks).
TTapStep TapWalkStep(TapState Current, TapState Target);
