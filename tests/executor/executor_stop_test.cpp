// A stop during a long wait, on cables that take bytes at their own pace as
// real ones do (a write returns once the bytes fit into the chip's buffer):
// the run ends as failed within a second, plays nothing more, and the
// cable closes with its last byte done by the device within a second too.
#include <gmock/gmock.h>

#include <chrono>
#include <mutex>
#include <fstream>
#include <thread>

#include "cables/protocol.h"
#include "support/xsvf_bytes.h"
#include "svf_play_fixture.h"

namespace {

using namespace exectest;
using testing::Contains;
using testing::HasSubstr;
using testing::Not;

testing::Environment* const Svf = testing::AddGlobalTestEnvironment(new TRegisterSvf);
testing::Environment* const Xsvf = testing::AddGlobalTestEnvironment(new TRegisterXsvf);

const char* const OneDevice = R"("chain":[{"name":"only","ir_length":4,"idcode":{"opcode":1,"value":"0x12345093"}}])";

// The promise is a second; the rest is for a loaded machine. The thread
// sanitizer slows the host's code several times over, not the device.
#ifdef __SANITIZE_THREAD__
constexpr std::chrono::milliseconds StopBound(3000);
#else
constexpr std::chrono::milliseconds StopBound(1500);
#endif

// A cable and the clock its waits run at (the Druvel has no wait timed by
// the device).
struct TWaitCable {
    const TCable* Cable;
    uint8_t TimeMode;
};

const TCable& CableNamed(const std::string& Name)
{
    for (const TCable& c : Cables)
        if (Name == c.Name)
            return c;
    throw std::invalid_argument(Name);
}

class StopDuringAWait : public TSvfPlayTest {
protected:
    void SetUp() override
    {
        TSvfPlayTest::SetUp();
        // Real time: the paced device's waits last as long as they say.
        Clock.reset();
    }
    void LoadCable(const std::string& Members) override
    {
        // A Mirrow powers its target, so that the close's supply-off shows.
        const bool mirrow = std::string(Wait.Cable->Name) == "Mirrow";
        Load({Wait.Cable->Device(std::string(OneDevice) + ",\"paced\":true" +
                                 (mirrow ? R"(,"target":{"supply":"cable"})" : "") + Members)});
        Exec->ClearLog();
        Exec->SelectedCable = Wait.Cable->Selected;
        Exec->DefFreqRuntestTime = Wait.TimeMode;
        Exec->MirrowVddMin = 18;
        Exec->MirrowVddMax = 55;
        Exec->MirrowVddOut = mirrow;
        Exec->MirrowVddVal = 33;
    }

