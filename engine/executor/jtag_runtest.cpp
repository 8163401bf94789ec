// The RUNTEST policy shared by the cable kinds, and the progress notes.
#include "executor/jtag_runtest.h"
#include "executor/jtag_druvel_runtest.h"
#include "executor/jtag_mirrow_runtest.h"
#include "executor/jtag_varnel_runtest.h"

#include <algorithm>
#include <cmath>

#include "base/StrUtilsEx.h"
#include "base/sysutils.h"
#include "ticks.h"

namespace {

constexpr int64_t LongDelayUs = 5000000;
constexpr uint32_t ProgressEveryMs = 5000;
constexpr uint32_t RecalculateFromCount = 1000;

} // namespace

uint64_t MulDivFloor(uint64_t A, uint64_t B, uint64_t C)
{
    const unsigned __int128 product = static_cast<unsigned __int128>(A) * B;
    const unsigned __int128 quotient = product / C;
    return quotient > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(quotient);
}

uint64_t CyclesCovering(uint64_t Cycles, uint64_t Microseconds, uint64_t PeriodNum, uint64_t PeriodDen)
{
    // ceil(t / period) = ceil(t * Den / Num)
    const unsigned __int128 needed =
        (static_cast<unsigned __int128>(Microseconds) * PeriodDen + PeriodNum - 1) / PeriodNum;
    return needed > Cycles ? static_cast<uint64_t>(std::min<unsigned __int128>(needed, UINT64_MAX)) : Cycles;
}

std::string MicrosecondsText(uint64_t Microseconds)
{
    return IntToStrGrouped(static_cast<int64_t>(Microseconds)) + " " + MicroSign + "s";
}

uint64_t SecurityAdjusted(int32_t SecurityTime, uint64_t Microseconds)
{
    if (SecurityTime <= 0)
        return Microseconds;
    const long double factor = (static_cast<long double>(SecurityTime) + 100) / 100;
    const long double adjusted = std::nearbyint(static_cast<long double>(Microseconds) * factor);
    return adjusted >= static_cast<long double>(MaxRuntestUs) ? std::max(MaxRuntestUs, Microseconds)
                                                               : static_cast<uint64_t>(adjusted);
}

TRuntestClock RuntestTimeClock(const TJtagExecuter& Executer, const TRuntestRules& Rules)
{
    const int32_t inForce = Executer.CurrentFrequency;
    switch (Executer.DefFreqRuntestTime) {
    case 0:
        return TRuntestClock::Stopped;
    case 1:
        return inForce >= Rules.LowClockMinHz ? TRuntestClock::Low : TRuntestClock::InForce;
    case 2:
        return inForce >= Rules.OneMhzClockMinHz ? TRuntestClock::OneMhz : TRuntestClock::InForce;
    case 3:
        return TRuntestClock::Design;
    default:
        return TRuntestClock::InForce;
    }
}

TRuntestClock RuntestCountClock(const TJtagExecuter& Executer, const TRuntestRules& Rules)
{
    switch (Executer.DefFreqRuntestPuls) {
    case 2:
        return Executer.CurrentFrequency >= Rules.CountOneMhzMinHz ? TRuntestClock::OneMhz : TRuntestClock::InForce;
    case 3:
        return TRuntestClock::Design;
    case 4:
        return TRuntestClock::InForce;
    default:
        if (Rules.UndefinedCountClockRaises)
            throw Exception("DefFreqRuntestPuls not defined");
        return TRuntestClock::InForce;
    }
}

std::string RuntestRefusal(const TJtagExecuter& Executer, int32_t Kind, bool ByTime, uint32_t Count)
{
    const TRuntestRules* rules = Kind == CableKindVarnel   ? &VarnelRuntestRules
                                 : Kind == CableKindMirrow ? &MirrowRuntestRules
                                 : Kind == CableKindDruvel ? &DruvelRuntestRules
                                                           : nullptr;
    if (!rules)
        return "";
    if (!ByTime && !RuntestCountAsTime(Executer, Count)) {
        try {
            RuntestCountClock(Executer, *rules);
        } catch (const Exception& e) {
            return e.Message();
        }
        return "";
    }
    if (rules->StoppedClockRefusal && RuntestTimeClock(Executer, *rules) == TRuntestClock::Stopped)
        return rules->StoppedClockRefusal;
    return "";
}

