// Shared by the executor's end-to-end tests: SVF texts played through
// OpenAndStart on an emulated cable, and what the simulated chain's trace
// says of them (stays in Run-Test/Idle and Test-Logic-Reset, the TCK
// periods of scans).
#pragma once

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "base/sysutils.h"
#include "executor_fixture.h"
#include "svf/svf.h"
#include "xsvf/xsvf.h"

namespace exectest {

class TRegisterSvf : public testing::Environment {
public:
    void SetUp() override { RegisterSvfPlayer(); }
};

class TRegisterXsvf : public testing::Environment {
public:
    void SetUp() override { RegisterXsvfPlayer(); }
};

// One emulated cable of each kind, for the tables played on every kind.
struct TCable {
    const char* Name;
    std::function<std::string(const std::string& Members)> Device;
    int32_t Selected;
};

inline const TCable Cables[] = {
    {"Varnel", [](const std::string& M) { return Varnel("A6010001", M); }, 0x00010001},
    {"Druvel", [](const std::string& M) { return Druvel("A6123456", M); }, 0x7B123456},
    {"Mirrow", [](const std::string& M) { return Mirrow("A6040001", M); }, 0x02040001},
};

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

inline std::ostream& operator<<(std::ostream& Out, const TScanClock& C)
{
    return Out << "tck " << C.MinNs << ".." << C.MaxNs << " ns";
}

// The IDCODE read before and after one RUNTEST in Run-Test/Idle: the wait
// is the second stay there.
inline std::string AroundOneRuntest(const std::string& Frequency, const std::string& Runtest)
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

// The RUNTEST settings of one run.
struct TPolicy {
    uint8_t TimeMode = 0;
    uint8_t CountMode = 4;
    uint8_t Recalculate = 0;
    bool Only1000 = false;
    int32_t Security = 0;
    bool IgnoreFreq = false; // with DefFreq 2: 500 kHz whatever the file asks

    void ApplyTo(TJtagExecuter& Exec) const
    {
        Exec.DefFreqRuntestTime = TimeMode;
        Exec.DefFreqRuntestPuls = CountMode;
        Exec.RuntestRecalculate = Recalculate;
        Exec.RuntestRecalculateOnly1000TCK = Only1000;
        Exec.SecurityTime = Security;
        Exec.IgnoreFreqCmd = IgnoreFreq;
        Exec.DefFreq = IgnoreFreq ? 2 : 0;
    }
};

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

// One RUNTEST played around two scans, and what the chain must have seen.
struct TWaitCase {
    const char* Why;
    TPolicy Policy;
    const char* Frequency;
    const char* Runtest;
    uint64_t MinCycles; // in the wait's stay in Run-Test/Idle
    uint64_t MinNs;
};

// A run on a cable that stops answering, with a wait before its one scan.
struct TSilentCase {
    const char* Why;
    uint8_t TimeMode;
    uint8_t Recalculate;
    const char* Runtest; // before the scan; none when empty
    uint32_t DeviceMs;   // what it keeps the device busy
};

class TSvfPlayTest : public TExecutorTest {
protected:
    void SetUp() override
    {
        TExecutorTest::SetUp();
        Folder = std::filesystem::temp_directory_path() /
                 ("orbesk_exec_play_" + std::to_string(getpid()) + "_" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(Folder);
        FormatSettings.ThousandSeparator = ' ';
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

    // The cable of the test, selected, with Members in its device object;
    // the log cleared.
    virtual void LoadCable(const std::string& Members) = 0;

    // Plays Text to its end as a front end would.
    FileStatus Play(const std::string& Text, const std::string& Name = "run.svf")
    {
        const std::string path = (Folder / Name).string();
        std::ofstream(path) << Text;
        return PlayToEnd(path);
    }

    // Each wait lasted at least what was asked, with TMS low, and the scan
    // after it ran at the clock of the scan before.
    void ExpectEachWaitLasts(const std::vector<TWaitCase>& Cases)
    {
        for (const TWaitCase& c : Cases) {
            SCOPED_TRACE(c.Why);
            LoadCable("");
            c.Policy.ApplyTo(*Exec);
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
            EXPECT_THAT(TraceWith(" error "), testing::IsEmpty());
        }
    }

    // A wait of 10 ms in Test-Logic-Reset under each time mode: TMS high.
    void ExpectResetWaitsHoldTmsHigh(std::initializer_list<uint8_t> TimeModes)
    {
        for (uint8_t mode : TimeModes) {
            SCOPED_TRACE(int{mode});
            LoadCable("");
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

    // On a cable whose device object holds Silent, each run ends with the
    // communication error once the device time queued and the reply bound
    // have passed, and not much later. Time passes only by sleeps here, so
    // the open's write and the run's first come at once.
    void ExpectASilentCableEndsTheRun(const std::vector<TSilentCase>& Cases, const std::string& Silent)
    {
        for (const TSilentCase& c : Cases) {
            SCOPED_TRACE(c.Why);
            LoadCable(Silent);
            TSleepClock clock;
            Exec->DefFreqRuntestTime = c.TimeMode;
            Exec->RuntestRecalculate = c.Recalculate;
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
            EXPECT_THAT(LogOf(MessageKind::Error), testing::Contains("USB communication error"));
            ASSERT_GE(writes.size(), 2u);
            const uint32_t ended = clock.Now.load() - writes[1];
            EXPECT_GT(ended, c.DeviceMs + ReplyTimeoutMs) << "never before the device can have answered";
            EXPECT_LT(ended, c.DeviceMs + ReplyTimeoutMs + 200) << "and not much later";
        }
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

} // namespace exectest
