// Whole SVF files played through OpenAndStart on the emulated Mirrow: the
// same chain history as on the Varnel, with the target supplied by the
// cable or not, RUNTEST waits judged on the device clock, and a cable that
// fails mid-run ending the run with the target unpowered.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/sysutils.h"
#include "cables/mirrow.h"
#include "executor_fixture.h"
#include "support/vendor_samples.h"
#include "svf/svf.h"
#include "ticks.h"

namespace {

using namespace exectest;
using testing::Contains;
using testing::HasSubstr;

class TRegisterSvf : public testing::Environment {
public:
    void SetUp() override { RegisterSvfPlayer(); }
};
testing::Environment* const Svf = testing::AddGlobalTestEnvironment(new TRegisterSvf);

// A chain file of tests/sim/chains as members of a device object.
std::string ChainMembers(const std::string& File)
{
    std::ifstream in(std::string(ORBESK_SIM_CHAINS_DIR) + "/" + File);
    std::stringstream text;
    text << in.rdbuf();
    const std::string chain = text.str();
    const size_t open = chain.find('{');
    return chain.substr(open + 1, chain.rfind('}') - open - 1);
}

struct TStay {
    uint64_t Cycles = 0;
    uint64_t Ns = 0;
    char Tms = '?';
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

const std::string TwoDevices = R"("chain":[
    {"name":"first","ir_length":4,"idcode":{"opcode":1,"value":"0x12345093"}},
    {"name":"second","ir_length":8,"idcode":{"opcode":1,"value":"0x0ABC1DEF"}}])";

const char* const IdcodesAndMemory = R"(! both IDCODEs, then the second IR in bypass
STATE RESET;
STATE IDLE;
FREQUENCY 2E6 HZ;
SIR 12 TDI (101) TDO (101) MASK (FFF);
SDR 64 TDI (0000000000000000) TDO (123450930ABC1DEF);
RUNTEST 100 TCK;
FREQUENCY 4E5 HZ;
SIR 12 TDI (FF1) TDO (101);
SDR 33 TDI (1FFFFFFFF) TDO (1FFFFFFFC);
RUNTEST 1E-3 SEC;
STATE RESET;
)";

class SvfOnMirrow : public TExecutorTest {
protected:
    void SetUp() override
    {
        TExecutorTest::SetUp();
        Folder = std::filesystem::temp_directory_path() /
                 ("orbesk_exec_mirrow_" + std::to_string(getpid()) + "_" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(Folder);
        FormatSettings.ThousandSeparator = ' ';
        Exec->DefFreq = 0;
        Exec->MirrowVddMin = 18;
        Exec->MirrowVddMax = 55;
        Exec->MirrowVddVal = 33;
        Exec->MirrowVddDelay = 10000;
        Exec->DefFreqRuntestPuls = 4;
    }
    void TearDown() override
    {
        if (Exec) {
            Exec->CurrentFile.reset();
            Exec->CloseCable(false);
        }
        FormatSettings = TFormatSettings();
        std::filesystem::remove_all(Folder);
        TExecutorTest::TearDown();
    }

    void On(bool Mirrow, const std::string& Members)
    {
        Load({Mirrow ? exectest::Mirrow("A6040001", Members) : exectest::Varnel("A6010001", Members)});
        Exec->SelectedCable = Mirrow ? 0x02040001 : 0x00010001;
        Exec->ClearLog();
    }
    FileStatus Play(const std::string& Text)
    {
        const std::string path = (Folder / "run.svf").string();
        std::ofstream(path) << Text;
        return PlayToEnd(path);
    }
    std::vector<std::string> Errors()
    {
        std::vector<std::string> lines;
        for (const TLogLine& line : Exec->Log())
            if (line.Kind == MessageKind::Error)
                lines.push_back(line.Text);
        return lines;
    }
    // What the chain went through, whichever cable drove it: states, scans
    // with their bits, register updates; without the cable's name and the
    // TCK periods.
    std::vector<std::string> History()
    {
        std::vector<std::string> lines;
        for (const std::string& line : Sim->Trace()) {
            const size_t space = line.find(' ');
            if (space == std::string::npos || line.starts_with("d2xx"))
                continue;
            std::string rest = line.substr(space + 1);
            if (!(rest.starts_with("state ") || rest.starts_with("scan ") || rest.starts_with("dev=")))
                continue;
            if (const size_t tck = rest.find(" tck_min_ns="); tck != std::string::npos)
                rest.erase(tck);
            lines.push_back(rest);
        }
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
            if (at != std::string::npos &&
                std::sscanf(line.c_str() + at, "cycles=%llu ns=%llu tms=%c", &cycles, &ns, &s.Tms) == 3) {
                s.Cycles = cycles;
                s.Ns = ns;
                stays.push_back(s);
            }
        }
        return stays;
    }
    sim::MirrowProtocol& Device() { return *static_cast<sim::MirrowProtocol*>(Sim->Protocol(0)); }

