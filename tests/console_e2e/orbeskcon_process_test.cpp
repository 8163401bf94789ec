// orbeskcon among other processes: signals from a terminal or a service
// manager, a reader of its output that goes away, and a second program on
// the same cable.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

#include "e2e_fixture.h"
#include "support/xsvf_bytes.h"

namespace {

using namespace e2e;
using testing::Contains;
using testing::ElementsAre;
using testing::EndsWith;

// What the Varnel sends last when it is closed: the pins parked.
const std::string ClosingBytes = "bytes=4 last=A3 A8 EC C8";

class OrbeskconAmongProcesses : public TOrbeskconTest {
protected:
    void SetUp() override
    {
        TOrbeskconTest::SetUp();
        // Replies paced at 3 ms each, ten a scan: about 30 ms a scan of
        // real time on any machine.
        ScenarioText = Scenario({Varnel("A6010001", "\"faults\":{\"reply_interval_ms\":3}")});
    }

    // Scans, each after a comment line, so that the log keeps writing.
    std::string PacedSvf(const std::string& Name, int Scans)
    {
        std::string text = "STATE RESET;\nSTATE IDLE;\n";
        for (int i = 0; i < Scans; ++i)
            text += "! scan " + std::to_string(i) + "\nSDR 32 TDI (00000000) TDO (0ABC1DEF);\n";
        return Write(Name, text);
    }

    size_t Scans() const { return TraceWith(" scan dr ").size(); }
    // The last close of the cable, as the emulator saw it.
    std::string LastClose() const
    {
        const std::vector<std::string> closes = TraceWith("varnel:A6010001 close ");
        return closes.empty() ? "" : closes.back();
    }
};

// About 30 s when nothing stops it.
constexpr int LongScans = 1000;

// A cable a stop signal is tried on, with the proof in the trace that it
// was closed as after any run: the last of the lines that the close writes
// shows it.
struct TStoppedCable {
    const char* Name;
    std::string Device;
    std::vector<std::string> Options;
    std::string Opened; // what the open did, to be undone
    std::string CloseLine;
    std::string Closed;
};

TEST_F(OrbeskconAmongProcesses, AStopSignalEndsTheRunAsAFailedOneThroughTheCablesClose)
{
    const std::string file = PacedSvf("long.svf", LongScans);
    struct TCase {
        int Signal;
        std::vector<std::string> Args;
    };
    const TCase cases[] = {
        {SIGINT, {file}},
        {SIGTERM, {file}},
        {SIGHUP, {file}},
        // Whoever sent the signal wants the program ended, not waiting.
        {SIGINT, {"-w", file}},
    };
    const std::string paced = "\"faults\":{\"reply_interval_ms\":3}";
    const TStoppedCable cables[] = {
        // The pins parked.
        {"Varnel", Varnel("A6010001", paced), {}, "varnel:A6010001 setup byte=A7", "varnel:A6010001 close ",
         ClosingBytes},
        // Out of MPSSE mode.
        {"Druvel", Druvel("A6123456", TwoDevices + "," + paced), {"-druvel"}, "druvel:A6123456 mode mpsse",
         "druvel:A6123456 mode ", "mode reset"},
        // The target it powered switched off.
        {"Mirrow", Mirrow("A6040001", TwoDevices + ",\"target\":{\"supply\":\"cable\"}," + paced),
         {"-mirrow", "-i", Write("mirrow.ini", "[Params]\nMirrowVddOut=1\n")}, "mirrow:A6040001 power on",
         "mirrow:A6040001 power ", "power off"},
    };
    for (const TStoppedCable& cable : cables)
        for (const TCase& c : cases) {
            SCOPED_TRACE(testing::Message() << cable.Name << " " << strsignal(c.Signal) << " "
                                            << testing::PrintToString(c.Args));
            ScenarioText = Scenario({cable.Device});
            std::filesystem::remove(TracePath);
            std::vector<std::string> args = cable.Options;
            args.insert(args.end(), c.Args.begin(), c.Args.end());
            // Its input stays open: a wait for Enter would never end.
            std::unique_ptr<TChild> child = Start(args);
            ASSERT_TRUE(child->ReadUntil("! scan 3\n", RunLimitMs));
            const auto sent = std::chrono::steady_clock::now();
            child->SendSignal(c.Signal);
            const TRunResult r = child->Finish(RunLimitMs);
            const auto took = std::chrono::steady_clock::now() - sent;
            ASSERT_FALSE(r.TimedOut);
            EXPECT_EQ(r.Signal, 0);
            EXPECT_EQ(r.Status, 1);
            ASSERT_FALSE(r.OutLines().empty());
            EXPECT_EQ(r.OutLines().back(), FailureLine);
            // Ended soon, far from the read-back's own end, and closed.
            EXPECT_LT(took, std::chrono::seconds(3));
            EXPECT_THAT(TraceWith(cable.Opened), testing::Not(testing::IsEmpty()));
            const std::vector<std::string> closes = TraceWith(cable.CloseLine);
            ASSERT_FALSE(closes.empty());
            EXPECT_THAT(closes.back(), testing::HasSubstr(cable.Closed));
        }
}

TEST_F(OrbeskconAmongProcesses, AStopSignalEndsAnXsvfRunTheSameWay)
{
    // Both IDCODEs read a thousand times: about 30 s of paced replies.
    xsvftest::TXsvf xsvf;
    xsvf.State(0).State(1).Sir(12, 0x101).SdrSize(64).TdoMask(~uint64_t{0});
    for (int i = 0; i < LongScans; ++i)
        xsvf.SdrTdo(0, 0x123450930ABC1DEFull);
    const std::string file = Write("long.xsvf", xsvf.Complete().Bytes());
    ScenarioText = Scenario({Varnel("A6010001", TwoDevices + ",\"faults\":{\"reply_interval_ms\":3}")});
    std::unique_ptr<TChild> child = Start({file});
    ASSERT_TRUE(child->ReadUntil("Reading file " + file + "\n", RunLimitMs));
    // Under way for a while, far from its end.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto sent = std::chrono::steady_clock::now();
    child->SendSignal(SIGTERM);
    const TRunResult r = child->Finish(RunLimitMs);
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.Signal, 0);
    EXPECT_EQ(r.Status, 1);
    ASSERT_FALSE(r.OutLines().empty());
    EXPECT_EQ(r.OutLines().back(), FailureLine);
    // Stopped, not failed on its own.
    for (const std::string& line : r.OutLines())
        EXPECT_TRUE(line.rfind("Error", 0) != 0 && line.rfind("Fatal", 0) != 0) << line;
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(3));
    EXPECT_THAT(LastClose(), EndsWith(ClosingBytes));
}

