// The RUNTEST policy the cable kinds share (SecurityTime, recalculation,
// choice of clock, texts, progress notes) and the Varnel's bytes for it.
// Nothing here needs a device: the bytes stay queued.
#include <gmock/gmock.h>

#include <climits>

#include "executor_fixture.h"
#include "executor/jtag_runtest.h"
#include "executor/jtag_varnel_runtest.h"
#include "base/sysutils.h"

namespace {

using namespace exectest;
using testing::ElementsAre;
using testing::ElementsAreArray;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<TLogLine>;

// The separators the programs set, and 'u' for micro so texts read plainly.
class RuntestTest : public testing::Test {
protected:
    void SetUp() override
    {
        FormatSettings.ThousandSeparator = ' ';
        MicroSign = 'u';
    }
    void TearDown() override
    {
        FormatSettings = TFormatSettings();
        MicroSign = '\xB5';
    }

    TJtagMessageEvent Recorder()
    {
        return [this](const std::string& Text, MessageKind Kind) { Notes.push_back({Text, Kind}); };
    }
    static TLogLine Info(const std::string& Text) { return {Text, MessageKind::Info}; }

    Lines Notes;
};

// ---- the shared policy, seen through a kind that records what it is asked

class TRecordingBytes : public TRuntestBytes {
public:
    bool HoldTms(bool Tms) override
    {
        Calls.push_back(std::string("hold ") + (Tms ? "1" : "0"));
        return !FailHold;
    }
    bool TimeWait(TRuntestClock Clock, uint64_t Microseconds, TRuntestProgress&) override
    {
        Calls.push_back("time " + std::to_string(static_cast<int>(Clock)) + " " + std::to_string(Microseconds));
        return !FailWait;
    }
    bool CountWait(TRuntestClock Clock, uint64_t Count, TRuntestProgress&) override
    {
        Calls.push_back("count " + std::to_string(static_cast<int>(Clock)) + " " + std::to_string(Count));
        return !FailWait;
    }
    bool RestoreClock() override
    {
        Calls.push_back("restore");
        return true;
    }