    std::filesystem::path Folder;
};

TEST_F(SvfOnMirrow, TheChainSeesWhatItSeesOnAVarnelWithTheTargetSuppliedOrNot)
{
    On(false, TwoDevices);
    ASSERT_EQ(Play(IdcodesAndMemory), FileStatus::Succeeded) << testing::PrintToString(Errors());
    const std::vector<std::string> onVarnel = History();
    ASSERT_THAT(onVarnel, Contains("scan dr n=2 bits=64 in=0000000000000000 out=123450930ABC1DEF from=IDLE"));

    for (const bool supplied : {false, true}) {
        SCOPED_TRACE(supplied ? "supplied by the cable" : "the target's own supply");
        On(true, TwoDevices + (supplied ? ",\"target\":{\"supply\":\"cable\"}" : ""));
        Exec->MirrowVddOut = supplied;
        ASSERT_EQ(Play(IdcodesAndMemory), FileStatus::Succeeded) << testing::PrintToString(Errors());
        EXPECT_EQ(History(), onVarnel);
        EXPECT_THAT(Exec->Log(), Contains(TLogLine{"MIRROW: UCC = 3.3V", MessageKind::Info}));
        EXPECT_THAT(Exec->Log(), Contains(TLogLine{"Using MIRROW S/N A6040001", MessageKind::Info}));
        EXPECT_EQ(TraceWith(" power on").size(), supplied ? 1u : 0u);
        EXPECT_FALSE(Device().Powered()) << "the close switches the supply off";
        EXPECT_EQ(Device().ProtocolErrors(), 0u);
    }
}

TEST_F(SvfOnMirrow, RealVendorFilesPlayWithTheSameHistoryAsOnAVarnel)
{
    for (const TVendorSample& c : VendorSamples) {
        SCOPED_TRACE(c.Sample);
        const std::string path = std::string(ORBESK_SAMPLES_DIR) + "/" + c.Sample;
        On(false, ChainMembers(c.Chain));
        ASSERT_EQ(PlayToEnd(path), FileStatus::Succeeded);
        const std::vector<std::string> onVarnel = History();
        On(true, ChainMembers(c.Chain));
        ASSERT_EQ(PlayToEnd(path), FileStatus::Succeeded) << testing::PrintToString(Errors());
        EXPECT_EQ(History(), onVarnel);
        EXPECT_EQ(Device().ProtocolErrors(), 0u);
    }
}

