// The XSVF worker: pipelined play and the XC9500 method through Start, the
// outcome and its status, progress, and the ways a run ends early.
#include <gmock/gmock.h>

#include <filesystem>
#include <future>

#include "xsvf/xsvf_thread.h"
#include "xsvf_test_util.h"

namespace {

using svftest::TFakeCable;
using xsvftest::RaisedBy;
using xsvftest::RunToEnd;
using xsvftest::TXsvf;
using Strings = std::vector<std::string>;
using testing::ElementsAre;
using testing::IsEmpty;

const char* const Usb = "USB communication error";

// The data register of instruction 1 captures this 32-bit value.
constexpr uint32_t IdCode = 0xF6E5F093;

TXsvf ReadIdCode(uint32_t Expected)
{
    return TXsvf().Sir(8, 1).SdrSize(32).TdoMask(0xFFFFFFFF).SdrTdo(0, Expected);
}

class XsvfWorker : public testing::Test {
protected:
    void SetUp() override
    {
        cable.DrCapture = [](uint32_t ir, int) {
            return ir == 1 ? svftest::BitsOf(IdCode, 32) : std::vector<uint8_t>{0};
        };
    }

    TXSVFFile& Load(const TXsvf& File)
    {
        path = dir.Write("run.xsvf", File.Bytes());
        player = std::make_unique<TXSVFFile>(path);
        cable.Attach(*player);
        return *player;
    }

    FileStatus Run(const TXsvf& File)
    {
        Load(File);
        started = player->Start(1000000);
        return RunToEnd(*player);
    }

    std::unique_ptr<TXSVFFile> player;
    TFakeCable cable;
    svftest::TTempDir dir;
    std::string path;
    bool started = false;
};

TEST_F(XsvfWorker, AFileOfXcompleteAloneResetsFlushesAndSucceeds)
{
    EXPECT_EQ(Run(TXsvf().Complete()), FileStatus::Succeeded);
    EXPECT_TRUE(started);
    EXPECT_EQ(cable.Tms, "111111");
    ASSERT_GE(cable.Calls.size(), 3u);
    EXPECT_EQ(cable.Calls[0], "freq 1000000 apply");
    EXPECT_THAT(std::vector<std::string>(cable.Calls.begin() + 1, cable.Calls.end()), testing::Each("flush"));
    EXPECT_THAT(cable.Messages, IsEmpty());
    EXPECT_EQ(player->GetPosition(), 1);
    EXPECT_EQ(player->GetSize(), 1);
}

TEST_F(XsvfWorker, PipelinedPlayComparesWithoutAReport)
{
    EXPECT_EQ(Run(ReadIdCode(IdCode).Complete()), FileStatus::Succeeded);
    EXPECT_THAT(cable.Violations, IsEmpty());
    EXPECT_GE(cable.Count("read"), 1);
    EXPECT_EQ(cable.State, TapState::IDLE);
    EXPECT_EQ(player->GetPosition(), 5);

    cable = TFakeCable();
    SetUp();
    EXPECT_EQ(Run(ReadIdCode(IdCode ^ 0x100).Sdr(0).Complete()), FileStatus::Failed);
    // A failed run says why, as the XC9500 method does.
    EXPECT_THAT(cable.MessagesOf(MessageKind::Error),
                ElementsAre("Error on SD instruction: ", "Expected: 1100 1001 1000 1111 1010 0111 0110 1111 ",
                            "Read:     1100 1001 0000 1111 1010 0111 0110 1111 "));
}

TEST_F(XsvfWorker, TheWriteSideGoesAheadWhileTheReadSideWaits)
{
    TXsvf file = TXsvf().TdoMask(0x01);
    for (int k = 0; k < 5; ++k)
        file.SdrTdo(0, 0);
    file.Complete();
    // The bits reach the read side only after the final flush.
    std::vector<std::pair<int, int32_t>> reads; // shifts done, position shown
    int shifts = 0;
    cable.BeforeEvent = [&](const std::string& event) {
        if (event == "shift")
            ++shifts;
        if (event == "read")
            reads.emplace_back(shifts, player->GetPosition());
    };
    EXPECT_EQ(Run(file), FileStatus::Succeeded);
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads.front(), std::make_pair(1, 1)) << "the read side behind at the first data shift";
    // Every shift written while the first one still waited to be read back,
    // and the progress showing the slower side.
    EXPECT_THAT(reads, testing::Contains(std::make_pair(5, 1)));
    EXPECT_EQ(player->GetPosition(), 7);
}

TEST_F(XsvfWorker, AnyXrepeatOfTwoSelectsTheXc9500MethodFromTheStart)
{
    // XREPEAT after every data shift: each shift is still verified at once.
    EXPECT_EQ(Run(ReadIdCode(IdCode).Repeat(2).Complete()), FileStatus::Succeeded);
    EXPECT_EQ(cable.Calls[0], "freq 1000000 apply");
    EXPECT_THAT(std::vector<std::string>(cable.Calls.begin() + 1, cable.Calls.begin() + 6),
                ElementsAre("flush", "shift 8", "shift 32", "flush", "read 32"));
    EXPECT_EQ(cable.Messages, (std::vector<std::pair<std::string, MessageKind>>{
                                  {"Warning: Using XC9500/XL/XV programming method.", MessageKind::Warning}}));
    EXPECT_EQ(player->GetPosition(), 6);
    EXPECT_EQ(player->GetSize(), 6);

    cable = TFakeCable();
    SetUp();
    EXPECT_EQ(Run(TXsvf().Repeat(2).SdrTdiTdo(0x0F, 0, 0).Complete()), FileStatus::Failed);
    EXPECT_EQ(cable.MessagesOf(MessageKind::Error), Strings{"Fatal error Internal error DoCommandReadWrite [3]"});
}

