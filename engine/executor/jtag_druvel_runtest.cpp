// The Druvel's RUNTEST bytes: the TMS hold, the clock for the wait, the
// cycles with TDI 0, and the clock in force again afterwards. The cable
// has no wait of its own: a time is always clocked out.
#include <algorithm>

#include "base/sysutils.h"
#include "executor/jtag_druvel_runtest.h"

namespace {

constexpr int32_t LowClockDivisor = 59;   // 100 kHz
constexpr int32_t OneMhzClockDivisor = 5; // 1 MHz

// A * B / C rounded, ties to even, at most UINT64_MAX - 1; C > 0.
uint64_t RoundedMulDiv(uint64_t A, uint64_t B, uint64_t C)
{
    const unsigned __int128 product = static_cast<unsigned __int128>(A) * B;
    unsigned __int128 q = product / C;
    const unsigned __int128 twice = 2 * (product % C);
    if (twice > C || (twice == C && (q & 1)))
        ++q;
    return static_cast<uint64_t>(std::min<unsigned __int128>(q, UINT64_MAX - 1));
}

class TDruvelRuntest final : public TRuntestBytes {
public:
    explicit TDruvelRuntest(TJtagExecuter& Executer) : E(Executer) {}

    bool HoldTms(bool Tms) override { return E.DruvelPutPins(false, Tms); }

    bool TimeWait(TRuntestClock Clock, uint64_t t, TRuntestProgress&) override
    {
        switch (Clock) {
        case TRuntestClock::Stopped:
            throw Exception(DruvelRuntestRules.StoppedClockRefusal);
        case TRuntestClock::Low:
            return E.DruvelPutDivisor(LowClockDivisor) && Cycles(RoundedMulDiv(t, 1, 10) + 1, t, LowClockDivisor);
        case TRuntestClock::OneMhz:
            return E.DruvelPutDivisor(OneMhzClockDivisor) && Cycles(t, t, OneMhzClockDivisor);
        case TRuntestClock::Design: {
            const int32_t d = DruvelDivisorFor(RuntestDesignHz(E));
            return E.DruvelPutDivisor(d) && Cycles(NominalCycles(t, d), t, d);
        }
        case TRuntestClock::InForce:
        default: {
            const int32_t d = InForce();
            return Cycles(NominalCycles(t, d), t, d);
        }
        }
    }

    bool CountWait(TRuntestClock Clock, uint64_t Count, TRuntestProgress&) override
    {
        switch (Clock) {
        case TRuntestClock::OneMhz:
            return E.DruvelPutDivisor(OneMhzClockDivisor) && E.DruvelPutCycles(Count, true);
        case TRuntestClock::Design:
            return E.DruvelPutDivisor(DruvelDivisorFor(RuntestDesignHz(E))) && E.DruvelPutCycles(Count, true);
        case TRuntestClock::InForce:
        default:
            return E.DruvelPutDivisor(InForce()) && E.DruvelPutCycles(Count, true);
        }
    }

    bool RestoreClock() override { return E.DruvelPutDivisor(InForce()); }

private:
    int32_t InForce() const { return DruvelDivisorFor(E.CurrentFrequency); }

    // t / 10^6 * (6 MHz div (d + 1)) rounded, + 1.
    static uint64_t NominalCycles(uint64_t t, int32_t d)
    {
        return RoundedMulDiv(t, static_cast<uint64_t>(DruvelHzOf(d)), 1000000) + 1;
    }

    // Cycles, raised where the nominal frequency lies below the real one
    // (6 MHz / (d + 1), not truncated) so that the wait still lasts t.
    bool Cycles(uint64_t Cycles, uint64_t t, int32_t d)
    {
        return E.DruvelPutCycles(CyclesCovering(Cycles, t, static_cast<uint64_t>(d) + 1, 6), true);
    }

    TJtagExecuter& E;
};

} // namespace

bool TJtagExecuter::DruvelRuntestTime(bool, uint32_t Microseconds, bool HoldTms, const TJtagMessageEvent& Progress)
{
    TDruvelRuntest bytes(*this);
    return PlayRuntestTime(*this, DruvelRuntestRules, bytes, Microseconds, HoldTms, Progress);
}

bool TJtagExecuter::DruvelRuntestClocks(bool, uint32_t Count, bool HoldTms, const TJtagMessageEvent& Progress)
{
    TDruvelRuntest bytes(*this);
    return PlayRuntestClocks(*this, DruvelRuntestRules, bytes, Count, HoldTms, Progress);
}