TEST_F(SvfOnMirrow, EveryRuntestModeWaitsAtLeastWhatTheFileAsksOnTheDeviceClock)
{
    struct TCase {
        const char* Why;
        uint8_t TimeMode, CountMode, Recalculate;
        int32_t Security;
        const char* Frequency;
        const char* Runtest;
        uint64_t MinCycles, MinNs;
    };
    // Times of 20 ms, counts of 5000 cycles (25 ms at 200 kHz).
    const TCase cases[] = {
        {"time, clock stopped", 0, 4, 0, 0, "3E6", "20E-3 SEC", 0, 20000000},
        {"time, low clock", 1, 4, 0, 0, "3E6", "20E-3 SEC", 2000, 20000000},
        {"time, low clock below its threshold", 1, 4, 0, 0, "5E4", "20E-3 SEC", 1000, 20000000},
        {"time, 1 MHz", 2, 4, 0, 0, "3E6", "20E-3 SEC", 20000, 20000000},
        {"time, 1 MHz below its threshold", 2, 4, 0, 0, "5E5", "20E-3 SEC", 10000, 20000000},
        {"time, design 3.33 MHz", 3, 4, 0, 0, "3.4E6", "20E-3 SEC", 66666, 20000000},
        {"time, the clock in force 333 333 Hz", 4, 4, 0, 0, "3.4E5", "20E-3 SEC", 6666, 20000000},
        {"time, 50 % added", 0, 4, 0, 50, "3E6", "20E-3 SEC", 0, 30000000},
        {"count, 1 MHz", 0, 2, 0, 0, "3E6", "5000 TCK", 5000, 5000000},
        {"count, design", 0, 3, 0, 0, "2E5", "5000 TCK", 5000, 25000000},
        {"count, the clock in force", 0, 4, 0, 0, "2E5", "5000 TCK", 5000, 25000000},
        {"count recalculated", 0, 4, 1, 0, "1E6", "5000 TCK", 0, 5000000},
        {"count as microseconds", 0, 4, 2, 0, "2E5", "5000 TCK", 0, 5000000},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        On(true, "");
        Exec->DefFreqRuntestTime = c.TimeMode;
        Exec->DefFreqRuntestPuls = c.CountMode;
        Exec->RuntestRecalculate = c.Recalculate;
        Exec->SecurityTime = c.Security;
        const std::string text = std::string("STATE RESET;\nSTATE IDLE;\nFREQUENCY ") + c.Frequency +
                                 " HZ;\nSDR 32 TDI (00000000) TDO (0ABC1DEF);\nRUNTEST " + c.Runtest +
                                 ";\nSDR 32 TDI (00000000) TDO (0ABC1DEF);\nSTATE RESET;\n";
        ASSERT_EQ(Play(text), FileStatus::Succeeded) << testing::PrintToString(Errors());
        const std::vector<TStay> idle = Stays("IDLE");
        ASSERT_GE(idle.size(), 2u);
        EXPECT_GE(idle[1].Cycles, c.MinCycles);
        EXPECT_GE(idle[1].Ns, c.MinNs);
        EXPECT_EQ(idle[1].Tms, '0');
        // The scans before and after the wait run at the same clock.
        const std::vector<std::string> scans = TraceWith(" scan dr ");
        ASSERT_EQ(scans.size(), 2u);
        EXPECT_EQ(scans[0].substr(scans[0].find(" tck_min_ns=")), scans[1].substr(scans[1].find(" tck_min_ns=")));
    }
}

TEST_F(SvfOnMirrow, AWaitInTestLogicResetHoldsTmsHigh)
{
    On(true, "");
    Exec->DefFreqRuntestTime = 0;
    ASSERT_EQ(Play("STATE IDLE;\nRUNTEST RESET 10E-3 SEC;\nSTATE IDLE;\n"), FileStatus::Succeeded);
    // The last long stay there: the open's own waits come before it.
    const std::vector<TStay> reset = Stays("RESET");
    const auto wait = std::find_if(reset.rbegin(), reset.rend(), [](const TStay& S) { return S.Ns >= 10000000; });
    ASSERT_NE(wait, reset.rend());
    EXPECT_EQ(wait->Tms, '1');
}

TEST_F(SvfOnMirrow, AnUndefinedCountClockEndsTheRunWithItsMessage)
{
    On(true, "");
    Exec->DefFreqRuntestPuls = 7;
    EXPECT_EQ(Play("STATE IDLE;\nRUNTEST 10 TCK;\n"), FileStatus::Failed);
    EXPECT_THAT(Errors(), Contains(HasSubstr("DefFreqRuntestPuls not defined")));
}