TEST_F(XsvfWorker, RunsThatFailSayWhyOnceAndEndAsFailed)
{
    struct TCase {
        const char* Name;
        TXsvf File;
        std::string Event;
        int At;
        Strings Errors;
        std::string Tms; // checked when not empty
    };
    const TCase cases[] = {
        {"the reset walk on its third clock", ReadIdCode(IdCode).Complete(), "tms", 3,
         {"USB communication error "}, "111"},
        {"the first flush", ReadIdCode(IdCode).Complete(), "flush", 1, {"USB communication error "}, "111111"},
        {"a shift", ReadIdCode(IdCode).Complete(), "shift", 2, {Usb}, ""},
        {"a read-back", ReadIdCode(IdCode).Complete(), "read", 1, {"USB Communication error"}, ""},
        // Commands nobody reads back before the end: the XCOMPLETE's flush
        // is all that tells whether they reached the chain.
        {"the XCOMPLETE's flush", TXsvf().State(0).RunTest(1000).Sir(8, 0xFF).Complete(), "flush", 2, {Usb}, ""},
        {"the XCOMPLETE's flush after a read-back", ReadIdCode(IdCode).Complete(), "flush", 2, {Usb}, ""},
        {"the XC9500 method's first XCOMPLETE flush", ReadIdCode(IdCode).Repeat(3).Complete(), "flush", 3, {Usb},
         ""},
        {"the XC9500 method's second XCOMPLETE flush", ReadIdCode(IdCode).Repeat(3).Complete(), "flush", 4, {Usb},
         ""},
        {"an XC9500 verification", ReadIdCode(IdCode).Repeat(3).Complete(), "read", 1,
         {"SD instruction: Communication error", Usb}, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        cable = TFakeCable();
        SetUp();
        cable.FailAt[c.Event] = c.At;
        EXPECT_EQ(Run(c.File), FileStatus::Failed);
        EXPECT_EQ(cable.MessagesOf(MessageKind::Error), c.Errors);
        if (!c.Tms.empty()) {
            EXPECT_EQ(cable.Tms, c.Tms);
        }
    }
}

TEST_F(XsvfWorker, AnExceptionAnywhereEndsTheRunWithOneFatalError)
{
    for (const char* event : {"tms", "flush", "shift", "read"}) {
        SCOPED_TRACE(event);
        cable = TFakeCable();
        SetUp();
        cable.BeforeEvent = [event](const std::string& e) {
            if (e == event)
                throw Exception("cable gone");
        };
        EXPECT_EQ(Run(ReadIdCode(IdCode).Complete()), FileStatus::Failed);
        EXPECT_EQ(cable.MessagesOf(MessageKind::Error), Strings{"Fatal error cable gone"});
    }
}

TEST_F(XsvfWorker, AStopRequestDuringARunEndsItAsFailed)
{
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
    Load(ReadIdCode(IdCode).Sdr(0).Sdr(0).Complete());
    player->Stop(); // before Start: nothing to stop
    ASSERT_TRUE(player->Start(1000000));
    ASSERT_EQ(entered.get_future().wait_for(xsvftest::Limit), std::future_status::ready);
    player->Stop();
    EXPECT_EQ(player->GetStatus(), FileStatus::Running) << "asked to stop is not finished";
    release.set_value();
    EXPECT_EQ(RunToEnd(*player), FileStatus::Failed);
    EXPECT_EQ(cable.Count("shift"), 1) << "nothing is played after the stop request";
    player->Stop(); // after the end: nothing happens
    EXPECT_EQ(player->GetStatus(), FileStatus::Failed);
}

TEST_F(XsvfWorker, StartFailsCleanly)
{
    // The first frequency call fails: the worker ends at once, no clock.
    cable.FailAt["freq"] = 1;
    EXPECT_EQ(Run(ReadIdCode(IdCode).Complete()), FileStatus::Failed);
    EXPECT_FALSE(started);
    EXPECT_EQ(cable.Calls, Strings{"freq 1000000 apply"});
    EXPECT_EQ(cable.Tms, "");

    // A second Start changes nothing.
    cable = TFakeCable();
    Load(TXsvf().Complete());
    ASSERT_TRUE(player->Start(1000));
    EXPECT_FALSE(player->Start(1000));
    EXPECT_EQ(RunToEnd(*player), FileStatus::Succeeded);

    // The file gone between the pre-scan and Start: no worker is left.
    cable = TFakeCable();
    Load(TXsvf().Complete());
    std::filesystem::remove(path);
    EXPECT_EQ(RaisedBy([&] { player->Start(1000); }), "Cannot open file " + path + " for read.");
    EXPECT_EQ(player->GetStatus(), FileStatus::Running);
    EXPECT_THAT(cable.Calls, IsEmpty());
    player.reset(); // does not wait
}

} // namespace
