#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <new>
#include <stdexcept>

#include "svf/svf.h"
#include "support/svf_testutil.h"
#include "svf/svf_thread.h"
#include "ticks.h"

namespace {

using svftest::TFakeCable;
using Strings = std::vector<std::string>;

const char* const Usb = "USB communication error";

// An 8-bit register that captures 0x01 once CaptureIndex reaches From
// (never when From is negative), else 0x00.
std::function<std::vector<uint8_t>(uint32_t, int)> CapturesOneFrom(int From)
{
    return [From](uint32_t, int index) { return svftest::BitsOf(From >= 0 && index >= From ? 1 : 0, 8); };
}

class SvfWorker : public testing::Test {
protected:
    void TearDown() override
    {
        player.reset();
        SetSvfCommentSwitch(nullptr);
        platform::SetClockForTest(nullptr, nullptr);
    }

    TSVFFile& Load(const std::string& content)
    {
        path = dir.Write("run.svf", content);
        player = std::make_unique<TSVFFile>(path);
        cable.Attach(*player);
        return *player;
    }

    FileStatus Run(const std::string& content, int32_t frequency = 1000000)
    {
        Load(content);
        started = player->Start(frequency);
        return svftest::RunToEnd(*player);
    }

    std::unique_ptr<TSVFFile> player;
    TFakeCable cable;
    svftest::TTempDir dir;
    std::string path;
    bool started = false;
};

TEST_F(SvfWorker, EmptyFileIsResetAndTwoFlushes)
{
    EXPECT_EQ(Run(""), FileStatus::Succeeded);
    EXPECT_TRUE(started);
    EXPECT_EQ(cable.Tms, "111111");
    EXPECT_EQ(cable.Calls, (Strings{"freq 1000000 apply", "flush", "flush"}));
    EXPECT_TRUE(cable.Messages.empty());
    EXPECT_EQ(player->GetPosition(), 8) << "the parser reads the end text once";
}

TEST_F(SvfWorker, PlaysAFileThroughTheChain)
{
    cable.DrCapture = [](uint32_t ir, int) {
        return ir == 0x01 ? svftest::BitsOf(0xF6E5F093u, 32) : std::vector<uint8_t>{0};
    };
    const std::string content = "TRST OFF;\nENDIR IDLE;\nSTATE RESET IDLE;\nFREQUENCY 1E6 HZ;\n"
                                "SIR 8 TDI (01) TDO (01) MASK (03);\n"
                                "SDR 32 TDI (00000000) TDO (f6e5f093) MASK (0fff8fff);\n"
                                "RUNTEST 100 TCK;\nSTATE IDLE;\n";
    EXPECT_EQ(Run(content, 3000000), FileStatus::Succeeded) << (cable.Messages.empty() ? "" : cable.Messages[0].first);
    EXPECT_TRUE(cable.Violations.empty());
    EXPECT_EQ(cable.State, TapState::IDLE);
    EXPECT_EQ(cable.Count("shift"), 2);
    EXPECT_GE(cable.Count("read"), 2) << "data arrives only with the final flush";
    EXPECT_EQ(player->GetPosition(), player->GetSize() + 8);
    EXPECT_EQ(cable.Calls.front(), "freq 3000000 apply");
}

TEST_F(SvfWorker, MismatchEndsTheRunWithItsReport)
{
    EXPECT_EQ(Run("SDR 8 TDI (00) TDO (01) MASK (FF);\nSTATE IDLE;\n"), FileStatus::Failed);
    EXPECT_EQ(cable.MessagesOf(MessageKind::Error),
              (Strings{"Error on SDR instruction: ", "Expected: 1000 0000 ", "Read:     0000 0000 "}));
}

TEST_F(SvfWorker, ParseErrorNamesItsLine)
{
    std::string content;
    for (int i = 0; i < 11; ++i)
        content += "STATE IDLE;\n";
    content += "SDR 8 TDI (00) XYZ;\nSTATE IDLE;\n";
    EXPECT_EQ(Run(content), FileStatus::Failed);
    EXPECT_EQ(cable.MessagesOf(MessageKind::Error),
              Strings{"Fatal error Unknown keyword XYZ near line 12\r\n\"SDR 8 TDI (00) XYZ;\""});
}

// Files that once played wrongly and still ended with status 2: each is
// now a line error, and nothing of the faulty statement reaches the chain.
TEST_F(SvfWorker, MalformedFilesFailBeforeTheirStatementClocks)
{
    const struct {
        const char* content;
        const char* error;
    } cases[] = {
        {"STATE IDLE;\nRUNTEST IRSELECT 1 TCK;\nSDR 8 TDI (00);\n",
         "Fatal error IRSELECT is not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE) near line 2\r\n"
         "\"RUNTEST IRSELECT 1 TCK;\""},
        {"STATE IDLE;\nLOOP 0;\nSDR 8 TDI (00) TDO (FF);\nENDLOOP;\n",
         "Fatal error LOOP count 0 is below 1 near line 2\r\n\"LOOP 0;\""},
        {"STATE IDLE;\nENDLOOP;\n", "Fatal error ENDLOOP without LOOP near line 2\r\n\"ENDLOOP;\""},
        {"STATE IDLE;\nSDR 8 TDI (00)\n",
         "Fatal error Missing ';' at the end of the statement near line 2\r\n\"SDR 8 TDI (00)\""},
    };
    for (const auto& c : cases) {
        cable = TFakeCable{};
        EXPECT_EQ(Run(c.content), FileStatus::Failed) << c.content;
        EXPECT_EQ(cable.MessagesOf(MessageKind::Error), Strings{c.error});
        EXPECT_EQ(cable.Tms, "1111110") << "the opening reset and STATE IDLE only: " << c.content;
        EXPECT_EQ(cable.Count("shift"), 0) << c.content;
        EXPECT_TRUE(cable.Violations.empty()) << c.content;
        player.reset();
    }
}

TEST_F(SvfWorker, ANumberThatDoesNotReadNamesItsLine)
{
    EXPECT_EQ(Run("RUNTEST ABC;\n"), FileStatus::Failed);
    EXPECT_EQ(cable.MessagesOf(MessageKind::Error),
              Strings{"Fatal error 'ABC' is not a valid integer value near line 1\r\n\"RUNTEST ABC;\""});
}

TEST_F(SvfWorker, CommentsFollowTheDesktopSwitch)
{
    const struct {
        const char* name;
        TSvfCommentSwitch commentSwitch;
        Strings comments;
    } cases[] = {
        {"no main window", nullptr, {"! one", "// two"}},
        {"switch on", [] { return true; }, {"! one", "// two"}},
        {"switch off", [] { return false; }, {}},
    };
    for (const auto& c : cases) {
        cable = TFakeCable{};
        SetSvfCommentSwitch(c.commentSwitch);
        EXPECT_EQ(Run("! one\nSTATE IDLE; // two\nSTATE RESET;\n"), FileStatus::Succeeded) << c.name;
        EXPECT_EQ(cable.MessagesOf(MessageKind::Comment), c.comments) << c.name;
        player.reset();
    }
}

TEST_F(SvfWorker, StartFrequencyIsEveryParsersDefault)
{
    EXPECT_EQ(Run("FREQUENCY;\n", 2500000), FileStatus::Succeeded);
    EXPECT_EQ(cable.Calls, (Strings{"freq 2500000 apply", "flush", "freq 2500000 test", "freq 2500000 apply", "flush"}));
}

TEST_F(SvfWorker, FailedFirstFrequencyStopsTheRunAtOnce)
{
    cable.FailAt["freq"] = 1;
    EXPECT_EQ(Run("STATE IDLE;\nSDR 8 TDI (00);\n"), FileStatus::Failed);
    EXPECT_FALSE(started);
    EXPECT_EQ(cable.Calls, Strings{"freq 1000000 apply"}) << "no play on a cable that failed";
    EXPECT_EQ(cable.Tms, "");
    EXPECT_TRUE(cable.Messages.empty()) << "the executor reports it";
}

TEST_F(SvfWorker, UsbFailureAtEachKindOfEvent)
{
    const struct {
        const char* name;
        const char* content;
        const char* event;
        int call;
    } cases[] = {
        {"opening reset walk", "STATE IDLE;", "tms", 2},
        {"opening flush", "STATE IDLE;", "flush", 1},
        {"walk", "STATE IDLE; STATE DRPAUSE;", "tms", 9},
        {"shift", "SDR 8 TDI (00);", "shift", 1},
        {"read", "SDR 8 TDI (00) TDO (00);", "read", 1},
        {"flush of a loop pass", "LOOP 2; STATE IDLE; ENDLOOP;", "flush", 2},
        {"final flush", "STATE IDLE;", "flush", 2},
        {"run-test time", "RUNTEST 1 SEC;", "time", 1},
        {"run-test clocks", "RUNTEST 5 TCK;", "clocks", 1},
        {"TRST", "TRST ON;", "trst", 1},
        {"frequency test", "FREQUENCY 1E6 HZ;", "freq", 2},
        {"frequency change", "FREQUENCY 1E6 HZ;", "freq", 3},
    };
    for (const auto& c : cases) {
        cable = TFakeCable{};
        cable.FailAt[c.event] = c.call;
        EXPECT_EQ(Run(c.content), FileStatus::Failed) << c.name;
        EXPECT_EQ(cable.MessagesOf(MessageKind::Error), Strings{Usb}) << c.name;
        player.reset();
    }
}

TEST_F(SvfWorker, ReadAnsweringNotYetIsAskedAgain)
{
    const struct {
        const char* content;
        FileStatus status;
    } cases[] = {
        {"SDR 8 TDI (00) TDO (00);", FileStatus::Succeeded},
        {"SDR 8 TDI (00) TDO (FF);", FileStatus::Failed},
    };
    for (const auto& c : cases) {
        cable = TFakeCable{};
        cable.DataAfterFlush = false;
        cable.NotYetAnswers = 5;
        EXPECT_EQ(Run(c.content), c.status) << c.content;
        EXPECT_EQ(cable.Reads, 6) << c.content;
        player.reset();
    }
}

TEST_F(SvfWorker, WaitingForDataDoesNotSpinForEver)
{
    std::atomic<int> sleeps{0};
    platform::SetClockForTest([] { return 0u; }, [&](uint32_t) { ++sleeps; });
    cable.NotYetAnswers = 2000;
    EXPECT_EQ(Run("SDR 8 TDI (00) TDO (00);"), FileStatus::Succeeded);
    EXPECT_GT(sleeps.load(), 1000) << "the worker sleeps while nothing advances";
    EXPECT_LT(sleeps.load(), 2000) << "and yields first";
}

TEST_F(SvfWorker, StatusReadFromAnotherThread)
{
    const struct {
        const char* content;
        FileStatus status;
    } cases[] = {{"SDR 8 TDI (00) TDO (00);", FileStatus::Succeeded}, {"SDR 8 TDI (00) TDO (01);", FileStatus::Failed}};
    for (const auto& c : cases) {
        cable = TFakeCable{};
        std::promise<void> entered;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        int flushes = 0;
        cable.BeforeEvent = [&](const std::string& event) {
            if (event == "flush" && ++flushes == 2) {
                entered.set_value();
                released.wait();
            }
        };
        Load(c.content);
        ASSERT_TRUE(player->Start(1000));
        entered.get_future().wait(); // the worker is held in its final flush
        EXPECT_EQ(player->GetStatus(), FileStatus::Running) << c.content;
        const int32_t position = player->GetPosition();
        EXPECT_GT(position, 0);
        EXPECT_LE(position, player->GetSize() + 8);
        release.set_value();
        EXPECT_EQ(svftest::RunToEnd(*player), c.status) << c.content;
        EXPECT_EQ(player->GetStatus(), c.status) << "a finished status is final";
        player.reset();
    }
}

TEST_F(SvfWorker, ExceptionsOfAnyClassEndTheRun)
{
    const struct {
        const char* event;
        std::function<void()> raise;
        const char* message;
    } cases[] = {
        {"tms", [] { throw Exception("Cable gone"); }, "Fatal error Cable gone"}, // in the opening walk
        {"shift", [] { throw std::bad_alloc(); }, "Fatal error Out of memory"},
        {"clocks", [] { throw std::runtime_error("odd"); }, "Fatal error odd"},
        {"trst", [] { throw 42; }, "Fatal error Unknown exception"},
    };
    for (const auto& c : cases) {
        cable = TFakeCable{};
        cable.BeforeEvent = [&](const std::string& event) {
            if (event == c.event)
                c.raise();
        };
        EXPECT_EQ(Run("STATE IDLE; SDR 8 TDI (00); RUNTEST 5 TCK; TRST ON;"), FileStatus::Failed) << c.event;
        EXPECT_EQ(cable.MessagesOf(MessageKind::Error), Strings{c.message}) << c.event;
        player.reset();
    }
}

// The worker driven directly with a stop of its own: a stop asked in the
// middle of a run must end it as failed at the next turn, never let it play
// on to a success.
TEST_F(SvfWorker, StopRequestDuringARunEndsItAsFailed)
{
    path = dir.Write("run.svf", "SDR 8 TDI (00);\nSDR 8 TDI (00);\nSTATE IDLE;\n");
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    int shifts = 0;
    cable.BeforeEvent = [&](const std::string& event) {
        if (event == "shift" && ++shifts == 1) {
            entered.set_value();
            released.wait();
        }
    };
    platform::TStopToken stop;
    TReadWriteThread thread(stop);
    thread.ReadParser = std::make_unique<TSVFFile>(path);
    thread.WriteParser = std::make_unique<TSVFFile>(path);
    cable.Attach(*thread.WriteParser);
    thread.ReadParser->OnRead = thread.WriteParser->OnRead;
    thread.ReadParser->CopyComments = false;
    ASSERT_TRUE(thread.Resume());
    entered.get_future().wait(); // the worker is held in the first shift
    stop.Ask();
    EXPECT_EQ(thread.Status(), FileStatus::Running) << "asked to stop is not finished";
    release.set_value();
    while (thread.Status() == FileStatus::Running)
        std::this_thread::yield();
    EXPECT_EQ(thread.Status(), FileStatus::Failed);
    EXPECT_TRUE(thread.ErrorFlag());
    EXPECT_EQ(cable.Count("shift"), 1) << "nothing is played after the stop request";
}

TEST_F(SvfWorker, SecondStartIsRefused)
{
    Load("STATE IDLE;");
    ASSERT_TRUE(player->Start(1000));
    EXPECT_FALSE(player->Start(1000));
    EXPECT_EQ(svftest::RunToEnd(*player), FileStatus::Succeeded);
    EXPECT_EQ(cable.Count("freq"), 1);
}

TEST_F(SvfWorker, ParserThatCannotOpenLeavesNoThreadToWaitFor)
{
    Load("STATE IDLE;");
    ASSERT_EQ(std::remove(path.c_str()), 0);
    try {
        player->Start(1000);
        FAIL() << "started";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + path + " for read.");
    }
    EXPECT_EQ(player->GetStatus(), FileStatus::Running) << "not started";
    player.reset(); // must not wait for a thread that never ran
    EXPECT_TRUE(cable.Calls.empty());
}