TEST_F(SvfOnMirrow, ACableFailingMidRunEndsItWithACommunicationErrorAndTheTargetUnpowered)
{
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (int i = 0; i < 400; ++i)
        text += "SDR 32 TDI (00000000) TDO (0ABC1DEF);\n";
    // The open writes some 134 000 bytes and takes 79 replies.
    for (const char* fault : {"\"unplug_after\":140000", "\"write_fail_after\":140000", "\"replies_stop_after\":100"}) {
        SCOPED_TRACE(fault);
        On(true, std::string("\"target\":{\"supply\":\"cable\"},\"faults\":{") + fault + "}");
        Exec->MirrowVddOut = true;
        EXPECT_EQ(Play(text), FileStatus::Failed);
        EXPECT_THAT(Errors(), Contains("USB communication error"));
        EXPECT_THAT(TraceWith(" power on"), testing::SizeIs(1));
        // A cable that refuses every write cannot be told anything: the
        // close still tries.
        if (std::string(fault).starts_with("\"write_fail")) {
            EXPECT_THAT(TraceWith(" fault write-failed"), testing::SizeIs(1));
        } else {
            EXPECT_FALSE(Device().Powered());
        }
    }
}

TEST_F(SvfOnMirrow, ASilentCableEndsTheRunOnceItsQueuedTimeAndFiveSecondsHavePassed)
{
    struct TCase {
        const char* Why;
        uint8_t TimeMode;
        const char* Runtest;
        uint32_t DeviceMs;
    };
    const TCase cases[] = {
        {"no wait", 0, "", 0},
        {"20 s timed by the device", 0, "RUNTEST 20 SEC;\n", 20000},
        {"20 s at the low clock", 1, "RUNTEST 20 SEC;\n", 20000},
        {"a count recalculated to 20 s", 0, "RUNTEST 20000000 TCK;\n", 20000},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        // The open's replies (the upload's 5, 72 of calibration, 2 of the
        // measurement), then none.
        On(true, "\"faults\":{\"replies_stop_after\":79}");
        TSleepClock clock;
        Exec->DefFreqRuntestTime = c.TimeMode;
        Exec->RuntestRecalculate = 1;
        std::atomic<uint32_t> lastWrite{0};
        FtSetTraceHook([&](const char* Text, bool) {
            if (std::string(Text) == "FT_Write")
                lastWrite = clock.Now.load();
        });
        const std::string text = std::string("STATE RESET;\nSTATE IDLE;\nFREQUENCY 1E6 HZ;\n") + c.Runtest +
                                 "SDR 32 TDI (00000000) TDO (0ABC1DEF);\nSTATE RESET;\n";
        EXPECT_EQ(Play(text), FileStatus::Failed);
        FtSetTraceHook({});
        EXPECT_THAT(Errors(), Contains("USB communication error"));
        // The close's write comes last; the run's went out at once.
        const uint32_t ended = lastWrite.load();
        EXPECT_GT(ended, c.DeviceMs + ReplyTimeoutMs) << "never before the device can have answered";
        EXPECT_LT(ended, c.DeviceMs + ReplyTimeoutMs + 300) << "and not much later";
    }
}

TEST_F(SvfOnMirrow, TheExecutorEndingMidRunLeavesTheTargetUnpowered)
{
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (int i = 0; i < 200; ++i)
        text += "SDR 32 TDI (00000000) TDO (0ABC1DEF);\nRUNTEST 10 SEC;\n";
    On(true, "\"target\":{\"supply\":\"cable\"}");
    Exec->MirrowVddOut = true;
    const std::string path = (Folder / "long.svf").string();
    std::ofstream(path) << text;
    ASSERT_TRUE(Exec->OpenAndStart(path));
    // As a front end ends: the run stopped and its player freed first (its
    // worker must not call into a front end half destroyed), then the
    // executor, whose end closes the cable.
    Exec->CurrentFile->Stop();
    Exec->CurrentFile.reset();
    Exec.reset();
    EXPECT_THAT(TraceWith(" power on"), testing::SizeIs(1));
    EXPECT_FALSE(Device().Powered());
}

} // namespace
