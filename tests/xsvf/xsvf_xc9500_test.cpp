// The XC9500 method on its one instance: verified data shifts, the retries
// with their growing wait and notes, the mismatch report and its bit dumps,
// and the commands the method cannot play.
#include <gmock/gmock.h>

#include "ticks.h"
#include "xsvf_test_util.h"

namespace {

using svftest::TFakeCable;
using xsvftest::RaisedBy;
using xsvftest::TXsvf;
using Strings = std::vector<std::string>;

const char* const Usb = "USB communication error";
const char* const ReportHead = "Error on SD instruction: ";

// An 8-bit data register that captures Bad until capture number GoodFrom
// (never when GoodFrom is negative), then Good.
std::function<std::vector<uint8_t>(uint32_t, int)> Captures(uint8_t Bad, uint8_t Good, int GoodFrom)
{
    return [=](uint32_t, int index) { return svftest::BitsOf(GoodFrom >= 0 && index >= GoodFrom ? Good : Bad, 8); };
}

class Xc9500 : public testing::Test {
protected:
    void TearDown() override { platform::SetClockForTest(nullptr, nullptr); }

    // Plays the commands up to XCOMPLETE as the worker's XC9500 loop does;
    // the results of the data shifts, in order.
    std::vector<bool> Play(const TXsvf& File, bool Xc9500Mode = true)
    {
        player = TXSVFFile::CreateReader(dir.Write("run.xsvf", File.Bytes() + std::string(1, '\0')));
        cable.Attach(*player);
        player->Xc9500Mode = Xc9500Mode;
        std::vector<bool> results;
        for (;;) {
            player->ReadCommand(command);
            if (player->IsComplete(command))
                return results;
            player->ApplyCommand(command);
            const bool ok = player->DoCommandReadWrite(command);
            if (command[0] == XSDR || command[0] == XSDRTDO)
                results.push_back(ok);
            // A failed call leaves the chain where the cable left it.
            if (cable.FailAt.empty()) {
                EXPECT_STREQ(svftest::StateName(cable.State), svftest::StateName(player->CurrentState));
            }
        }
    }
    // The run-test waits asked for, in microseconds.
    Strings Waits() const
    {
        Strings waits;
        for (const std::string& call : cable.Calls)
            if (call.rfind("time ", 0) == 0)
                waits.push_back(call.substr(5));
        return waits;
    }

