// The Varnel's RUNTEST bytes: the TMS hold, the device-timed wait or the
// cycles at the clock chosen, and the clock in force again afterwards.
#include "executor/jtag_varnel_runtest.h"

#include <algorithm>
#include <cmath>

const TRuntestRules VarnelRuntestRules{93750, 750000, 750000, false, nullptr};

namespace {

constexpr uint8_t ClockByte3M = 0xA8;
constexpr uint8_t ClockByte1M5 = 0xA9;
constexpr uint8_t ClockByte750k = 0xAA;
constexpr uint8_t ClockByteLow = 0xAB;
constexpr uint8_t WaitByte = 0x80;
constexpr uint8_t TckHigh = 0xCE; // TDI 0
constexpr uint8_t TckLow = 0xCA;
constexpr uint8_t FourCycles = 0x30;
// A wait byte lasts 512 periods of the 3 MHz base.
constexpr uint64_t WaitByteNs = 170667;

constexpr TVarnelWaitClock Native3M{ClockByte3M, 0, 3000000, 1};
constexpr TVarnelWaitClock Native1M5{ClockByte1M5, 0, 1500000, 2};
constexpr TVarnelWaitClock Native750k{ClockByte750k, 0, 750000, 4};
constexpr TVarnelWaitClock NativeLow{ClockByteLow, 0, 83333, 36};

class TVarnelRuntest final : public TRuntestBytes {
public:
    explicit TVarnelRuntest(TJtagExecuter& Executer) : E(Executer) {}

    bool HoldTms(bool Tms) override
    {
        FPin = static_cast<uint8_t>(0xE8 | (Tms ? 4 : 0) | E.PinBits);
        return E.PutRepeated(FPin, int64_t{E.ClockRepeat} + 1);
    }

    bool TimeWait(TRuntestClock Clock, uint64_t t, TRuntestProgress& Progress) override
    {
        switch (Clock) {
        case TRuntestClock::Stopped: {
            const uint64_t bytes = VarnelWaitBytes(t);
            for (uint64_t i = 0; i < bytes; ++i) {
                if (!E.PutByte(WaitByte))
                    return false;
                Progress.Step(static_cast<int64_t>(i + 1), static_cast<int64_t>(bytes));
                if (!E.QueueDeviceTime(WaitByteNs))
                    return E.CutByStop;
            }
            return true;
        }
        case TRuntestClock::Low:
            return E.PutByte(FPin) && E.PutByte(ClockByteLow) &&
                   Cycles(CyclesCovering(3 * t / 36 + 1, t, NativeLow.PeriodThirds, 3), NativeLow, Progress);
        case TRuntestClock::OneMhz:
            return E.PutByte(FPin) && E.PutByte(ClockByte750k) &&
                   Cycles(CyclesCovering(t, t, Native750k.PeriodThirds, 3), Native750k, Progress);
        case TRuntestClock::Design: {
            const TVarnelWaitClock clock = VarnelLadderClock(RuntestDesignHz(E));
            return E.PutByte(clock.Byte) && Cycles(VarnelWaitCycles(clock, t), clock, Progress);
        }
        case TRuntestClock::InForce:
        default: {
            const TVarnelWaitClock clock = VarnelClockInForce(E);
            return Cycles(VarnelWaitCycles(clock, t), clock, Progress);
        }
        }
    }

    bool CountWait(TRuntestClock Clock, uint64_t Count, TRuntestProgress& Progress) override
    {
        switch (Clock) {
        case TRuntestClock::OneMhz:
            return E.PutByte(ClockByte750k) && Cycles(Count, Native750k, Progress);
        case TRuntestClock::Design: {
            const TVarnelWaitClock clock = VarnelLadderClock(RuntestDesignHz(E));
            return E.PutByte(clock.Byte) && Cycles(Count, clock, Progress);
        }
        default:
            return Cycles(Count, VarnelClockInForce(E), Progress);
        }
    }