TEST_F(SvfWorker, LoopPassesWaitForTheReadBackVerdict)
{
    const struct {
        const char* name;
        int passes;
        int matchFrom; // capture index from which the SDR matches; -1 never
        FileStatus status;
        int shifts;
    } cases[] = {
        {"match in pass 1", 5, 0, FileStatus::Succeeded, 1},
        {"match in pass 2", 5, 1, FileStatus::Succeeded, 2},
        {"match in the last pass", 3, 2, FileStatus::Succeeded, 3},
        {"never", 3, -1, FileStatus::Failed, 3},
    };
    for (const auto& c : cases) {
        cable = TFakeCable{};
        cable.DrCapture = CapturesOneFrom(c.matchFrom);
        const std::string content = "STATE IDLE;\nLOOP " + std::to_string(c.passes) +
                                    ";\nSDR 8 TDI (00) TDO (01);\nRUNTEST 10 TCK;\nENDLOOP;\nSTATE DRPAUSE;\n";
        EXPECT_EQ(Run(content), c.status) << c.name;
        // The write side waits at every in-loop ENDLOOP, so it never shifts
        // a pass beyond the one that matched.
        EXPECT_EQ(cable.Count("shift"), c.shifts) << c.name;
        EXPECT_EQ(cable.Count("clocks"), c.shifts) << c.name;
        if (c.status == FileStatus::Succeeded) {
            EXPECT_EQ(cable.State, TapState::DRPAUSE) << c.name << ": goes on after ENDLOOP";
            EXPECT_TRUE(cable.MessagesOf(MessageKind::Error).empty()) << c.name;
        } else {
            EXPECT_EQ(cable.MessagesOf(MessageKind::Error).size(), 3u) << c.name << ": the last pass reports";
        }
        EXPECT_TRUE(cable.Violations.empty()) << c.name;
        player.reset();
    }
}