    std::vector<std::string> Calls;
    bool FailHold = false;
    bool FailWait = false;
};

const TRuntestRules MirrowLikeRules{100000, 1000000, 0, true};

TEST_F(RuntestTest, SecurityTimeAddsItsPercentRoundedToEven)
{
    struct TCase {
        int32_t Percent;
        uint64_t Us;
        uint64_t Adjusted;
    };
    const TCase cases[] = {
        {10, 1000, 1100},
        {50, 3, 4},  // 4.5 to even
        {50, 5, 8},  // 7.5 to even
        {50, 1, 2},  // 1.5 to even
        {0, 1000, 1000},
        {-20, 1000, 1000},
        // Products in 64 bits: neither the time nor the percent wraps.
        {100, 4294967295u, 8589934590u},
        {INT32_MAX, 1000000, 21474837470000u},
        // A recalculated count at 1 Hz with the largest percent: held at
        // the largest wait instead of wrapping.
        {INT32_MAX, 4294967295000001u, MaxRuntestUs},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(SecurityAdjusted(c.Percent, c.Us), c.Adjusted) << c.Percent << "% of " << c.Us;
}

TEST_F(RuntestTest, TimeWaitTextsAndOrderOfSteps)
{
    struct TCase {
        const char* Why;
        int32_t Security;
        uint32_t Us;
        bool WithProgress;
        std::vector<std::string> Calls;
        Lines Notes;
    };
    const TCase cases[] = {
        {"plain", 0, 1000, true, {"hold 0", "time 0 1000", "restore"}, {}},
        {"adjusted", 10, 1000, true, {"hold 0", "time 0 1100", "restore"},
         {Info("Info: Runtest timing adjusted by 10% from 1 000 us to 1 100 us.")}},
        {"adjusted without Progress: the same wait, no text", 10, 1000, false,
         {"hold 0", "time 0 1100", "restore"}, {}},
        {"5 000 000 us is no long delay", 0, 5000000, true, {"hold 0", "time 0 5000000", "restore"}, {}},
        {"5 000 001 us is", 0, 5000001, true, {"hold 0", "time 0 5000001", "restore"},
         {Info("Long delay: 5 000 001 us")}},
        {"the adjusted time counts", 1, 4950496, true, {"hold 0", "time 0 5000001", "restore"},
         {Info("Info: Runtest timing adjusted by 1% from 4 950 496 us to 5 000 001 us."),
          Info("Long delay: 5 000 001 us")}},
        {"long delay without Progress: no text", 0, 9000000, false, {"hold 0", "time 0 9000000", "restore"}, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Notes.clear();
        TTestExecuter exec;
        exec.SecurityTime = c.Security;
        TRecordingBytes bytes;
        const TJtagMessageEvent progress = c.WithProgress ? Recorder() : TJtagMessageEvent{};
        EXPECT_TRUE(PlayRuntestTime(exec, VarnelRuntestRules, bytes, c.Us, false, progress));
        EXPECT_EQ(bytes.Calls, c.Calls);
        EXPECT_EQ(Notes, c.Notes);
        EXPECT_TRUE(exec.Log().empty()) << "the texts go to Progress, never to Message";
    }
}

TEST_F(RuntestTest, AFailedByteEndsTheWaitWithoutTheClosingStep)
{
    TTestExecuter exec;
    for (bool failHold : {true, false}) {
        TRecordingBytes bytes;
        bytes.FailHold = failHold;
        bytes.FailWait = !failHold;
        EXPECT_FALSE(PlayRuntestTime(exec, VarnelRuntestRules, bytes, 10, true, {}));
        EXPECT_FALSE(PlayRuntestClocks(exec, VarnelRuntestRules, bytes, 10, true, {}));
        for (const std::string& call : bytes.Calls)
            EXPECT_NE(call, "restore");
    }
}

TEST_F(RuntestTest, ChoiceOfTheTimeClock)
{
    using C = TRuntestClock;
    struct TCase {
        uint8_t Mode;
        int32_t InForce;
        C Varnel;
        C Mirrow; // and Druvel: 100 kHz and 1 MHz thresholds
    };
    const TCase cases[] = {
        {0, 3000000, C::Stopped, C::Stopped}, {0, 1, C::Stopped, C::Stopped},
        {1, 3000000, C::Low, C::Low},         {1, 100000, C::Low, C::Low},
        {1, 99999, C::Low, C::InForce},       {1, 93750, C::Low, C::InForce},
        {1, 93749, C::InForce, C::InForce},   {2, 1000000, C::OneMhz, C::OneMhz},
        {2, 999999, C::OneMhz, C::InForce},   {2, 750000, C::OneMhz, C::InForce},
        {2, 749999, C::InForce, C::InForce},  {3, 1, C::Design, C::Design},
        {4, 3000000, C::InForce, C::InForce}, {5, 3000000, C::InForce, C::InForce},
        {255, 3000000, C::InForce, C::InForce},
    };
    for (const TCase& c : cases) {
        TTestExecuter exec;
        exec.DefFreqRuntestTime = c.Mode;
        exec.CurrentFrequency = c.InForce;
        EXPECT_EQ(RuntestTimeClock(exec, VarnelRuntestRules), c.Varnel) << int{c.Mode} << " at " << c.InForce;
        EXPECT_EQ(RuntestTimeClock(exec, MirrowLikeRules), c.Mirrow) << int{c.Mode} << " at " << c.InForce;
    }
}

TEST_F(RuntestTest, ChoiceOfTheCountClock)
{
    using C = TRuntestClock;
    struct TCase {
        uint8_t Mode;
        int32_t InForce;
        C Varnel;
        std::optional<C> Mirrow; // none: raises
    };
    const TCase cases[] = {
        {2, 3000000, C::OneMhz, C::OneMhz}, {2, 750000, C::OneMhz, C::OneMhz},
        {2, 749999, C::InForce, C::OneMhz}, {3, 3000000, C::Design, C::Design},
        {4, 3000000, C::InForce, C::InForce}, {0, 3000000, C::InForce, std::nullopt},
        {1, 3000000, C::InForce, std::nullopt}, {5, 3000000, C::InForce, std::nullopt},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.Mode) + " at " + std::to_string(c.InForce));
        TTestExecuter exec;
        exec.DefFreqRuntestPuls = c.Mode;
        exec.CurrentFrequency = c.InForce;
        EXPECT_EQ(RuntestCountClock(exec, VarnelRuntestRules), c.Varnel);
        if (c.Mirrow) {
            EXPECT_EQ(RuntestCountClock(exec, MirrowLikeRules), *c.Mirrow);
        } else {
            try {
                RuntestCountClock(exec, MirrowLikeRules);
                ADD_FAILURE() << "no exception";
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message(), "DefFreqRuntestPuls not defined");
            }
        }
    }
}

