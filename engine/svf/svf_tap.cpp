#include "svf/svf_tap.h"

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