TEST_F(SvfWorker, ReadBackComparesWithWhatEachStatementLeaves)
{
    // The read side is handed each statement by the write side: what a
    // statement leaves for the next (a MASK kept, a TDO not) must be what
    // it would have kept parsing the file itself.
    const struct {
        const char* name;
        std::string content;
        std::function<std::vector<uint8_t>(uint32_t, int)> capture;
        FileStatus status;
        int shifts;
    } cases[] = {
        {"a MASK kept for the next SDR", "SDR 8 TDI (00) TDO (01) MASK (0F);\nSDR 8 TDI (00) TDO (F1);\n",
         CapturesOneFrom(0), FileStatus::Succeeded, 2},
        {"a kept MASK still checks", "SDR 8 TDI (00) TDO (01) MASK (0F);\nSDR 8 TDI (00) TDO (F3);\n",
         CapturesOneFrom(0), FileStatus::Failed, 2},
        {"a TDO not kept", "SDR 8 TDI (00) TDO (01);\nSDR 8 TDI (00);\n",
         [](uint32_t, int index) { return svftest::BitsOf(index == 0 ? 1 : 0, 8); }, FileStatus::Succeeded, 2},
        {"a MASK in a replayed pass", "LOOP 3;\nSDR 8 TDI (00) TDO (F1) MASK (0F);\nENDLOOP;\n", CapturesOneFrom(1),
         FileStatus::Succeeded, 2},
    };
    for (const auto& c : cases) {
        cable = TFakeCable{};
        cable.DrCapture = c.capture;
        EXPECT_EQ(Run(c.content), c.status) << c.name;
        EXPECT_EQ(cable.Count("shift"), c.shifts) << c.name;
        EXPECT_TRUE(cable.Violations.empty()) << c.name;
        player.reset();
    }
}

TEST(SvfRegistration, RegistersUnderSvf)
{
    delete JtagFilesList;
    JtagFilesList = nullptr;
    RegisterSvfPlayer();
    ASSERT_NE(JtagFilesList, nullptr);
    ASSERT_EQ(JtagFilesList->Count(), 1);
    EXPECT_EQ(JtagFilesList->Items(0).Extension, "SVF");
    svftest::TTempDir dir;
    const std::string path = dir.Write("x.svf", "");
    for (const char* ext : {"svf", ".svf", ".SVF", "Svf"}) {
        auto player = JtagFilesList->CreateFileObject(ext, path);
        EXPECT_NE(dynamic_cast<TSVFFile*>(player.get()), nullptr) << ext;
        EXPECT_EQ(player->GetStatus(), FileStatus::Running) << "not started";
    }
    delete JtagFilesList;
    JtagFilesList = nullptr;
}

} // namespace