TEST_F(OrbeskconAmongProcesses, OneStopSignalEndsALongWaitAtOnceAndSwitchesThePoweredTargetOff)
{
    // A Mirrow that takes its bytes at its own pace, as a real one: the
    // minute of the wait passes on the device, not in a queue.
    ScenarioText = Scenario({Mirrow("A6040001", TwoDevices + ",\"target\":{\"supply\":\"cable\"},\"paced\":true")});
    const std::string ini = Write("mirrow.ini", "[Params]\nMirrowVddOut=1\nDefFreqRuntestTime=0\n");
    const std::string file = Write("wait.svf", "STATE RESET;\nSTATE IDLE;\nRUNTEST 60 SEC;\nSTATE RESET;\n");
    const std::string stopping = "Stopping: closing the cable. Press Ctrl-C again to quit at once.";
    // A child started from a script in the background would ignore SIGINT
    // from the start, and so keep ignoring it: it gets the default here.
    struct TDefaultSigint {
        struct sigaction Saved = {};
        TDefaultSigint()
        {
            sigaction(SIGINT, nullptr, &Saved);
            signal(SIGINT, SIG_DFL);
        }
        ~TDefaultSigint() { sigaction(SIGINT, &Saved, nullptr); }
    } defaultSigint;
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(sig));
        std::filesystem::remove(TracePath);
        std::unique_ptr<TChild> started = Start({"-mirrow", "-i", ini, file});
        TChild& child = *started;
        ASSERT_TRUE(child.ReadUntil("Waiting 60.0 seconds...\n", RunLimitMs));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto sent = std::chrono::steady_clock::now();
        child.SendSignal(sig);
        // The line comes at once, while the run is still ending.
        EXPECT_TRUE(child.ReadUntil(stopping + "\n", 5000));
        const TRunResult r = child.Finish(RunLimitMs);
        const auto took = std::chrono::steady_clock::now() - sent;
        ASSERT_FALSE(r.TimedOut);
        EXPECT_EQ(r.Signal, 0);
        EXPECT_EQ(r.Status, 1);
        EXPECT_LT(took, std::chrono::seconds(5));
        const std::vector<std::string> out = r.OutLines();
        ASSERT_GE(out.size(), 3u);
        EXPECT_THAT(std::vector<std::string>(out.end() - 3, out.end()),
                    ElementsAre(stopping, "Run stopped by a signal.", FailureLine));
        EXPECT_EQ(std::count(out.begin(), out.end(), stopping), 1);
        const std::vector<std::string> power = TraceWith("mirrow:A6040001 power ");
        ASSERT_GE(power.size(), 2u);
        EXPECT_THAT(power.front(), testing::HasSubstr("power on"));
        EXPECT_THAT(power.back(), EndsWith("power off"));
    }
}