TEST_F(RuntestTest, AnUndefinedCountClockRaisesAfterTheTmsHoldWhereTheKindSaysSo)
{
    TTestExecuter exec;
    exec.DefFreqRuntestPuls = 5;
    TRecordingBytes bytes;
    EXPECT_THROW(PlayRuntestClocks(exec, MirrowLikeRules, bytes, 10, true, Recorder()), Exception);
    EXPECT_EQ(bytes.Calls, std::vector<std::string>{"hold 1"});
    // The Varnel clocks at the clock in force instead.
    bytes.Calls.clear();
    EXPECT_TRUE(PlayRuntestClocks(exec, VarnelRuntestRules, bytes, 10, true, Recorder()));
    EXPECT_EQ(bytes.Calls, (std::vector<std::string>{"hold 1", "count 4 10", "restore"}));
}

TEST_F(RuntestTest, RecalculationOfACount)
{
    struct TCase {
        const char* Why;
        uint8_t Recalculate;
        bool Only1000;
        int32_t Design;
        int32_t InForce;
        uint32_t Count;
        std::vector<std::string> Calls;
        Lines Notes;
    };
    const TCase cases[] = {
        {"0: clocked as it is", 0, false, 1000000, 3000000, 1000, {"hold 0", "count 4 1000", "restore"}, {}},
        {"undefined acts as 0", 7, false, 1000000, 3000000, 1000, {"hold 0", "count 4 1000", "restore"}, {}},
        {"1: a time at the design frequency, plus one", 1, false, 1000000, 3000000, 1000,
         {"hold 0", "time 0 1001", "restore"}, {Info("Runtest recalculated from 1000 TCK to 1001 us")}},
        {"1: truncated", 1, false, 3000000, 3000000, 10, {"hold 0", "time 0 4", "restore"},
         {Info("Runtest recalculated from 10 TCK to 4 us")}},
        {"1 under 1000 with Only1000: clocked", 1, true, 1000000, 3000000, 999, {"hold 0", "count 4 999", "restore"},
         {}},
        {"1 at 1000 with Only1000: recalculated", 1, true, 1000000, 3000000, 1000,
         {"hold 0", "time 0 1001", "restore"}, {Info("Runtest recalculated from 1000 TCK to 1001 us")}},
        {"1 under 1000 without Only1000: recalculated", 1, false, 1000000, 3000000, 5,
         {"hold 0", "time 0 6", "restore"}, {Info("Runtest recalculated from 5 TCK to 6 us")}},
        {"2: the count in microseconds", 2, false, 1000000, 3000000, 2500, {"hold 0", "time 0 2500", "restore"},
         {Info("Runtest recalculated from 2500 TCK to 2500 us")}},
        {"2 under 1000 with Only1000: clocked", 2, true, 1000000, 3000000, 999, {"hold 0", "count 4 999", "restore"},
         {}},
        {"no design frequency: the one in force", 1, false, 0, 500000, 1000, {"hold 0", "time 0 2001", "restore"},
         {Info("Runtest recalculated from 1000 TCK to 2001 us")}},
        {"a negative one too", 1, false, -5, 500000, 1000, {"hold 0", "time 0 2001", "restore"},
         {Info("Runtest recalculated from 1000 TCK to 2001 us")}},
        {"the largest count at 1 kHz: 64 bits", 1, false, 1000, 3000000, 4294967295u,
         {"hold 0", "time 0 4294967295001", "restore"},
         {Info("Runtest recalculated from 4294967295 TCK to 4294967295001 us"),
          Info("Long delay: 4 294 967 295 001 us")}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Notes.clear();
        TTestExecuter exec;
        exec.DefFreqRuntestPuls = 4;
        exec.RuntestRecalculate = c.Recalculate;
        exec.RuntestRecalculateOnly1000TCK = c.Only1000;
        exec.DesignFrequency = c.Design;
        exec.CurrentFrequency = c.InForce;
        TRecordingBytes bytes;
        EXPECT_TRUE(PlayRuntestClocks(exec, VarnelRuntestRules, bytes, c.Count, false, Recorder()));
        EXPECT_EQ(bytes.Calls, c.Calls);
        EXPECT_EQ(Notes, c.Notes);
    }
}

TEST_F(RuntestTest, ARecalculatedCountIsAdjustedByTheSecurityTimeThen)
{
    TTestExecuter exec;
    exec.RuntestRecalculate = 2;
    exec.SecurityTime = 10;
    TRecordingBytes bytes;
    EXPECT_TRUE(PlayRuntestClocks(exec, VarnelRuntestRules, bytes, 2500, true, Recorder()));
    EXPECT_EQ(bytes.Calls, (std::vector<std::string>{"hold 1", "time 0 2750", "restore"}));
    EXPECT_THAT(Notes, ElementsAre(Info("Runtest recalculated from 2500 TCK to 2500 us"),
                                   Info("Info: Runtest timing adjusted by 10% from 2 500 us to 2 750 us.")));
}

TEST_F(RuntestTest, RecalculationWithNoFrequencyAtAllDividesByOne)
{
    TTestExecuter exec;
    exec.RuntestRecalculate = 1;
    EXPECT_EQ(RuntestCountAsTime(exec, 3), 3000001u);
    EXPECT_EQ(RuntestDesignHz(exec), 1);
}

// ---- progress notes

TEST_F(RuntestTest, ReportProgressEstimatesTheRemainingSeconds)
{
    struct TCase {
        uint32_t Start;
        uint32_t Now;
        int64_t Done, Total;
        const char* Text;
    };
    const TCase cases[] = {
        {1000, 11000, 250, 1000, "...done yet 25%, estimated remaining 30 sec"},
        {1000, 11000, 0, 1000, "...done yet 0%, estimated remaining 0 sec"},
        {1000, 11000, 1000, 1000, "...done yet 100%, estimated remaining 0 sec"},
        // The last step of four native cycles passes the total.
        {1000, 11000, 1003, 1001, "...done yet 100%, estimated remaining 0 sec"},
        // Where that shows: never past 100 %, never a negative estimate.
        {1000, 11000, 8, 5, "...done yet 100%, estimated remaining 0 sec"},
        // Ticks wrap at 2^32.
        {0xFFFFF000u, 5904, 1, 3, "...done yet 33%, estimated remaining 20 sec"},
        // Counts beyond 32 bits.
        {1000, 11000, 3000000000, 12000000000, "...done yet 25%, estimated remaining 30 sec"},
        // An estimate beyond 64 bits stops at the largest.
        {0, 4000000000u, 1, INT64_MAX / 2, "...done yet 0%, estimated remaining 9223372036854775807 sec"},
    };
    for (const TCase& c : cases) {
        Notes.clear();
        platform::SetClockForTest([&] { return c.Now; }, {});
        ReportProgress(c.Start, c.Done, c.Total, Recorder());
        platform::SetClockForTest({}, {});
        EXPECT_THAT(Notes, ElementsAre(Info(c.Text)));
    }
    ReportProgress(0, 1, 2, {}); // nowhere to report: nothing happens
}

// A clock that the test sets; every look is counted.
class TSetClock {
public:
    TSetClock()
    {
        platform::SetClockForTest(
            [this] {
                ++Looks;
                return Now;
            },
            {});
    }
    ~TSetClock() { platform::SetClockForTest({}, {}); }
    uint32_t Now = 0;
    int Looks = 0;
};

TEST_F(RuntestTest, ProgressNotesComeEveryFiveSecondsAndCatchUpAfterAStall)
{
    TSetClock clock;
    clock.Now = 100;
    const TJtagMessageEvent recorder = Recorder();
    TRuntestProgress progress(recorder);
    std::vector<int64_t> notedAt;
    const auto step = [&](int64_t Done) {
        const size_t before = Notes.size();
        progress.Step(Done, 100);
        if (Notes.size() > before)
            notedAt.push_back(Done);
    };
    clock.Now = 5100; // 5 s exactly: not yet
    step(1);
    clock.Now = 5101;
    step(2);
    step(3); // the mark moved on by 5 s
    clock.Now = 30101; // a stall of 25 s: one note per step until caught up
    for (int64_t done = 4; done <= 10; ++done)
        step(done);
    EXPECT_EQ(notedAt, (std::vector<int64_t>{2, 4, 5, 6, 7, 8}));
    EXPECT_EQ(Notes.front(), Info("...done yet 2%, estimated remaining 245 sec"));
}

TEST_F(RuntestTest, NoProgressAsksTheClockNothing)
{
    TSetClock clock;
    const TJtagMessageEvent none;
    TRuntestProgress progress(none);
    clock.Now = 100000;
    progress.Step(1, 2);
    EXPECT_EQ(clock.Looks, 0);
}

// ---- the Varnel's bytes

struct TVarnelCase {
    const char* Why;
    bool Count; // a TCK count, else a time
    uint32_t Value;
    uint8_t Mode; // DefFreqRuntestTime or DefFreqRuntestPuls
    int32_t InForce;
    int32_t Repeat;
    int32_t Design;
    bool HoldTms;
    uint8_t Pins;
    Bytes Queued;
};

Bytes operator+(Bytes A, const Bytes& B)
{
    A.insert(A.end(), B.begin(), B.end());
    return A;
}
Bytes Times(size_t N, uint8_t Byte)
{
    return Bytes(N, Byte);
}
// N cycles of repeated mode R.
Bytes RepeatedCycles(size_t N, size_t R)
{
    Bytes b;
    for (size_t i = 0; i < N; ++i)
        b = b + Times(R, 0xCE) + Times(R, 0xCA);
    return b;
}

class VarnelRuntest : public RuntestTest {
protected:
    // Exec set up as a Varnel with the clock state of the case.
    void Prepare(TTestExecuter& Exec, const TVarnelCase& C)
    {
        Exec.CurrentFrequency = C.InForce;
        Exec.ClockRepeat = C.Repeat;
        Exec.DesignFrequency = C.Design;
        Exec.PinBits = C.Pins;
        Exec.DefFreqRuntestTime = C.Mode;
        Exec.DefFreqRuntestPuls = C.Mode;
    }
    Bytes Run(const TVarnelCase& C)
    {
        TTestExecuter exec;
        Prepare(exec, C);
        const bool ok = C.Count ? exec.VarnelRuntestClocks(false, C.Value, C.HoldTms, Recorder())
                                : exec.VarnelRuntestTime(false, C.Value, C.HoldTms, Recorder());
        EXPECT_TRUE(ok);
        EXPECT_TRUE(exec.Log().empty());
        return exec.Queued();
    }
};

TEST_F(VarnelRuntest, BytesOfEachMode)
{
    const TVarnelCase cases[] = {
        // time waits
        {"mode 2 at 3 MHz, 10 us", false, 10, 2, 3000000, 0, 3000000, false, 2,
         {0xEA, 0xEA, 0xAA, 0x30, 0x30, 0x10, 0xA8}},
        {"mode 0, 1000 us: seven wait bytes", false, 1000, 0, 3000000, 0, 3000000, false, 2,
         Bytes{0xEA} + Times(7, 0x80) + Bytes{0xA8}},
        {"mode 0, 0 us: one wait byte", false, 0, 0, 3000000, 0, 3000000, false, 2, {0xEA, 0x80, 0xA8}},
        {"mode 0, TMS held high, pin released", false, 512, 0, 3000000, 0, 3000000, true, 0,
         Bytes{0xEC} + Times(4, 0x80) + Bytes{0xA8}},
        {"mode 0 in repeated mode: one hold byte per repeat and one more", false, 100, 0, 333333, 3, 400000, false,
         3, Bytes{0xEB, 0xEB, 0xEB, 0xEB} + Times(2, 0x80) + Bytes{0xA8}},
        {"mode 1 at 3 MHz: 3t div 36 + 1 cycles of the low clock", false, 100, 1, 3000000, 0, 3000000, false, 2,
         {0xEA, 0xEA, 0xAB, 0x30, 0x30, 0x00, 0xA8}},
        {"mode 1 in repeated mode at 1 MHz", false, 12, 1, 1000000, 1, 1000000, true, 2,
         {0xEE, 0xEE, 0xEE, 0xAB, 0x10, 0xA8}},
        {"mode 3, design 3 MHz: native, 3t + 1", false, 1, 3, 3000000, 0, 3000000, false, 2,
         {0xEA, 0xA8, 0x30, 0xA8}},
        {"mode 3, design 1.5 MHz", false, 3, 3, 1000000, 1, 1500000, false, 2,
         {0xEA, 0xEA, 0xA9, 0x30, 0x00, 0xA8}},
        {"mode 3, design 750 kHz", false, 6, 3, 1000000, 1, 750000, false, 2,
         {0xEA, 0xEA, 0xAA, 0x30, 0x00, 0xA8}},
        {"mode 3, design 200 kHz: five repeats", false, 10, 3, 3000000, 0, 200000, false, 2,
         Bytes{0xEA, 0xA8} + RepeatedCycles(3, 5) + Bytes{0xA8}},
        {"mode 3 with no design frequency: the one in force", false, 10, 3, 200000, 5, 0, false, 2,
         Times(6, 0xEA) + Bytes{0xA8} + RepeatedCycles(3, 5) + Bytes{0xA8}},
        {"mode 4 at 3 MHz", false, 2, 4, 3000000, 0, 5000000, false, 2, {0xEA, 0x30, 0x20, 0xA8}},
        {"mode 4 at 500 kHz: two repeats", false, 4, 4, 500000, 2, 500000, false, 2,
         Times(3, 0xEA) + RepeatedCycles(3, 2) + Bytes{0xA8}},
        {"above 4 acts as 4", false, 4, 9, 500000, 2, 500000, false, 2,
         Times(3, 0xEA) + RepeatedCycles(3, 2) + Bytes{0xA8}},
        {"closing step for a native 1.5 MHz in force", false, 2, 4, 1500000, 0, 1500000, false, 2,
         {0xEA, 0x30, 0xA9}},
        {"closing step for a native 750 kHz in force", false, 6, 4, 750000, 0, 750000, false, 2,
         {0xEA, 0x30, 0x00, 0xAA}},
        // count waits
        {"count, mode 2 at 3 MHz: the 750 kHz clock", true, 9, 2, 3000000, 0, 3000000, false, 2,
         {0xEA, 0xAA, 0x30, 0x30, 0x00, 0xA8}},
        {"count, mode 3: the design's clock", true, 2, 3, 3000000, 0, 250000, false, 2,
         Bytes{0xEA, 0xA8} + RepeatedCycles(2, 4) + Bytes{0xA8}},
        {"count, mode 4 native", true, 4, 4, 3000000, 0, 250000, false, 2, {0xEA, 0x30, 0xA8}},
        {"count, mode 4 repeated", true, 2, 4, 333333, 3, 400000, true, 2,
         Times(4, 0xEE) + RepeatedCycles(2, 3) + Bytes{0xA8}},
        {"count of none: the hold and the closing step", true, 0, 4, 3000000, 0, 3000000, false, 2, {0xEA, 0xA8}},
        {"an undefined count clock acts as 4", true, 5, 5, 3000000, 0, 250000, false, 2, {0xEA, 0x30, 0x00, 0xA8}},
        {"count mode 0 acts as 4", true, 5, 0, 3000000, 0, 250000, false, 2, {0xEA, 0x30, 0x00, 0xA8}},
    };
    for (const TVarnelCase& c : cases) {
        SCOPED_TRACE(c.Why);
        EXPECT_THAT(Run(c), ElementsAreArray(c.Queued));
    }
}

TEST_F(VarnelRuntest, BelowTheirThresholdsTheLowAnd1MhzClocksActAsTheClockInForce)
{
    struct TCase {
        const char* Why;
        bool Count;
        uint8_t Mode;
        int32_t InForce;
        int32_t Repeat;
        bool Falls; // behaves as mode 4
    };
    const TCase cases[] = {
        {"time mode 1 at 93 749 Hz", false, 1, 93749, 11, true},
        {"time mode 1 at 93 750 Hz", false, 1, 93750, 11, false},
        {"time mode 2 at 749 999 Hz", false, 2, 749999, 2, true},
        {"time mode 2 at 750 000 Hz", false, 2, 750000, 2, false},
        {"count mode 2 at 749 999 Hz", true, 2, 749999, 2, true},
        {"count mode 2 at 750 000 Hz", true, 2, 750000, 2, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        const TVarnelCase asked{"", c.Count, 300, c.Mode, c.InForce, c.Repeat, 3000000, false, 2, {}};
        TVarnelCase four = asked;
        four.Mode = 4;
        if (c.Falls)
            EXPECT_EQ(Run(asked), Run(four));
        else
            EXPECT_NE(Run(asked), Run(four));
    }
}

TEST_F(VarnelRuntest, RecalculatedCountsWaitAsTimes)
{
    // DesignFrequency 1 MHz, Count 1000: 1001 us, timed by the device.
    TTestExecuter exec;
    exec.CurrentFrequency = 3000000;
    exec.DesignFrequency = 1000000;
    exec.PinBits = 2;
    exec.DefFreqRuntestTime = 0;
    exec.RuntestRecalculate = 1;
    ASSERT_TRUE(exec.VarnelRuntestClocks(false, 1000, false, Recorder()));
    EXPECT_THAT(exec.Queued(), ElementsAreArray(Bytes{0xEA} + Times(7, 0x80) + Bytes{0xA8}));
    EXPECT_THAT(Notes, ElementsAre(Info("Runtest recalculated from 1000 TCK to 1001 us")));
    // With Only1000 a count of 999 is clocked: 249 bytes of four, one of three.
    exec.OutCount = 0;
    exec.RuntestRecalculateOnly1000TCK = true;
    exec.DefFreqRuntestPuls = 4;
    ASSERT_TRUE(exec.VarnelRuntestClocks(false, 999, false, Recorder()));
    EXPECT_THAT(exec.Queued(), ElementsAreArray(Bytes{0xEA} + Times(249, 0x30) + Bytes{0x20, 0xA8}));
}

TEST_F(VarnelRuntest, TheMicroSignIsTheProcessWideOne)
{
    MicroSign = '\xB5';
    TTestExecuter exec;
    exec.SecurityTime = 10;
    ASSERT_TRUE(exec.VarnelRuntestTime(false, 1000, false, Recorder()));
    EXPECT_THAT(Notes, ElementsAre(Info("Info: Runtest timing adjusted by 10% from 1 000 \xB5s to 1 100 \xB5s.")));
}

TEST_F(VarnelRuntest, AWaitThatCannotBeQueuedEndsWithoutTheClosingStep)
{
    // No driver: the first flush fails, with the buffer full of the wait.
    ASSERT_FALSE(FtLoaded());
    TTestExecuter exec;
    exec.CurrentFrequency = 3000000;
    exec.PinBits = 2;
    EXPECT_FALSE(exec.VarnelRuntestTime(false, 10000000, false, {}));
    EXPECT_EQ(exec.OutCount, OutBufferSize);
    EXPECT_EQ(exec.OutBuffer[OutBufferSize - 1], 0x80);
    exec.OutCount = 0;
    exec.DefFreqRuntestPuls = 4;
    EXPECT_FALSE(exec.VarnelRuntestClocks(false, 100000, false, {}));
    EXPECT_EQ(exec.OutBuffer[OutBufferSize - 1], 0x30);
}

TEST_F(VarnelRuntest, LongWaitsReportProgressToTheirProgressOnly)
{
    // 1 ms a look at the clock: about 11 700 wait bytes, two notes.
    TTestClock clock;
    TTestExecuter exec;
    exec.CurrentFrequency = 3000000;
    ASSERT_TRUE(exec.VarnelRuntestTime(false, 2000000, false, Recorder()));
    ASSERT_EQ(exec.OutCount, 1 + 11720 + 1u);
    ASSERT_EQ(Notes.size(), 2u);
    for (const TLogLine& note : Notes) {
        EXPECT_THAT(note.Text, testing::MatchesRegex("\\.\\.\\.done yet [0-9]+%, estimated remaining [0-9]+ sec"));
        EXPECT_EQ(note.Kind, MessageKind::Info);
    }
    EXPECT_EQ(Notes[0].Text, "...done yet 42%, estimated remaining 6 sec");
    EXPECT_EQ(Notes[1].Text, "...done yet 85%, estimated remaining 1 sec");
    EXPECT_TRUE(exec.Log().empty());

    // The same wait for a player that passes no Progress: the same bytes,
    // and not one look at the clock.
    TTestExecuter quiet;
    quiet.CurrentFrequency = 3000000;
    const uint32_t before = clock.Now.load();
    ASSERT_TRUE(quiet.VarnelRuntestTime(false, 2000000, false, {}));
    EXPECT_EQ(quiet.Queued(), exec.Queued());
    EXPECT_EQ(clock.Now.load(), before);
}

TEST_F(VarnelRuntest, RepeatedAndNativeCyclesReportProgressToo)
{
    struct TCase {
        int32_t InForce, Repeat;
        uint32_t Count;
        size_t NoteCount;
    };
    // 1 ms a look: 6000 looks in repeated mode (one a cycle), 3000 native
    // (one per four cycles), 6000 for 24 000 native cycles. The one note
    // comes at the 5001st look: 5001 cycles, or 5001 steps of four.
    const TCase cases[] = {{1000000, 1, 6000, 1}, {3000000, 0, 12000, 0}, {3000000, 0, 24000, 1}};
    for (const TCase& c : cases) {
        SCOPED_TRACE("R=" + std::to_string(c.Repeat) + ", " + std::to_string(c.Count) + " cycles");
        Notes.clear();
        TTestClock clock;
        TTestExecuter exec;
        exec.CurrentFrequency = c.InForce;
        exec.ClockRepeat = c.Repeat;
        exec.DefFreqRuntestPuls = 4;
        ASSERT_TRUE(exec.VarnelRuntestClocks(false, c.Count, false, Recorder()));
        EXPECT_EQ(Notes.size(), c.NoteCount);
        if (c.NoteCount) {
            EXPECT_EQ(Notes[0], Info("...done yet 83%, estimated remaining 0 sec"));
        }
    }
}

// Done counts what is queued so far, the current byte or cycle included,
// and native cycles in steps of four. The clock jumps past 5 s after the
// progress began, so the first step makes the one note.
TEST_F(VarnelRuntest, ProgressCountsWhatHasBeenQueued)
{
    struct TCase {
        const char* Why;
        bool Count;
        uint32_t Value;
        int32_t InForce, Repeat;
        const char* Note;
    };
    const TCase cases[] = {
        {"wait bytes: the first of three", false, 171, 3000000, 0, "...done yet 33%, estimated remaining 10 sec"},
        {"native cycles: the first four of eight", true, 8, 3000000, 0, "...done yet 50%, estimated remaining 5 sec"},
        {"native cycles: the first four of five", true, 5, 3000000, 0, "...done yet 80%, estimated remaining 1 sec"},
        {"repeated cycles: the first of two", true, 2, 1000000, 1, "...done yet 50%, estimated remaining 5 sec"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Notes.clear();
        bool started = false;
        platform::SetClockForTest(
            [&]() -> uint32_t {
                if (!started) {
                    started = true;
                    return 0;
                }
                return 5001;
            },
            {});
        TTestExecuter exec;
        exec.CurrentFrequency = c.InForce;
        exec.ClockRepeat = c.Repeat;
        exec.DefFreqRuntestTime = 0;
        exec.DefFreqRuntestPuls = 4;
        const bool ok = c.Count ? exec.VarnelRuntestClocks(false, c.Value, false, Recorder())
                                : exec.VarnelRuntestTime(false, c.Value, false, Recorder());
        platform::SetClockForTest({}, {});
        EXPECT_TRUE(ok);
        EXPECT_THAT(Notes, ElementsAre(Info(c.Note)));
    }
}

// ---- cycles of a wait at a clock: never shorter than asked

TEST(VarnelWaitCycles, LastAtLeastTheTimeAskedAtTheRealClock)
{
    struct TCase {
        const char* Why;
        int32_t Hz; // through the ladder
        uint64_t Us;
        uint64_t Cycles;
    };
    const TCase cases[] = {
        {"3 MHz: 3t + 1", 3000000, 1000, 3001},
        {"1.5 MHz", 1500000, 1000, 1501},
        {"750 kHz", 750000, 1000, 751},
        {"200 kHz, five repeats exactly", 200000, 1000, 201},
        {"400 kHz: 333 333 Hz, short by t / 10^6 cycles at 3 us", 400000, 30000000, 10000000},
        {"7 813 Hz: 128 repeats, 7 812 Hz nominal", 7813, 10000000, 78125},
        {"7 813 Hz where the nominal count suffices", 7813, 1000, 8},
        {"2^31 us at 3 MHz: no 32-bit product", 3000000, 2147483648u, 6442450945u},
        {"800 s at 750 kHz", 750000, 800000000, 600000001},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        const TVarnelWaitClock clock = VarnelLadderClock(c.Hz);
        const uint64_t n = VarnelWaitCycles(clock, c.Us);
        EXPECT_EQ(n, c.Cycles);
        // Real period: native 1, 2, 4 thirds of a microsecond; repeated r us.
        EXPECT_GE(n * clock.PeriodThirds, 3 * c.Us);
    }
}

TEST(VarnelWaitCycles, DeviceTimedWaitsOfEveryLength)
{
    struct TCase {
        uint64_t Us;
        uint64_t Bytes;
    };
    // Past 715 827 882 us 3t needs more than 32 bits; 2^31 us is an XSVF
    // wait's largest, 800 s an SVF wait.
    const TCase cases[] = {{0, 1}, {1, 2}, {1000, 7}, {10000000, 58595}, {800000000, 4687501},
                           {715827883, 4194306}, {2147483648u, 12582913}, {4294967295u, 25165825}};
    for (const TCase& c : cases) {
        EXPECT_EQ(VarnelWaitBytes(c.Us), c.Bytes) << c.Us;
        // 512 periods of 3 MHz each: at least the time asked.
        EXPECT_GE(VarnelWaitBytes(c.Us) * 512, 3 * c.Us);
    }
}

TEST(VarnelWaitCycles, TheClockInForce)
{
    TTestExecuter exec;
    exec.CurrentFrequency = 7812;
    exec.ClockRepeat = 128;
    EXPECT_EQ(VarnelWaitCycles(VarnelClockInForce(exec), 10000000), 78125u);
    // Native mode runs at 3 MHz whatever CurrentFrequency claims.
    exec.CurrentFrequency = 93749;
    exec.ClockRepeat = 0;
    EXPECT_EQ(VarnelWaitCycles(VarnelClockInForce(exec), 1000), 3000u);
}

} // namespace