    std::unique_ptr<TXSVFFile> player;
    TXSVFCommand command;
    TFakeCable cable;
    svftest::TTempDir dir;
};

TEST_F(Xc9500, RetriesGrowTheWaitByHalfAndNoteEachAttempt)
{
    struct TCase {
        const char* Name;
        uint8_t Repeat;
        uint32_t RunTest;
        int GoodFrom; // capture that first matches; -1 never
        bool Result;
        Strings Info;
        Strings Errors;
        Strings Waits;
        uint32_t RunTestAfter;
    };
    const std::string failed = "XSDRTDO operation failed after maximum retries";
    const TCase cases[] = {
        {"XREPEAT 3, never matching: three notes, no report", 3, 1000, -1, false,
         {"SD instruction: retry #1 with 1500us", "SD instruction: retry #2 with 2250us",
          "SD instruction: retry #3 with 3375us"},
         {failed},
         {"1500", "2250", "3375", "3375"},
         3375},
        {"1001 grows to 1501, then 2251", 2, 1001, -1, false,
         {"SD instruction: retry #1 with 1501us", "SD instruction: retry #2 with 2251us"},
         {failed},
         {"1501", "2251", "2251"},
         2251},
        {"a match at the second attempt completes with its wait", 3, 1000, 1, true,
         {"SD instruction: retry #1 with 1500us"},
         {},
         {"1500", "1500"},
         1500},
        {"XREPEAT 1 is a single attempt, noted and reported", 1, 1000, -1, false,
         {"SD instruction: retry #1 with 1500us"},
         {ReportHead, "Expected: 1010 0101 ", "Read:     0010 0101 ", failed},
         {"1500", "1500"},
         1500},
        {"without a wait every failed attempt is reported", 2, 0, -1, false,
         {"SD instruction: retry #1 with 0us", "SD instruction: retry #2 with 0us"},
         {ReportHead, "Expected: 1010 0101 ", "Read:     0010 0101 ", ReportHead, "Expected: 1010 0101 ",
          "Read:     0010 0101 ", failed},
         {"0", "0"},
         0},
        {"XREPEAT 0: one attempt, the report, no note", 0, 1000, -1, false,
         {},
         {ReportHead, "Expected: 1010 0101 ", "Read:     0010 0101 ", failed},
         {"1000"},
         1000},
        {"the growth saturates at the largest 32-bit time", 2, 0xFFFFFFF0u, -1, false,
         {"SD instruction: retry #1 with 4294967295us", "SD instruction: retry #2 with 4294967295us"},
         {failed},
         {"4294967295", "4294967295", "4294967295"},
         0xFFFFFFFFu},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        cable = TFakeCable();
        cable.DrCapture = Captures(0xA4, 0xA5, c.GoodFrom);
        EXPECT_EQ(Play(TXsvf().Repeat(c.Repeat).RunTest(c.RunTest).TdoMask(0xFF).SdrTdo(0x3C, 0xA5)),
                  std::vector<bool>{c.Result});
        EXPECT_EQ(cable.MessagesOf(MessageKind::Info), c.Info);
        EXPECT_EQ(cable.MessagesOf(MessageKind::Error), c.Errors);
        EXPECT_EQ(Waits(), c.Waits);
        EXPECT_EQ(player->RunTestTime, c.RunTestAfter) << "the grown time stays for later commands";
        EXPECT_THAT(cable.Violations, testing::IsEmpty());
        EXPECT_STREQ(svftest::StateName(cable.State), "IDLE");
    }
}

TEST_F(Xc9500, ARetryUpdatesWaitsAndComesBackThroughCapture)
{
    cable.DrCapture = Captures(0xA4, 0xA5, 1);
    ASSERT_EQ(Play(TXsvf().Repeat(2).RunTest(10).TdoMask(0xFF).SdrTdo(0, 0xA5)), std::vector<bool>{true});
    // Reset to Shift-DR; the retry's Pause, Exit2, Shift, Exit1, Update,
    // Idle; back to Shift-DR; after the match Update and Idle.
    EXPECT_EQ(cable.Tms, "0100" "01011" "0" "100" "10");
    EXPECT_EQ(cable.Calls,
              (Strings{"shift 8", "flush", "read 8", "time 15", "shift 8", "flush", "read 8", "time 15", "flush"}));
    EXPECT_EQ(cable.ShiftTdi[1], svftest::BitsOf(0, 8)) << "the same vector again";
}

TEST_F(Xc9500, WithoutWaitTheEndStateFollowsAndUnmaskedBitsNeverFail)
{
    cable.DrCapture = Captures(0xA4, 0xA4, 0);
    EXPECT_EQ(Play(TXsvf().Repeat(2).EndDr(1).TdoMask(0xFE).SdrTdo(0, 0xA5).TdoMask(0xFF).Sdr(0)),
              (std::vector<bool>{true, false}))
        << "XSDR compares with the last expected value";
    EXPECT_STREQ(svftest::StateName(cable.State), "DRPAUSE");
    EXPECT_EQ(cable.MessagesOf(MessageKind::Error).back(), "XSDR operation failed after maximum retries");
}

TEST_F(Xc9500, AShiftOfTenThousandBitsOrMoreIsReportedWithoutDumps)
{
    for (const uint32_t bits : {9999u, 12000u}) {
        SCOPED_TRACE(bits);
        cable = TFakeCable();
        cable.DrCapture = [bits](uint32_t, int) { return std::vector<uint8_t>(bits, 0); };
        Play(TXsvf().SdrSize(bits).TdoMask(1).SdrTdo(0, 1));
        const Strings errors = cable.MessagesOf(MessageKind::Error);
        ASSERT_EQ(errors.size(), bits < 10000 ? 4u : 2u);
        EXPECT_EQ(errors.front(), ReportHead);
        if (bits < 10000) {
            EXPECT_EQ(errors[1].substr(0, 15), "Expected: 1xxx ");
            EXPECT_EQ(errors[2].substr(0, 15), "Read:     0xxx ");
            EXPECT_EQ(errors[1].size(), 10 + 9999 + 9999 / 4);
        }
    }
}

TEST_F(Xc9500, DumpsMarkUncomparedBitsAndGroupByFour)
{
    TVarLen mask = TVarLen::CreateSized(6);
    mask.SetByte(0, 0x3B); // 1101 11
    TVarLen expected = TVarLen::CreateSized(6);
    expected.SetByte(0, 0x05);
    EXPECT_EQ(TXSVFFile::FormatExpected(mask, expected), "10x0 00");
    EXPECT_EQ(TXSVFFile::FormatExpected(mask, TVarLen()), "xxxx xx") << "no expected vector";
    EXPECT_EQ(TXSVFFile::FormatRead(mask, {1, 1, 1, 0, 0xA5, 0}), "11x0 10");
    EXPECT_EQ(TXSVFFile::FormatRead(mask, {}), "xxxx xx") << "nothing read";
}

TEST_F(Xc9500, ACableThatIsLateIsWaitedForAndAFailingOneEndsTheCommand)
{
    int sleeps = 0;
    platform::SetClockForTest(nullptr, [&](uint32_t) { ++sleeps; });
    cable.NotYetAnswers = 5;
    cable.DrCapture = Captures(0xA5, 0xA5, 0);
    EXPECT_EQ(Play(TXsvf().Repeat(2).TdoMask(0xFF).SdrTdo(0, 0xA5)), std::vector<bool>{true});
    EXPECT_EQ(sleeps, 5) << "a millisecond between polls";

    // A communication error is no device that needs more time: bytes may
    // be lost, so it ends the command at once, whatever XREPEAT allows and
    // although the next attempt would read well.
    struct TCase {
        const char* Event;
        Strings Errors;
    };
    const TCase cases[] = {
        {"read", {"SD instruction: Communication error", Usb}},
        {"shift", {Usb}},
        {"flush", {Usb}},
    };
    for (const uint8_t repeat : {0, 1, 3}) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(c.Event) + ", XREPEAT " + std::to_string(repeat));
            cable = TFakeCable();
            cable.DrCapture = Captures(0xA5, 0xA5, 0);
            cable.FailAt[c.Event] = 1;
            EXPECT_EQ(Play(TXsvf().Repeat(repeat).RunTest(100).TdoMask(0xFF).SdrTdo(0, 0xA5)),
                      std::vector<bool>{false});
            EXPECT_EQ(cable.MessagesOf(MessageKind::Error), c.Errors);
            EXPECT_THAT(cable.MessagesOf(MessageKind::Info), testing::IsEmpty()) << "no retry";
            EXPECT_EQ(cable.Count("shift"), 1);
            EXPECT_THAT(Waits(), testing::IsEmpty()) << "no wait after the error";
            EXPECT_EQ(player->RunTestTime, 100u);
        }
    }
}