TEST_F(OrbeskconAmongProcesses, AStopSignalDuringTheWaitForTheSearchLockSaysSoToo)
{
    // Another program searching: the lock file of this test run's folder held.
    const char* folder = std::getenv("ORBESK_SEARCH_LOCK_DIR");
    ASSERT_NE(folder, nullptr);
    const int held = open((std::string(folder) + "/FTDI_KALDOR_SEARCH.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    std::unique_ptr<TChild> child = Start({PacedSvf("long.svf", 3)});
    EXPECT_TRUE(child->ReadUntil("Waiting for another program that is searching for JTAG cables...\n", RunLimitMs));
    child->SendSignal(SIGTERM);
    const TRunResult r = child->Finish(RunLimitMs);
    close(held);
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.Status, 1);
    // No cable was open yet.
    EXPECT_THAT(r.OutLines(), ElementsAre("Waiting for another program that is searching for JTAG cables...",
                                          "Stopping. Press Ctrl-C again to quit at once.",
                                          "Run stopped by a signal."));
}

TEST_F(OrbeskconAmongProcesses, OneStopSignalEndsARunWhoseReaderHasStoppedReading)
{
    // A pager left waiting: comment lines fill the pipe while the run goes on.
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (int i = 0; i < LongScans; ++i)
        text += "! " + std::string(200, 'c') + "\nSDR 32 TDI (00000000) TDO (0ABC1DEF);\n";
    std::unique_ptr<TChild> child = Start({Write("chatty.svf", text)});
    ASSERT_TRUE(child->AwaitFullOutput(RunLimitMs));
    child->SendSignal(SIGINT);
    // Still not read: the stop must not wait for the reader.
    EXPECT_TRUE(child->AwaitExitUnread(RunLimitMs));
    const TRunResult r = child->Finish(RunLimitMs);
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.Signal, 0);
    EXPECT_EQ(r.Status, 1);
    EXPECT_LT(Scans(), size_t{LongScans});
    EXPECT_THAT(LastClose(), EndsWith(ClosingBytes));
}

// Waits until Signal is no longer pending for the process: its handler has
// run. Two signals of one kind sent at once would count as one.
void AwaitDelivery(pid_t Pid, int Signal)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    const unsigned long long bit = 1ull << (Signal - 1);
    while (std::chrono::steady_clock::now() < end) {
        bool pending = false;
        std::istringstream status(ReadText("/proc/" + std::to_string(Pid) + "/status"));
        for (std::string line; std::getline(status, line);)
            if (line.rfind("State:\tZ", 0) == 0)
                return; // ended already
            else if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0)
                pending = pending || (std::stoull(line.substr(7), nullptr, 16) & bit);
        if (!pending)
            return;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

TEST_F(OrbeskconAmongProcesses, ASecondStopSignalEndsTheProgramAtOnce)
{
    const std::string file = PacedSvf("long.svf", LongScans);
    const std::pair<int, int> cases[] = {{SIGINT, SIGINT}, {SIGINT, SIGTERM}, {SIGTERM, SIGHUP}};
    for (const auto& [first, second] : cases) {
        SCOPED_TRACE(std::string(strsignal(first)) + " then " + strsignal(second));
        std::unique_ptr<TChild> child = Start({file});
        ASSERT_TRUE(child->ReadUntil("! scan 3\n", RunLimitMs));
        child->SendSignal(first);
        AwaitDelivery(child->Pid(), first);
        // The run is still ending: the poll loop looks again after 50 ms.
        child->SendSignal(second);
        const TRunResult r = child->Finish(RunLimitMs);
        ASSERT_FALSE(r.TimedOut);
        // Ended by the signal itself, as a program without a handler is, so
        // that a calling shell sees the interrupt.
        EXPECT_EQ(r.Signal, second);
        EXPECT_THAT(r.OutLines(), testing::Not(Contains(FailureLine)));
    }
}