    // Starts Text (a file called Name), waits until the log shows Line,
    // lets the run go on a little, stops it; how long it took to end.
    // With Traced, it waits until the chain's trace shows that instead of
    // a fixed while: a slow build may take longer to reach the long part.
    std::chrono::milliseconds StopAfter(const std::string& Text, const std::string& Name, const std::string& Line,
                                        std::chrono::milliseconds Before = std::chrono::milliseconds(1500),
                                        const std::string& Traced = "")
    {
        const std::string path = (Folder / Name).string();
        std::ofstream(path, std::ios::binary) << Text;
        // Each run as in a program of its own: the last run's stop stays
        // asked until taken back.
        Exec->StopToken().Clear();
        EXPECT_TRUE(Exec->OpenAndStart(path)) << testing::PrintToString(LogOf(MessageKind::Error));
        if (!Exec->CurrentFile)
            return {};
        if (!Traced.empty()) {
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (TraceWith(Traced).empty() && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            EXPECT_THAT(TraceWith(Traced), Not(testing::IsEmpty()));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        } else if (Line.empty()) {
            // No line to wait for: the open and the statements before the
            // long one are done well within this.
            std::this_thread::sleep_for(Before);
        } else {
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!testing::Value(LogOf(MessageKind::Info), Contains(Line)) &&
                   std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            EXPECT_THAT(LogOf(MessageKind::Info), Contains(Line));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        EXPECT_EQ(Exec->CurrentFile->GetStatus(), FileStatus::Running) << "the wait is still going";
        const auto stopped = std::chrono::steady_clock::now();
        Exec->CurrentFile->Stop();
        Status = WaitToEnd(std::chrono::seconds(120));
        const auto took = std::chrono::steady_clock::now() - stopped;
        Exec->CloseCable(Status != FileStatus::Succeeded);
        Exec->CurrentFile.reset();
        // Everything written, the close's bytes too, done by the device.
        const auto done = static_cast<sim::Protocol*>(Sim->Protocol(0))->BusyUntil();
        DeviceDone = std::chrono::duration_cast<std::chrono::milliseconds>(done - stopped);
        return std::chrono::duration_cast<std::chrono::milliseconds>(took);
    }

    // Ended as a stopped run does: failed, soon, without a word of its own,
    // and closed.
    void ExpectStopped(std::chrono::milliseconds Took)
    {
        EXPECT_EQ(Status, FileStatus::Failed);
        EXPECT_LT(Took, StopBound);
        EXPECT_LT(DeviceDone, StopBound) << "the closing bytes queued behind the run";
        EXPECT_THAT(LogOf(MessageKind::Error), testing::IsEmpty());
        EXPECT_THAT(TraceWith(std::string(" close written=")), Not(testing::IsEmpty()));
        // No byte the device took was out of its place.
        EXPECT_THAT(TraceWith(" error "), testing::IsEmpty());
        // A Mirrow's target is unpowered by then.
        if (std::string(Wait.Cable->Name) == "Mirrow") {
            EXPECT_THAT(TraceWith(" power off"), Not(testing::IsEmpty()));
        }
    }

    TWaitCable Wait{};
    FileStatus Status = FileStatus::Running;
    std::chrono::milliseconds DeviceDone{};
};

// Waits each shorter than a slice add up: the host never gets more than
// about a slice ahead of the device, whatever clock they run at.
TEST_F(StopDuringAWait, ThreeThousandShortWaitsEndWithinASecondInEveryTimeMode)
{
    std::string svf = "STATE RESET;\nSTATE IDLE;\nSIR 4 TDI (1);\n";
    for (int i = 0; i < 3000; ++i)
        svf += "RUNTEST IDLE 0.09 SEC;\n";
    svf += "SDR 32 TDI (00000000) TDO (12345093);\n";
    for (const char* name : {"Varnel", "Mirrow", "Druvel"}) {
        // The Druvel has no wait timed by the device.
        for (uint8_t mode = std::string(name) == "Druvel" ? 1 : 0; mode <= 4; ++mode) {
            SCOPED_TRACE(std::string(name) + " DefFreqRuntestTime " + std::to_string(mode));
            Wait = {&CableNamed(name), mode};
            LoadCable("");
            ExpectStopped(StopAfter(svf, "short.svf", "", std::chrono::milliseconds(400)));
            EXPECT_THAT(TraceWith(" scan dr "), testing::IsEmpty());
        }
    }
}

// A cable whose replies come slowly, or not at all: the wait for them (the
// Varnel's replies in flight, a read-back) ends at the stop, with no line
// of a cable gone.
TEST_F(StopDuringAWait, ACableWhoseRepliesComeSlowlyOrNeverEndsWithinASecond)
{
    const std::string scans = "FREQUENCY 1E6 HZ;\nSTATE RESET;\nSTATE IDLE;\nSIR 4 TDI (1);\n"
                              "SDR 400000 TDI (0) TDO (0);\nSDR 400000 TDI (0) TDO (0);\n";
    struct TCase {
        const char* Cable;
        const char* Members;
    } const cases[] = {
        {"Varnel", R"(,"faults":{"reply_interval_ms":50})"},
        {"Varnel", R"(,"faults":{"replies_stop_after":40})"},
        {"Mirrow", R"(,"faults":{"replies_stop_after":200})"},
        {"Druvel", R"(,"faults":{"replies_stop_after":40})"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Cable) + c.Members);
        Wait = {&CableNamed(c.Cable), 0};
        LoadCable(c.Members);
        // Well before a silent cable would be taken as gone.
        ExpectStopped(StopAfter(scans, "slow.svf", "", std::chrono::milliseconds(1500)));
    }
}

TEST_F(StopDuringAWait, ASixtySecondRuntestEndsWithinASecondOnEveryCable)
{
    const std::string ReadAroundAWait = "STATE RESET;\nSTATE IDLE;\nSIR 4 TDI (1);\n"
                                        "SDR 32 TDI (00000000) TDO (12345093);\nRUNTEST 60 SEC;\n"
                                        "SDR 32 TDI (00000000) TDO (12345093);\nSTATE RESET;\n";
    const TWaitCable cases[] = {
        {&CableNamed("Varnel"), 0}, {&CableNamed("Mirrow"), 0}, {&CableNamed("Varnel"), 2},
        {&CableNamed("Mirrow"), 2}, {&CableNamed("Druvel"), 2},
    };
    for (const TWaitCable& c : cases) {
        SCOPED_TRACE(std::string(c.Cable->Name) + " DefFreqRuntestTime " + std::to_string(c.TimeMode));
        Wait = c;
        LoadCable("");
        ExpectStopped(StopAfter(ReadAroundAWait, "wait.svf", "Waiting 60.0 seconds..."));
        // The scan after the wait never came.
        EXPECT_THAT(TraceWith(" scan dr "), testing::SizeIs(1));
    }
}

TEST_F(StopDuringAWait, ASixtySecondCountOrXruntestEndsWithinASecondOnEveryCable)
{
    // 60 s at the clock in force; a pipelined XSVF (no XREPEAT) whose
    // XRUNTEST waits 60 s after its first scan.
    const std::string count = "FREQUENCY 1E6 HZ;\nSTATE RESET;\nSTATE IDLE;\nSIR 4 TDI (1);\n"
                              "RUNTEST 60000000 TCK;\nSDR 32 TDI (00000000) TDO (12345093);\n";
    xsvftest::TXsvf xsvf;
    xsvf.RunTest(60000000).Sir(4, 1).SdrSize(32).TdoMask(0xFFFFFFFF).SdrTdo(0, 0x12345093).SdrTdo(0, 0x12345093);
    xsvf.Complete();
    const TWaitCable cases[] = {{&CableNamed("Varnel"), 0}, {&CableNamed("Mirrow"), 0}, {&CableNamed("Druvel"), 2}};
    for (const TWaitCable& c : cases) {
        SCOPED_TRACE(c.Cable->Name);
        Wait = c;
        {
            SCOPED_TRACE("RUNTEST 60000000 TCK");
            LoadCable("");
            Exec->DefFreqRuntestPuls = 4;
            Exec->RuntestRecalculate = 0;
            ExpectStopped(StopAfter(count, "count.svf", ""));
            EXPECT_THAT(TraceWith(" scan dr "), testing::IsEmpty());
        }
        {
            SCOPED_TRACE("XRUNTEST 60 s");
            LoadCable("");
            ExpectStopped(StopAfter(xsvf.Bytes(), "wait.xsvf", ""));
            EXPECT_LE(TraceWith(" scan dr ").size(), 1u);
        }
    }
}

// A stop during a long scan cuts it between two of the cable's commands:
// the run ends at once, the device sees the close next and takes no byte
// for what it is not.
TEST_F(StopDuringAWait, ASixteenSecondScanEndsWithinASecondOnEveryCable)
{
    struct TScan {
        const char* Name;
        const char* Statement;
    } const scans[] = {
        {"sent only", "SDR 16000000 TDI (0);\n"},
        {"read back", "SDR 16000000 TDI (0) TDO (0);\n"},
        // A loop's end flushes the exit walk: the walk must not follow the
        // cut (it would update the register with half its bits; on a
        // Druvel its bytes would be taken as block data).
        {"in a loop", "LOOP 2;\nSDR 16000000 TDI (0) TDO (0);\nENDLOOP;\n"},
    };
    const TWaitCable cases[] = {{&CableNamed("Varnel"), 0}, {&CableNamed("Mirrow"), 0}, {&CableNamed("Druvel"), 2}};
    for (const TWaitCable& c : cases) {
        for (const TScan& scan : scans) {
            SCOPED_TRACE(std::string(c.Cable->Name) + " " + scan.Name);
            Wait = c;
            LoadCable("");
            const std::string svf = std::string("FREQUENCY 1E6 HZ;\nSTATE RESET;\nSTATE IDLE;\nSIR 4 TDI (1);\n") +
                                    scan.Statement + "SIR 4 TDI (2);\n";
            std::mutex lock;
            std::vector<std::string> calls;
            FtSetTraceHook([&](const char* Text, bool) {
                const std::lock_guard<std::mutex> hold(lock);
                calls.emplace_back(Text);
            });
            // Stopped once the first SIR is on the chain: the long scan is
            // being written by then.
            ExpectStopped(StopAfter(svf, "scan.svf", "", std::chrono::milliseconds(1500), " scan ir "));
            FtSetTraceHook({});
            // The scan cut short was never ended, nor anything after it.
            EXPECT_THAT(TraceWith(" scan dr "), testing::IsEmpty());
            EXPECT_THAT(TraceWith(" scan ir "), testing::SizeIs(1));
            // A Druvel's data block cut short: the chip's bytes of it are
            // dropped, then the engine is reset; the others are closed as
            // after any run.
            // (The wrapper does not name the bit-mode call; the device's
            // trace has it.)
            if (std::string(c.Cable->Name) == "Druvel") {
                ASSERT_GE(calls.size(), 2u);
                EXPECT_THAT(std::vector<std::string>(calls.end() - 2, calls.end()),
                            testing::ElementsAre("FT_Purge", "FT_Close"));
                EXPECT_THAT(TraceWith(" mode reset"), Not(testing::IsEmpty()));
            } else {
                EXPECT_THAT(calls, Not(Contains("FT_Purge")));
            }
        }
    }
}

// A stop that comes while the cable is opened does not cut the open: every
// byte of it goes as it would without the stop, and the start then ends
// stopped with nothing played, the cable left for the front end to close.
TEST_F(StopDuringAWait, AStopDuringTheOpenLetsEveryByteOfItGoAndPlaysNothing)
{
    const std::string path = (Folder / "open.svf").string();
    std::ofstream(path) << "STATE RESET;\nSIR 4 TDI (1);\n";
    for (const char* name : {"Varnel", "Mirrow", "Druvel"}) {
        SCOPED_TRACE(name);
        Wait = {&CableNamed(name), 0};
        LoadCable(R"(,"trace_writes":true)");
        ASSERT_TRUE(Exec->OpenCable());
        const std::vector<std::string> opened = TraceWith("d2xx write ");
        ASSERT_FALSE(opened.empty());
        Exec->CloseCable(false);

        LoadCable(R"(,"trace_writes":true)");
        Exec->StopToken().Clear();
        // Asked as the open writes its first bytes.
        FtSetTraceHook([this](const char* Text, bool) {
            if (std::string(Text) == "FT_Write")
                Exec->StopToken().Ask();
        });
        EXPECT_FALSE(Exec->OpenAndStart(path));
        FtSetTraceHook({});
        EXPECT_TRUE(Exec->StartStopped);
        EXPECT_NE(Exec->FtHandle, nullptr);
        EXPECT_EQ(TraceWith("d2xx write "), opened);
        Exec->CloseCable(true);
        EXPECT_THAT(LogOf(MessageKind::Error), testing::IsEmpty());
        EXPECT_THAT(TraceWith(" scan "), testing::IsEmpty());
        EXPECT_THAT(TraceWith(" error "), testing::IsEmpty());
    }
}

TEST_F(StopDuringAWait, AnXc9500RetryRunEndsWithinASecondOnEveryCable)
{
    // Every attempt reads a value the file does not expect; each wait is
    // half as long again as the one before.
    struct TCase {
        const char* Why;
        uint8_t Attempts;
        uint32_t FirstWaitUs;
        const char* StopAfterLine; // the stop comes 300 ms into this wait
        const char* NeverLine;
        size_t MostScans;
    };
    const TCase cases[] = {
        // Days in all: the wait of the fourth retry, or of the fifth when
        // the stop came during the attempt before it, was the last.
        {"in an attempt of many", 255, 100000, "SD instruction: retry #4 with 506250us", "retry #6", 5},
        // After the last mismatch: its wait stopped says nothing of the
        // device, so no "failed after maximum retries".
        {"in the last attempt's wait", 3, 400000, "SD instruction: retry #3 with 1350000us", "retry #4", 3},
    };
    const TWaitCable cables[] = {{&CableNamed("Varnel"), 0}, {&CableNamed("Mirrow"), 0}, {&CableNamed("Druvel"), 2}};
    for (const TCase& c : cases)
        for (const TWaitCable& cable : cables) {
            SCOPED_TRACE(std::string(c.Why) + " on " + cable.Cable->Name);
            Wait = cable;
            LoadCable("");
            xsvftest::TXsvf file;
            file.Repeat(c.Attempts).RunTest(c.FirstWaitUs).Sir(4, 1).SdrSize(32).TdoMask(0xFFFFFFFF)
                .SdrTdo(0, 0x12345094).Complete();
            ExpectStopped(StopAfter(file.Bytes(), "retries.xsvf", c.StopAfterLine));
            EXPECT_THAT(LogOf(MessageKind::Info), Not(Contains(HasSubstr(c.NeverLine))));
            EXPECT_LE(TraceWith(" scan dr ").size(), c.MostScans);
        }
}

} // namespace