TEST_F(Xc9500, AFailedCommandSendsItsWalkOutBeforeTheRunEnds)
{
    // The last attempt's mismatch: the walk out and the wait are flushed
    // with the command, so the chain does not wait in Exit1-DR for bytes
    // that a closing cable never sends.
    for (const uint32_t runTest : {0u, 10u}) {
        SCOPED_TRACE(runTest);
        cable = TFakeCable();
        cable.DrCapture = Captures(0xA4, 0xA4, 0);
        player = TXSVFFile::CreateReader(
            dir.Write("run.xsvf", TXsvf().Repeat(2).RunTest(runTest).TdoMask(0xFF).SdrTdo(0, 0xA5).Bytes()));
        cable.Attach(*player);
        player->Xc9500Mode = true;
        for (int k = 0; k < 4; ++k) {
            player->ReadCommand(command);
            player->ApplyCommand(command);
        }
        EXPECT_FALSE(player->DoCommandReadWrite(command));
        ASSERT_FALSE(cable.Calls.empty());
        EXPECT_EQ(cable.Calls.back(), "flush");
        EXPECT_STREQ(svftest::StateName(cable.State), "IDLE");
    }
}

TEST_F(Xc9500, CommandsTheMethodCannotPlayRaiseInternalErrors)
{
    struct TCase {
        TXsvf File;
        bool Xc9500Mode;
        std::string Message;
    };
    const TCase cases[] = {
        {TXsvf().SdrTdiTdo(0x0F, 0, 0), true, "Internal error DoCommandReadWrite [3]"},
        {TXsvf().SdrTdiTdo(0x10, 0, 0), true, "Internal error DoCommandReadWrite [4]"},
        {TXsvf().SdrTdiTdo(0x11, 0, 0), true, "Internal error DoCommandReadWrite [5]"},
        {TXsvf().Sdr(0), false, "Internal error DoCommandReadWrite [1]"},
        {TXsvf().SdrTdo(0, 0), false, "Internal error DoCommandReadWrite [2]"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Message);
        cable = TFakeCable();
        EXPECT_EQ(RaisedBy([&] { Play(c.File, c.Xc9500Mode); }), c.Message);
    }
}

TEST_F(Xc9500, OtherCommandsPlayAsInPipelinedPlay)
{
    EXPECT_EQ(
        Play(TXsvf().Repeat(2).Sir(8, 1).SdrTdiOnly(0x0C, 1).SdrTdiOnly(0x0E, 2).State(0).SdrSize(0).RunTest(7).Sdr(0)),
        std::vector<bool>{true});
    EXPECT_EQ(cable.Calls, (Strings{"shift 8", "shift 8", "shift 8", "time 7", "flush"}));
    EXPECT_EQ(cable.Reads, 0) << "a 0-bit XSDR has nothing to verify";
    EXPECT_STREQ(svftest::StateName(cable.State), "IDLE");
}

} // namespace