    bool RestoreClock() override { return E.PutByte(VarnelClockInForce(E).Byte); }

private:
    // N cycles with TDI 0 and TMS as held: four to a shift byte natively,
    // else Repeat pin bytes TCK high, then Repeat TCK low.
    bool Cycles(uint64_t N, const TVarnelWaitClock& Clock, TRuntestProgress& Progress)
    {
        const int64_t total = static_cast<int64_t>(N);
        const uint64_t cycleNs = uint64_t{Clock.PeriodThirds} * 1000 / 3;
        if (Clock.Repeat <= 0) {
            for (uint64_t done = 0; done < N; done += 4) {
                const uint64_t left = N - done;
                if (!E.PutByte(left >= 4 ? FourCycles : static_cast<uint8_t>((left - 1) << 4)))
                    return false;
                Progress.Step(static_cast<int64_t>(done + 4), total);
                if (!E.QueueDeviceTime(4 * cycleNs))
                    return E.CutByStop;
            }
            return true;
        }
        for (uint64_t i = 0; i < N; ++i) {
            if (!E.PutRepeated(TckHigh, Clock.Repeat) || !E.PutRepeated(TckLow, Clock.Repeat))
                return false;
            Progress.Step(static_cast<int64_t>(i + 1), total);
            if (!E.QueueDeviceTime(cycleNs))
                return E.CutByStop;
        }
        return true;
    }

    TJtagExecuter& E;
    uint8_t FPin = 0xE8;
};

} // namespace

TVarnelWaitClock VarnelLadderClock(int32_t Hz)
{
    if (Hz >= Native3M.Hz)
        return Native3M;
    if (Hz >= Native1M5.Hz)
        return Native1M5;
    if (Hz >= Native750k.Hz)
        return Native750k;
    const int64_t hz = std::max<int64_t>(Hz, 1);
    const int64_t repeat = (1000000 + hz - 1) / hz;
    const int64_t f = static_cast<int64_t>(std::nearbyint(1000000.0 / static_cast<double>(repeat)));
    return {ClockByte3M, static_cast<int32_t>(repeat), f, static_cast<uint32_t>(3 * repeat)};
}

TVarnelWaitClock VarnelClockInForce(const TJtagExecuter& Executer)
{
    const int32_t c = Executer.CurrentFrequency;
    if (Executer.ClockRepeat > 0)
        return {ClockByte3M, Executer.ClockRepeat, c, static_cast<uint32_t>(3 * Executer.ClockRepeat)};
    if (c == Native1M5.Hz)
        return Native1M5;
    if (c == Native750k.Hz)
        return Native750k;
    // The native clock is 3 MHz whatever CurrentFrequency says.
    return {ClockByte3M, 0, c, Native3M.PeriodThirds};
}

uint64_t VarnelWaitBytes(uint64_t Microseconds)
{
    return (3 * Microseconds + 511) / 512 + 1;
}

uint64_t VarnelWaitCycles(const TVarnelWaitClock& Clock, uint64_t Microseconds)
{
    const uint64_t hz = static_cast<uint64_t>(std::max<int64_t>(Clock.Hz, 0));
    const uint64_t nominal = MulDivFloor(Microseconds, hz, 1000000) + 1;
    return CyclesCovering(nominal, Microseconds, Clock.PeriodThirds, 3);
}

bool TJtagExecuter::VarnelRuntestTime(bool, uint32_t Microseconds, bool HoldTms, const TJtagMessageEvent& Progress)
{
    TVarnelRuntest bytes(*this);
    return PlayRuntestTime(*this, VarnelRuntestRules, bytes, Microseconds, HoldTms, Progress);
}

bool TJtagExecuter::VarnelRuntestClocks(bool, uint32_t Count, bool HoldTms, const TJtagMessageEvent& Progress)
{
    TVarnelRuntest bytes(*this);
    return PlayRuntestClocks(*this, VarnelRuntestRules, bytes, Count, HoldTms, Progress);
}
