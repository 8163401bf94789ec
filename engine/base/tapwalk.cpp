#include "base/tapwalk.h"

namespace {

bool InDrColumn(TapState s)
{
    return (0x01F8u >> static_cast<unsigned>(s)) & 1u; // DRCAPTURE..DRUPDATE
}

bool InIrColumn(TapState s)
{
    return (0xFC00u >> static_cast<unsigned>(s)) & 1u; // IRCAPTURE..IRUPDATE
}

} // namespace

bool IsTapStep(TapState From, TapState To)
{
    using S = TapState;
    // The state after TMS 0 and after TMS 1, for each state by its code.
    static constexpr S Next[16][2] = {
        {S::IDLE, S::RESET},         {S::IDLE, S::DRSELECT},     {S::DRCAPTURE, S::IRSELECT},
        {S::DRSHIFT, S::DREXIT1},    {S::DRSHIFT, S::DREXIT1},   {S::DRPAUSE, S::DRUPDATE},
        {S::DRPAUSE, S::DREXIT2},    {S::DRSHIFT, S::DRUPDATE},  {S::IDLE, S::DRSELECT},
        {S::IRCAPTURE, S::RESET},    {S::IRSHIFT, S::IREXIT1},   {S::IRSHIFT, S::IREXIT1},
        {S::IRPAUSE, S::IRUPDATE},   {S::IRPAUSE, S::IREXIT2},   {S::IRSHIFT, S::IRUPDATE},
        {S::IDLE, S::DRSELECT},
    };
    const auto f = static_cast<unsigned>(From);
    return f < 16 && (Next[f][0] == To || Next[f][1] == To);
}

TTapStep TapWalkStep(TapState Current, TapState Target)
{
    using S = TapState;
    switch (Current) {
    case S::RESET:
        return {false, S::IDLE};
    case S::IDLE:
        return {true, S::DRSELECT};
    case S::DRSELECT:
        return InDrColumn(Target) ? TTapStep{false, S::DRCAPTURE} : TTapStep{true, S::IRSELECT};
    case S::DRCAPTURE:
        return Target == S::DRSHIFT ? TTapStep{false, S::DRSHIFT} : TTapStep{true, S::DREXIT1};
    case S::DRSHIFT:
        return {true, S::DREXIT1};
    case S::DREXIT1:
        return Target == S::DRSHIFT || Target == S::DRPAUSE || Target == S::DREXIT2 ? TTapStep{false, S::DRPAUSE}
                                                                                   : TTapStep{true, S::DRUPDATE};
    case S::DRPAUSE:
        return {true, S::DREXIT2};
    case S::DREXIT2:
        return Target == S::DRSHIFT ? TTapStep{false, S::DRSHIFT} : TTapStep{true, S::DRUPDATE};
    case S::DRUPDATE:
        return Target == S::IDLE ? TTapStep{false, S::IDLE} : TTapStep{true, S::DRSELECT};
    case S::IRSELECT:
        return InIrColumn(Target) ? TTapStep{false, S::IRCAPTURE} : TTapStep{true, S::RESET};
    case S::IRCAPTURE:
        return Target == S::IRSHIFT ? TTapStep{false, S::IRSHIFT} : TTapStep{true, S::IREXIT1};
    case S::IRSHIFT:
        return {true, S::IREXIT1};
    case S::IREXIT1:
        return Target == S::IRSHIFT || Target == S::IRPAUSE || Target == S::IREXIT2 ? TTapStep{false, S::IRPAUSE}
                                                                                   : TTapStep{true, S::IRUPDATE};
    case S::IRPAUSE:
        return {true, S::IREXIT2};
    case S::IREXIT2:
        return Target == S::IRSHIFT ? TTapStep{false, S::IRSHIFT} : TTapStep{true, S::IRUPDATE};
    case S::IRUPDATE:
        return Target == S::IDLE ? TTapStep{false, S::IDLE} : TTapStep{true, S::DRSELECT};
    }
    return {true, S::RESET};
}

bool IsTapState(TapState State)
{
    return static_cast<uint8_t>(State) <= static_cast<uint8_t>(TapState::IRUPDATE);
}

bool GotoTapState(const TJtagFile& File, TapState& Current, TapState Target,
                  const std::function<void(const std::string& Message)>& Raise)
{
    const auto clock = [&File](bool Tms) { return !File.OnTmsClock || File.OnTmsClock(false, Tms); };
    switch (WalkTap(Current, Target, clock)) {
    case TTapWalkResult::Done:
        return true;
    case TTapWalkResult::ClockFailed:
        return false;
    case TTapWalkResult::ReentryFailed:
        if (File.OnMessage)
            File.OnMessage("USB communication error", MessageKind::Error);
        return false;
    case TTapWalkResult::BadState:
        break;
    }
    Raise("Unhandled TAP State change");
    return false;
}