TEST_F(OrbeskconAmongProcesses, AReaderThatGoesAwayLeavesTheRunToItsEnd)
{
    constexpr int scans = 40;
    const std::string file = PacedSvf("paced.svf", scans);
    // Closed before anything was read, and after the first line.
    for (const char* readFirst : {"", "Using VARNEL S/N A6010001\n"}) {
        SCOPED_TRACE(std::string("closed after \"") + readFirst + "\"");
        std::filesystem::remove(TracePath);
        std::unique_ptr<TChild> child = Start({file});
        child->CloseIn();
        if (*readFirst) {
            ASSERT_TRUE(child->ReadUntil(readFirst, RunLimitMs));
        }
        child->CloseOut();
        const TRunResult r = child->Finish(RunLimitMs);
        ASSERT_FALSE(r.TimedOut);
        EXPECT_EQ(r.Signal, 0);
        EXPECT_EQ(r.Status, 0);
        EXPECT_EQ(r.Err, "");
        EXPECT_EQ(Scans(), size_t{scans});
        EXPECT_THAT(LastClose(), EndsWith(ClosingBytes));
    }
}

TEST_F(OrbeskconAmongProcesses, ASecondProgramFindsTheCableHeldAndTheFirstPlaysOn)
{
    constexpr int scans = 60;
    const std::string first = PacedSvf("first.svf", scans);
    const std::string second = Write("second.svf", IdcodeSvf(true));
    std::unique_ptr<TChild> holder = Start({first});
    holder->CloseIn();
    ASSERT_TRUE(holder->ReadUntil("! scan 1\n", RunLimitMs));

    struct TCase {
        std::vector<std::string> Args;
        std::vector<std::string> Out;
    };
    const TCase cases[] = {
        {{second},
         {"No free JTAG cable: 1 FTDI device is in use by another program.",
          "Fatal error: No JTAG cable is selected.", "Fatal error: Cannot open any JTAG cable."}},
        {{"-s", "A6010001", second},
         {"No free VARNEL S/N A6010001: 1 FTDI device is in use by another program; when it is that cable, try again once the other program has let it go.",
          "Fatal error: Cannot find VARNEL", "Fatal error: Cannot open any JTAG cable."}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Args));
        const TRunResult r = Run(c.Args);
        EXPECT_THAT(r.OutLines(), testing::ElementsAreArray(c.Out));
        EXPECT_EQ(r.Status, 2);
    }
    EXPECT_TRUE(holder->Running()) << "the first program did not outlast the second";
    const TRunResult r = holder->Finish(RunLimitMs);
    EXPECT_EQ(r.Status, 0);
    ASSERT_FALSE(r.OutLines().empty());
    EXPECT_EQ(r.OutLines().back(), SuccessLine);
    EXPECT_EQ(Scans(), size_t{scans});
    // Only the first set the cable up; the second was refused at its open.
    EXPECT_THAT(VarnelsSetUp(), ElementsAre("varnel:A6010001"));
    EXPECT_THAT(TraceWith("open-refused A6010001 open in another process"), testing::Not(testing::IsEmpty()));
}

TEST_F(OrbeskconAmongProcesses, TheCableIsFreeAgainOnceItsHolderHasEndedHoweverItEnded)
{
    const std::string file = PacedSvf("long.svf", LongScans);
    const std::string quick = Write("quick.svf", IdcodeSvf(true));
    ScenarioText = Scenario({Varnel("A6010001", TwoDevices + ",\"faults\":{\"reply_interval_ms\":3}")});
    std::unique_ptr<TChild> holder = Start({file});
    ASSERT_TRUE(holder->ReadUntil("! scan 1\n", RunLimitMs));
    holder->SendSignal(SIGKILL);
    EXPECT_FALSE(holder->Finish(RunLimitMs).TimedOut);
    const TRunResult r = Run({quick});
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_THAT(r.OutLines(), Contains(SuccessLine));
}

} // namespace
