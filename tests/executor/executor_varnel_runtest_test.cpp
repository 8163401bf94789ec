// RUNTEST end to end: SVF files played through OpenAndStart on the emulated
// Varnel, judged by what the simulated chain saw (its stays in Run-Test/Idle
// and Test-Logic-Reset, the TCK periods of its scans), and the read-back
// bound of a cable that stops answering.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "executor_fixture.h"
#include "svf/svf.h"
#include "base/sysutils.h"

namespace {

using namespace exectest;
using testing::Contains;

class TRegisterSvf : public testing::Environment {
public:
    void SetUp() override { RegisterSvfPlayer(); }
};
testing::Environment* const Svf = testing::AddGlobalTestEnvironment(new TRegisterSvf);

struct TStay {
    uint64_t Cycles = 0;
    uint64_t Ns = 0;
    char Tms = '?';
};

struct TScanClock {
    uint64_t MinNs = 0;
    uint64_t MaxNs = 0;
    bool operator==(const TScanClock&) const = default;
};

std::ostream& operator<<(std::ostream& Out, const TScanClock& C)
{
    return Out << "tck " << C.MinNs << ".." << C.MaxNs << " ns";
}

class RuntestOnVarnel : public TExecutorTest {
protected:
    void SetUp() override
    {
        TExecutorTest::SetUp();
        Folder = std::filesystem::temp_directory_path() /
                 ("orbesk_exec_runtest_" + std::to_string(getpid()) + "_" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(Folder);
        FormatSettings.ThousandSeparator = ' ';
        Exec->SelectedCable = 0x010001;
    }
    void TearDown() override
    {
        FtSetTraceHook({});
        if (Exec) {
            Exec->CurrentFile.reset();
            Exec->CloseCable(false);
        }
        FormatSettings = TFormatSettings();
        std::filesystem::remove_all(Folder);
        TExecutorTest::TearDown();
    }

    void LoadVarnel(const std::string& Members = "")
    {
        Load({Varnel("A6010001", Members)});
        Exec->ClearLog();
    }

    // Plays Text to its end as a front end would.
    FileStatus Play(const std::string& Text)
    {
        const std::string path = (Folder / "run.svf").string();
        std::ofstream(path) << Text;
        return PlayToEnd(path);
    }

    std::vector<std::string> LogOf(MessageKind Kind)
    {
        std::vector<std::string> lines;
        for (const TLogLine& line : Exec->Log())
            if (line.Kind == Kind)
                lines.push_back(line.Text);
        return lines;
    }

    // The stays the chain traced in State ("IDLE", "RESET"), in order.
    std::vector<TStay> Stays(const std::string& State)
    {
        std::vector<TStay> stays;
        for (const std::string& line : TraceWith(" stay " + State + " ")) {
            TStay s;
            unsigned long long cycles = 0, ns = 0;
            const size_t at = line.find("cycles=");
            if (at == std::string::npos ||
                std::sscanf(line.c_str() + at, "cycles=%llu ns=%llu tms=%c", &cycles, &ns, &s.Tms) != 3)
                continue;
            s.Cycles = cycles;
            s.Ns = ns;
            stays.push_back(s);
        }
        return stays;
    }

    // The TCK periods of each DR scan the chain traced.
    std::vector<TScanClock> ScanClocks()
    {
        std::vector<TScanClock> clocks;
        for (const std::string& line : TraceWith(" scan dr ")) {
            TScanClock c;
            unsigned long long lo = 0, hi = 0;
            const size_t at = line.find("tck_min_ns=");
            if (at != std::string::npos &&
                std::sscanf(line.c_str() + at, "tck_min_ns=%llu tck_max_ns=%llu", &lo, &hi) == 2) {
                c.MinNs = lo;
                c.MaxNs = hi;
            }
            clocks.push_back(c);
        }
        return clocks;
    }

    std::filesystem::path Folder;
};

// The IDCODE read before and after one RUNTEST in Run-Test/Idle: the wait
// is the second stay there.
std::string AroundOneRuntest(const std::string& Frequency, const std::string& Runtest)
{
    return "STATE RESET;\nSTATE IDLE;\nFREQUENCY " + Frequency +
           " HZ;\n"
           "SDR 32 TDI (00000000) TDO (0ABC1DEF);\n"
           "RUNTEST " +
           Runtest +
           ";\n"
           "SDR 32 TDI (00000000) TDO (0ABC1DEF);\n"
           "STATE RESET;\n";
}

struct TPolicy {
    uint8_t TimeMode = 0;
    uint8_t CountMode = 4;
    uint8_t Recalculate = 0;
    bool Only1000 = false;
    int32_t Security = 0;
    bool IgnoreFreq = false; // with DefFreq 2: 500 kHz whatever the file asks
};

TEST_F(RuntestOnVarnel, TheChainWaitsAtLeastWhatTheFileAsksAndTheNextScanRunsAtTheClockBefore)
{
    struct TCase {
        const char* Why;
        TPolicy Policy;
        const char* Frequency;
        const char* Runtest;
        uint64_t MinCycles;
        uint64_t MinNs;
    };
    // Times of 20 ms, counts of 5000 cycles; at 200 kHz that is 25 ms.
    const TCase cases[] = {
        {"time, clock stopped", {0}, "3E6", "20E-3 SEC", 0, 20000000},
        {"time, clock stopped, repeated mode", {0}, "4E5", "20E-3 SEC", 0, 20000000},
        {"time, low clock", {1}, "3E6", "20E-3 SEC", 1666, 20000000},
        {"time, low clock below its threshold: the clock in force", {1}, "5E4", "20E-3 SEC", 1000, 20000000},
        {"time, 1 MHz", {2}, "3E6", "20E-3 SEC", 20000, 20000000},
        {"time, 1 MHz below its threshold", {2}, "5E5", "20E-3 SEC", 10000, 20000000},
        {"time, design 200 kHz", {3}, "2E5", "20E-3 SEC", 4000, 20000000},
        {"time, design 1.5 MHz", {3}, "1.5E6", "20E-3 SEC", 30000, 20000000},
        {"time, design 1 MHz (750 kHz native), 500 kHz in force", {3, 4, 0, false, 0, true}, "1E6", "20E-3 SEC",
         15000, 20000000},
        {"time, the clock in force, 333 333 Hz", {4}, "4E5", "20E-3 SEC", 6666, 20000000},
        {"time, the clock in force, 3 MHz", {4}, "3E6", "20E-3 SEC", 60000, 20000000},
        {"time, undefined mode", {9}, "3E6", "20E-3 SEC", 60000, 20000000},
        {"time with 50 % added", {0, 4, 0, false, 50}, "3E6", "20E-3 SEC", 0, 30000000},
        {"count, 1 MHz", {0, 2}, "3E6", "5000 TCK", 5000, 0},
        {"count, 1 MHz below its threshold", {0, 2}, "2E5", "5000 TCK", 5000, 25000000},
        {"count, design", {0, 3}, "2E5", "5000 TCK", 5000, 25000000},
        {"count, design 1 MHz, 500 kHz in force", {0, 3, 0, false, 0, true}, "1E6", "5000 TCK", 5000, 5000000},
        {"count, the clock in force", {0, 4}, "4E5", "5000 TCK", 5000, 15000000},
        {"count, undefined mode", {0, 5}, "2E5", "5000 TCK", 5000, 25000000},
        {"count recalculated at the design frequency", {0, 4, 1}, "1E6", "5000 TCK", 0, 5000000},
        {"count recalculated, then 50 % added", {0, 4, 1, false, 50}, "1E6", "5000 TCK", 0, 7500000},
        {"count taken as microseconds", {4, 4, 2}, "2E5", "5000 TCK", 1000, 5000000},
        {"count under 1000 clocked with Only1000", {0, 4, 1, true}, "2E5", "999 TCK", 999, 4995000},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        LoadVarnel();
        Exec->DefFreqRuntestTime = c.Policy.TimeMode;
        Exec->DefFreqRuntestPuls = c.Policy.CountMode;
        Exec->RuntestRecalculate = c.Policy.Recalculate;
        Exec->RuntestRecalculateOnly1000TCK = c.Policy.Only1000;
        Exec->SecurityTime = c.Policy.Security;
        Exec->IgnoreFreqCmd = c.Policy.IgnoreFreq;
        Exec->DefFreq = c.Policy.IgnoreFreq ? 2 : 0;
        ASSERT_EQ(Play(AroundOneRuntest(c.Frequency, c.Runtest)), FileStatus::Succeeded)
            << testing::PrintToString(LogOf(MessageKind::Error));
        const std::vector<TStay> idle = Stays("IDLE");
        ASSERT_GE(idle.size(), 2u);
        EXPECT_GE(idle[1].Cycles, c.MinCycles);
        EXPECT_GE(idle[1].Ns, c.MinNs);
        EXPECT_EQ(idle[1].Tms, '0');
        const std::vector<TScanClock> scans = ScanClocks();
        ASSERT_EQ(scans.size(), 2u);
        EXPECT_NE(scans[0].MinNs, 0u);
        EXPECT_EQ(scans[1], scans[0]) << "the scan after the wait runs at the clock before it";
    }
}

TEST_F(RuntestOnVarnel, AWaitInTestLogicResetHoldsTmsHigh)
{
    for (uint8_t mode : {0, 1, 4}) {
        SCOPED_TRACE(int{mode});
        LoadVarnel();
        Exec->DefFreqRuntestTime = mode;
        ASSERT_EQ(Play("STATE IDLE;\nRUNTEST RESET 10E-3 SEC;\nSTATE IDLE;\n"), FileStatus::Succeeded);
        const std::vector<TStay> reset = Stays("RESET");
        ASSERT_FALSE(reset.empty());
        const TStay& wait = *std::max_element(reset.begin(), reset.end(),
                                              [](const TStay& A, const TStay& B) { return A.Ns < B.Ns; });
        EXPECT_GE(wait.Ns, 10000000u);
        EXPECT_EQ(wait.Tms, '1');
    }
}

TEST_F(RuntestOnVarnel, ALongWaitIsWaitedWholeWithItsNotes)
{
    // 800 s timed by the device: 4 687 501 wait bytes. The test clock moves
    // 1 ms a look, so the notes of every 5 s come while it is queued.
    LoadVarnel("\"trace\":{\"scans\":false,\"updates\":false,\"states\":false,\"pins\":false,\"clock\":false}");
    ASSERT_EQ(Play("STATE IDLE;\nRUNTEST 800 SEC;\nSDR 32 TDI (00000000) TDO (0ABC1DEF);\nSTATE RESET;\n"),
              FileStatus::Succeeded)
        << testing::PrintToString(LogOf(MessageKind::Error));
    const std::vector<TStay> idle = Stays("IDLE");
    ASSERT_FALSE(idle.empty());
    EXPECT_GE(idle[0].Ns, 800000000000u);
    EXPECT_THAT(TraceWith(" wait bytes="), Contains(testing::HasSubstr("wait bytes=4687501 ")));
    const std::vector<std::string> info = LogOf(MessageKind::Info);
    EXPECT_THAT(info, Contains(std::string("Long delay: 800 000 000 ") + MicroSign + "s"));
    const auto notes = std::count_if(info.begin(), info.end(),
                                     [](const std::string& Line) { return Line.starts_with("...done yet "); });
    EXPECT_GT(notes, 100);
}

// Time that passes only when the code under test sleeps: queuing costs no
// time, so the device time of what was written is all the reply watch has.
class TSleepClock {
public:
    TSleepClock()
    {
        platform::SetClockForTest([this] { return Now.load(); }, [this](uint32_t Ms) { Now.fetch_add(Ms); });
    }
    ~TSleepClock() { platform::SetClockForTest({}, {}); }
    std::atomic<uint32_t> Now{0};
};

TEST_F(RuntestOnVarnel, ACableThatStopsAnsweringEndsTheRunOnceItsQueuedTimeAndFiveSecondsHavePassed)
{
    struct TCase {
        const char* Why;
        uint8_t TimeMode;
        const char* Runtest; // before the scan; none when empty
        uint32_t DeviceMs;   // what it keeps the device busy
    };
    const TCase cases[] = {
        {"no wait", 0, "", 0},
        {"20 s timed by the device", 0, "RUNTEST 20 SEC;\n", 20000},
        {"20 s at the low clock", 1, "RUNTEST 20 SEC;\n", 20000},
        {"a count recalculated to 20 s", 0, "RUNTEST 20000000 TCK;\n", 20000},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        // The probe's two replies, then none.
        LoadVarnel("\"faults\":{\"replies_stop_after\":2}");
        TSleepClock clock;
        Exec->DefFreqRuntestTime = c.TimeMode;
        Exec->RuntestRecalculate = 1;
        std::mutex lock;
        std::vector<uint32_t> writes;
        FtSetTraceHook([&](const char* Text, bool) {
            if (std::string(Text) == "FT_Write") {
                std::lock_guard<std::mutex> guard(lock);
                writes.push_back(clock.Now.load());
            }
        });
        const std::string text = std::string("STATE RESET;\nSTATE IDLE;\nFREQUENCY 1E6 HZ;\n") + c.Runtest +
                                 "SDR 32 TDI (00000000) TDO (0ABC1DEF);\nSTATE RESET;\n";
        EXPECT_EQ(Play(text), FileStatus::Failed);
        FtSetTraceHook({});
        EXPECT_THAT(LogOf(MessageKind::Error), Contains("USB communication error"));
        // The probe's write, then the run's: all at once, since writing
        // costs no time here.
        ASSERT_GE(writes.size(), 2u);
        const uint32_t ended = clock.Now.load() - writes[1];
        EXPECT_GT(ended, c.DeviceMs + ReplyTimeoutMs) << "never before the device can have answered";
        EXPECT_LT(ended, c.DeviceMs + ReplyTimeoutMs + 200) << "and not much later";
    }
}

TEST_F(RuntestOnVarnel, AScanStillQueuedHereIsOwedByNobodyAndNeverOverdue)
{
    // The reply watch judges only replies the cable was given: a capture
    // still in the output buffer waits for its flush, however long that is.
    LoadVarnel();
    ASSERT_TRUE(Exec->OpenVarnel());
    ASSERT_NE(Exec->VarnelSetFrequency(3000000, true), -1);
    for (bool tms : {true, true, true, true, true, false, true, false, false})
        ASSERT_TRUE(Exec->VarnelTmsClock(false, tms));
    const std::vector<uint8_t> all(32, 1), zeros(32, 0);
    ASSERT_TRUE(Exec->VarnelShift(zeros.data(), all.data(), 32, true));
    Clock->Now += 60000;
    std::vector<uint8_t> tdo(32, 0);
    EXPECT_EQ(Exec->VarnelReadTdo(tdo.data(), all.data(), 32), ReadResult::NotYet);
    ASSERT_TRUE(Exec->VarnelSync());
    ReadResult r = ReadResult::NotYet;
    for (int i = 0; i < 100 && r == ReadResult::NotYet; ++i)
        r = Exec->VarnelReadTdo(tdo.data(), all.data(), 32);
    EXPECT_EQ(r, ReadResult::Ready);
}

TEST_F(RuntestOnVarnel, AScanQueuedBehindAWaitThatTookLongToQueueReadsBack)
{
    // 1 ms a look at the clock: queuing the second's wait bytes takes the
    // test clock past 5 s while the first scan is still in the buffer.
    LoadVarnel();
    const char* const text = "STATE RESET;\nSTATE IDLE;\nSDR 32 TDI (00000000) TDO (0ABC1DEF);\n"
                             "RUNTEST 1 SEC;\nSDR 32 TDI (00000000) TDO (0ABC1DEF);\nSTATE RESET;\n";
    EXPECT_EQ(Play(text), FileStatus::Succeeded) << testing::PrintToString(LogOf(MessageKind::Error));
}

} // namespace
