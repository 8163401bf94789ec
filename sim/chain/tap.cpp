#include "chain/tap.h"

namespace sim {

namespace {

struct Edge {
    TapState Tms0;
    TapState Tms1;
};

using S = TapState;

// Indexed by the state's code.
constexpr Edge Edges[TapStateCount] = {
    {S::IDLE, S::RESET},         // RESET
    {S::IDLE, S::DRSELECT},      // IDLE
    {S::DRCAPTURE, S::IRSELECT}, // DRSELECT
    {S::DRSHIFT, S::DREXIT1},    // DRCAPTURE
    {S::DRSHIFT, S::DREXIT1},    // DRSHIFT
    {S::DRPAUSE, S::DRUPDATE},   // DREXIT1
    {S::DRPAUSE, S::DREXIT2},    // DRPAUSE
    {S::DRSHIFT, S::DRUPDATE},   // DREXIT2
    {S::IDLE, S::DRSELECT},      // DRUPDATE
    {S::IRCAPTURE, S::RESET},    // IRSELECT
    {S::IRSHIFT, S::IREXIT1},    // IRCAPTURE
    {S::IRSHIFT, S::IREXIT1},    // IRSHIFT
    {S::IRPAUSE, S::IRUPDATE},   // IREXIT1
    {S::IRPAUSE, S::IREXIT2},    // IRPAUSE
    {S::IRSHIFT, S::IRUPDATE},   // IREXIT2
    {S::IDLE, S::DRSELECT},      // IRUPDATE
};

constexpr const char* Names[TapStateCount] = {
    "RESET", "IDLE", "DRSELECT", "DRCAPTURE", "DRSHIFT", "DREXIT1", "DRPAUSE", "DREXIT2", "DRUPDATE",
    "IRSELECT", "IRCAPTURE", "IRSHIFT", "IREXIT1", "IRPAUSE", "IREXIT2", "IRUPDATE"};

} // namespace

TapState NextTapState(TapState State, bool Tms)
{
    const Edge& e = Edges[static_cast<int>(State) & 15];
    return Tms ? e.Tms1 : e.Tms0;
}

const char* TapStateName(TapState State)
{
    return Names[static_cast<int>(State) & 15];
}

bool IsStableTapState(TapState State)
{
    return State == TapState::RESET || State == TapState::IDLE || State == TapState::DRPAUSE ||
           State == TapState::IRPAUSE;
}

bool IsShiftTapState(TapState State)
{
    return State == TapState::DRSHIFT || State == TapState::IRSHIFT;
}

TapState Tap::Clock(bool Tms)
{
    FState = NextTapState(FState, Tms);
    return FState;
}

} // namespace sim
