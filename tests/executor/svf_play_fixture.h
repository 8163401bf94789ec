// Shared by the executor's end-to-end tests: SVF texts played through
// OpenAndStart on an emulated cable, and what the simulated chain's trace
// says of them (stays in Run-Test/Idle and Test-Logic-Reset, the TCK
// periods of scans).
#pragma once

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/sysutils.h"
#include "executor_fixture.h"
#include "svf/svf.h"

namespace exectest {

class TRegisterSvf : public testing::Environment {
public:
    void SetUp() override { RegisterSvfPlayer(); }
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

} // namespace exectest
