// The Mirrow's RUNTEST bytes: the TMS hold, the device-timed wait or the
// cycles at the clock chosen, and the clock in force again afterwards.
#include "executor/jtag_mirrow_runtest.h"

#include <algorithm>
#include <cmath>

#include "executor/jtag_mirrow.h"

const TRuntestRules MirrowRuntestRules{100000, 1000000, 0, true, nullptr};

namespace {

constexpr int32_t LowIndex = 24;    // 100 kHz
constexpr int32_t OneMhzIndex = 12; // 1 MHz
// Beyond this many microseconds the nanoseconds would leave 64 bits.
constexpr uint64_t MaxWaitUs = INT64_MAX / 1000;

int32_t ValidIndex(int32_t Index)
{
    return std::clamp(Index, MirrowFreqIndexFirst, MirrowFreqIndexLast);
}

class TMirrowRuntest final : public TRuntestBytes {
public:
    explicit TMirrowRuntest(TJtagExecuter& Executer) : E(Executer) {}

    bool HoldTms(bool Tms) override
    {
        return E.PutByte(MirrowPinCommand) && E.PutByte(static_cast<uint8_t>(MirrowTmsPin | (Tms ? 4 : 0)));
    }

    bool TimeWait(TRuntestClock Clock, uint64_t t, TRuntestProgress&) override
    {
        int32_t index = 0;
        switch (Clock) {
        case TRuntestClock::Stopped:
            return E.MirrowWait(static_cast<int64_t>(std::min(t, MaxWaitUs) * 1000), true);
        case TRuntestClock::Low:
            index = LowIndex;
            break;
        case TRuntestClock::OneMhz:
            // One cycle a microsecond, exactly.
            return SetClock(OneMhzIndex) && Cycles(t, false, OneMhzIndex);
        case TRuntestClock::Design:
            index = MirrowFreqIndexFor(RuntestDesignHz(E));
            break;
        case TRuntestClock::InForce:
        default:
            return Cycles(MirrowWaitCycles(InForceIndex(), t), false, InForceIndex());
        }
        return SetClock(index) && Cycles(MirrowWaitCycles(index, t), false, index);
    }

    bool CountWait(TRuntestClock Clock, uint64_t Count, TRuntestProgress&) override
    {
        int32_t index = 0;
        switch (Clock) {
        case TRuntestClock::OneMhz:
            index = OneMhzIndex;
            break;
        case TRuntestClock::Design:
            index = MirrowFreqIndexFor(RuntestDesignHz(E));
            break;
        default:
            index = MirrowFreqIndexFor(E.CurrentFrequency);
            break;
        }
        return SetClock(index) && Cycles(Count, true, index);
    }

    bool RestoreClock() override { return SetClock(InForceIndex()); }

private:
    int32_t InForceIndex() const { return ValidIndex(E.MirrowFreqIndex); }

    bool SetClock(int32_t Index)
    {
        return E.PutByte(MirrowClockCommand) && E.PutByte(static_cast<uint8_t>(0x80 | ValidIndex(Index)));
    }

    // N cycles with TDI 0 and TMS as held, as an uncaptured shift: a
    // header for N mod 7 (7 when that is 0), then data bytes of that many
    // and then of 7 cycles. A count wait sends its header also for none.
    // Index: the clock they run at.
    bool Cycles(uint64_t N, bool HeaderAlways, int32_t Index)
    {
        if (N == 0 && !HeaderAlways)
            return true;
        const uint64_t k = N % 7 == 0 ? 7 : N % 7;
        if (!E.PutByte(static_cast<uint8_t>(MirrowShiftCommand | (k - 1))))
            return false;
        if (N == 0)
            return true;
        // A period is Divisor / 30 microseconds.
        const uint64_t byteNs = 7 * static_cast<uint64_t>(MirrowDivisor[ValidIndex(Index)]) * 100 / 3;
        const uint64_t bytes = 1 + (N - k) / 7;
        for (uint64_t i = 0; i < bytes; ++i) {
            if (!E.PutByte(MirrowDataByte))
                return false;
            if (!E.QueueDeviceTime(byteNs))
                return E.CutByStop;
        }
        return true;
    }

    TJtagExecuter& E;
};

} // namespace

uint64_t MirrowWaitCycles(int32_t Index, uint64_t Microseconds)
{
    const int32_t i = ValidIndex(Index);
    const long double nominal =
        std::nearbyint(static_cast<long double>(Microseconds) / 1000000.0L * MirrowFreqTable[i]) + 1;
    const uint64_t n = nominal >= 1.8e19L ? UINT64_MAX : static_cast<uint64_t>(nominal);
    // A period is Divisor / 30 microseconds.
    return CyclesCovering(n, Microseconds, static_cast<uint64_t>(MirrowDivisor[i]), 30);
}

bool TJtagExecuter::MirrowRuntestTime(bool, uint32_t Microseconds, bool HoldTms, const TJtagMessageEvent& Progress)
{
    TMirrowRuntest bytes(*this);
    return PlayRuntestTime(*this, MirrowRuntestRules, bytes, Microseconds, HoldTms, Progress);
}

bool TJtagExecuter::MirrowRuntestClocks(bool, uint32_t Count, bool HoldTms, const TJtagMessageEvent& Progress)
{
    TMirrowRuntest bytes(*this);
    return PlayRuntestClocks(*this, MirrowRuntestRules, bytes, Count, HoldTms, Progress);
}