int32_t RuntestDesignHz(const TJtagExecuter& Executer)
{
    if (Executer.DesignFrequency > 0)
        return Executer.DesignFrequency;
    if (Executer.CurrentFrequency > 0)
        return Executer.CurrentFrequency;
    return 1;
}

std::optional<uint64_t> RuntestCountAsTime(const TJtagExecuter& Executer, uint32_t Count)
{
    if (Executer.RuntestRecalculateOnly1000TCK && Count < RecalculateFromCount)
        return std::nullopt;
    switch (Executer.RuntestRecalculate) {
    case 1:
        return uint64_t{Count} * 1000000 / static_cast<uint64_t>(RuntestDesignHz(Executer)) + 1;
    case 2:
        return uint64_t{Count};
    default:
        return std::nullopt;
    }
}

TRuntestProgress::TRuntestProgress(const TJtagMessageEvent& Progress) : FProgress(Progress)
{
    if (FProgress)
        FStart = FMark = platform::GetTickCount();
}

void TRuntestProgress::Step(int64_t Done, int64_t Total)
{
    if (!FProgress)
        return;
    if (platform::GetTickCount() - FMark > ProgressEveryMs) {
        // From the mark, not from now: a queue that stalled catches up with
        // one note per step.
        FMark += ProgressEveryMs;
        ReportProgress(FStart, Done, Total, FProgress);
    }
}

uint64_t ShiftBitNs(const TJtagExecuter& Executer)
{
    return 1000000000 / static_cast<uint64_t>(std::max(Executer.CurrentFrequency, 1));
}

void ReportProgress(uint32_t StartTick, int64_t Done, int64_t Total, const TJtagMessageEvent& Progress)
{
    if (!Progress)
        return;
    const uint32_t elapsed = platform::GetTickCount() - StartTick;
    // The last native step of four cycles may pass the total.
    Done = std::min(Done, Total);
    int64_t seconds = 0;
    if (Done > 0 && Total > 0) {
        const __int128 estimate = static_cast<__int128>(elapsed) * (Total - Done) / Done / 1000;
        seconds = estimate > INT64_MAX ? INT64_MAX : static_cast<int64_t>(estimate);
    }
    const int64_t percent = Total > 0 ? static_cast<int64_t>(static_cast<__int128>(Done) * 100 / Total) : 0;
    Progress("...done yet " + std::to_string(percent) + "%, estimated remaining " + std::to_string(seconds) + " sec",
             MessageKind::Info);
}

bool PlayRuntestTime(TJtagExecuter& Executer, const TRuntestRules& Rules, TRuntestBytes& Bytes,
                     uint64_t Microseconds, bool HoldTms, const TJtagMessageEvent& Progress)
{
    uint64_t t = Microseconds;
    if (Executer.SecurityTime > 0) {
        const uint64_t adjusted = SecurityAdjusted(Executer.SecurityTime, t);
        if (Progress)
            Progress("Info: Runtest timing adjusted by " + std::to_string(Executer.SecurityTime) + "% from " +
                         MicrosecondsText(t) + " to " + MicrosecondsText(adjusted) + ".",
                     MessageKind::Info);
        t = adjusted;
    }
    if (Progress && t > static_cast<uint64_t>(LongDelayUs))
        Progress("Long delay: " + MicrosecondsText(t), MessageKind::Info);

    if (!Bytes.HoldTms(HoldTms))
        return false;
    TRuntestProgress progress(Progress);
    return Bytes.TimeWait(RuntestTimeClock(Executer, Rules), t, progress) && Bytes.RestoreClock();
}

bool PlayRuntestClocks(TJtagExecuter& Executer, const TRuntestRules& Rules, TRuntestBytes& Bytes, uint32_t Count,
                       bool HoldTms, const TJtagMessageEvent& Progress)
{
    if (const std::optional<uint64_t> t = RuntestCountAsTime(Executer, Count)) {
        if (Progress)
            Progress("Runtest recalculated from " + std::to_string(Count) + " TCK to " + std::to_string(*t) + " " +
                         MicroSign + "s",
                     MessageKind::Info);
        return PlayRuntestTime(Executer, Rules, Bytes, *t, HoldTms, Progress);
    }
    if (!Bytes.HoldTms(HoldTms))
        return false;
    TRuntestProgress progress(Progress);
    return Bytes.CountWait(RuntestCountClock(Executer, Rules), Count, progress) && Bytes.RestoreClock();
}
