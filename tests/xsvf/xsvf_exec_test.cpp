// XSVF command execution on one instance: the walks and shifts checked
// against an independent TAP model, the state the commands set, the read
// side's compare, and what a failing cable call does.
#include <gmock/gmock.h>

#include "xsvf_test_util.h"

namespace {

using svftest::TFakeCable;
using xsvftest::RaisedBy;
using xsvftest::TXsvf;
using Strings = std::vector<std::string>;

const char* const Usb = "USB communication error";

class XsvfExec : public testing::Test {
protected:
    TXSVFFile& Load(const std::string& Bytes)
    {
        player = TXSVFFile::CreateReader(dir.Write("run.xsvf", Bytes));
        cable.Attach(*player);
        return *player;
    }

    // Plays the commands up to XCOMPLETE on the write side; the player's
    // state must match the model's after each. False at the first command
    // that failed.
    bool Play(const std::string& Bytes)
    {
        Load(Bytes + std::string(1, '\0'));
        for (;;) {
            player->ReadCommand(command);
            if (command[0] == XCOMPLETE)
                return true;
            player->ApplyCommand(command);
            const bool ok = player->DoCommandWrite(command);
            EXPECT_STREQ(svftest::StateName(cable.State), svftest::StateName(player->CurrentState));
            if (!ok)
                return false;
        }
    }

    std::unique_ptr<TXSVFFile> player;
    TXSVFCommand command;
    TFakeCable cable;
    svftest::TTempDir dir;
};

TEST_F(XsvfExec, WalksAndShiftsMatchTheTapModel)
{
    struct TCase {
        const char* Name;
        TXsvf File;
        std::string Tms;    // the TMS clocks outside shifts
        Strings Calls;      // the other cable calls
        TapState End;
    };
    const TCase cases[] = {
        {"XSTATE 0 is six TMS-1 clocks, even in Test-Logic-Reset", TXsvf().State(0), "111111", {}, TapState::RESET},
        {"XSTATE 6 walks to Run-Test/Idle, not the pause", TXsvf().State(6), "0", {}, TapState::IDLE},
        {"XSIR ends in Run-Test/Idle", TXsvf().Sir(8, 0xFE), "01100" "10", {"shift 8"}, TapState::IDLE},
        {"XSIR with XENDIR 1 ends in Pause-IR", TXsvf().EndIr(1).Sir(8, 0xFE), "01100" "0", {"shift 8"},
         TapState::IRPAUSE},
        {"XSIR waits its run-test time in Run-Test/Idle", TXsvf().RunTest(1000).EndIr(1).Sir(8, 1), "01100" "10",
         {"shift 8", "time 1000"}, TapState::IDLE},
        {"XSDR then XSDR from Pause-DR", TXsvf().EndDr(2).Sdr(1).Sdr(2), "0100" "0" "10" "0", {"shift 8", "shift 8"},
         TapState::DRPAUSE},
        {"XSDR with a run-test time", TXsvf().RunTest(5).Sdr(1), "0100" "10", {"shift 8", "time 5"}, TapState::IDLE},
        {"XSDRB, XSDRC, XSDRE stay in Shift-DR until the end",
         TXsvf().SdrTdiOnly(0x0C, 1).SdrTdiOnly(0x0D, 2).SdrTdiOnly(0x0E, 3), "0100" "10",
         {"shift 8", "shift 8", "shift 8"}, TapState::IDLE},
        {"XSDRE never waits the run-test time",
         TXsvf().RunTest(100).SdrTdiOnly(0x0C, 1).SdrTdiOnly(0x0E, 3), "0100" "10",
         {"shift 8", "shift 8"}, TapState::IDLE},
        {"XSDRTDOB/C/E likewise",
         TXsvf().RunTest(100).EndDr(1).SdrTdiTdo(0x0F, 1, 0).SdrTdiTdo(0x10, 1, 0).SdrTdiTdo(0x11, 1, 0), "0100" "0",
         {"shift 8", "shift 8", "shift 8"}, TapState::DRPAUSE},
        {"XSIR of 0 bits only waits", TXsvf().RunTest(40).Sir(0, 0), "0", {"time 40"}, TapState::IDLE},
        {"XSIR of 0 bits without a wait does nothing", TXsvf().Sir(0, 0), "", {}, TapState::RESET},
        {"XSDR and XSDRTDO of 0 bits only wait", TXsvf().SdrSize(0).RunTest(9).Sdr(0).SdrTdo(0, 0), "0",
         {"time 9", "time 9"}, TapState::IDLE},
        {"XSDRB and XSDRC of 0 bits do nothing", TXsvf().State(6).SdrSize(0).SdrTdiOnly(0x0C, 0).SdrTdiOnly(0x0D, 0),
         "0", {}, TapState::IDLE},
        {"XSDRE of 0 bits walks to the end state from where the chain is",
         TXsvf().SdrTdiOnly(0x0C, 1).SdrSize(0).EndDr(1).SdrTdiOnly(0x0E, 0), "0100" "10", {"shift 8"},
         TapState::DRPAUSE},
        {"XSDRTDOE of 0 bits in the end state stays", TXsvf().EndDr(1).Sdr(1).SdrSize(0).SdrTdiTdo(0x11, 0, 0),
         "0100" "0", {"shift 8"}, TapState::DRPAUSE},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        cable = TFakeCable();
        ASSERT_TRUE(Play(c.File.Bytes()));
        EXPECT_EQ(cable.Tms, c.Tms);
        EXPECT_EQ(cable.Calls, c.Calls);
        EXPECT_THAT(cable.Violations, testing::IsEmpty());
        EXPECT_STREQ(svftest::StateName(player->CurrentState), svftest::StateName(c.End));
    }
}

TEST_F(XsvfExec, ScanContinuationsOutsideShiftDrAreRefusedBeforeTheirBits)
{
    struct TCase {
        TXsvf File;
        std::string Message;
        size_t Shifts; // before the refused command
    };
    const TCase cases[] = {
        {TXsvf().Sir(8, 1).SdrTdiOnly(0x0E, 3), "XSDRE without a data scan begun by XSDRB or XSDRTDOB", 1},
        {TXsvf().State(6).SdrTdiOnly(0x0D, 3), "XSDRC without a data scan begun by XSDRB or XSDRTDOB", 0},
        {TXsvf().Sir(8, 1).SdrTdiTdo(0x10, 1, 0), "XSDRTDOC without a data scan begun by XSDRB or XSDRTDOB", 1},
        {TXsvf().SdrTdiOnly(0x0C, 1).SdrTdiOnly(0x0E, 2).SdrTdiTdo(0x11, 1, 0),
         "XSDRTDOE without a data scan begun by XSDRB or XSDRTDOB", 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Message);
        cable = TFakeCable();
        EXPECT_EQ(RaisedBy([&] { Play(c.File.Bytes()); }), c.Message);
        EXPECT_THAT(cable.Violations, testing::IsEmpty());
        EXPECT_EQ(cable.ShiftTdi.size(), c.Shifts) << "the refused command shifted";
    }
}

TEST_F(XsvfExec, APauseThatIsAlsoTheTargetIsLeftAndEnteredAgain)
{
    Load(TXsvf().Complete().Bytes());
    ASSERT_TRUE(player->GotoState(TapState::DRPAUSE));
    cable.Tms.clear();
    ASSERT_TRUE(player->GotoState(TapState::DRPAUSE));
    EXPECT_EQ(cable.Tms, "111010") << "Exit2, Update, Select, Capture, Exit1, Pause";
    EXPECT_EQ(cable.State, TapState::DRPAUSE);
    EXPECT_EQ(cable.DrCaptures, 2);

    player->CurrentState = static_cast<TapState>(16);
    EXPECT_EQ(RaisedBy([&] { player->GotoState(TapState::IDLE); }), "Unhandled TAP State change");
}

TEST_F(XsvfExec, ShiftsCarryTheVectorBitZeroFirstWithTheirCaptureFlags)
{
    ASSERT_TRUE(Play(TXsvf()
                         .SdrSize(12)
                         .TdoMask(0x0F0)
                         .SdrTdo(0xABC, 0)
                         .SdrTdiTdo(0x0F, 0x801, 0)
                         .Sir(9, 0x1FE)
                         .Bytes()));
    ASSERT_EQ(cable.ShiftTdi.size(), 3u);
    EXPECT_EQ(cable.ShiftTdi[0], svftest::BitsOf(0xABC, 12));
    EXPECT_EQ(cable.ShiftCapture[0], svftest::BitsOf(0x0F0, 12)) << "XSDRTDO captures under the mask";
    EXPECT_EQ(cable.ShiftTdi[1], svftest::BitsOf(0x801, 12));
    EXPECT_EQ(cable.ShiftCapture[1], svftest::BitsOf(0xFFF, 12)) << "XSDRTDOB captures every bit";
    EXPECT_EQ(cable.ShiftTdi[2], svftest::BitsOf(0x1FE, 9));
    EXPECT_EQ(cable.ShiftCapture[2], svftest::BitsOf(0, 9)) << "XSIR captures nothing";
}

TEST_F(XsvfExec, CommandsSetTheStateTheyName)
{
    Load(TXsvf().Complete().Bytes());
    struct TCase {
        TXSVFCommand Command;
        TapState EndIr, EndDr;
    };
    const TCase ends[] = {
        {{XENDIR, 1}, TapState::IRPAUSE, TapState::IDLE}, {{XENDIR, 0x80}, TapState::IRPAUSE, TapState::IDLE},
        {{XENDIR, 0}, TapState::IDLE, TapState::IDLE},    {{XENDDR, 2}, TapState::IDLE, TapState::DRPAUSE},
        {{XENDDR, 1}, TapState::IDLE, TapState::DRPAUSE}, {{XENDDR, 0}, TapState::IDLE, TapState::IDLE},
    };
    for (const TCase& c : ends) {
        player->ApplyCommand(c.Command);
        EXPECT_EQ(player->EndIrState, c.EndIr);
        EXPECT_EQ(player->EndDrState, c.EndDr);
    }
    player->ApplyCommand({XRUNTEST, 0x80, 0, 0, 1});
    EXPECT_EQ(player->RunTestTime, 0x80000001u);

    // A growing mask keeps its bits and adds zeros, which are not compared;
    // it takes the new length with the first data of that length.
    player->ApplyCommand({XTDOMASK, 0xC3});
    player->ApplyCommand({XSDRSIZE, 0, 0, 0, 16});
    EXPECT_EQ(player->SdrSize(), 16);
    EXPECT_EQ(player->TdoMask.BitLength(), 8) << "a size alone takes no memory";
    ASSERT_TRUE(player->DoCommandWrite({XSDR, 0, 0}));
    EXPECT_EQ(player->TdoMask.BitLength(), 16);
    EXPECT_EQ(player->TdoMask.GetByte(0), 0xC3);
    EXPECT_EQ(player->TdoMask.GetByte(1), 0x00);
    // A smaller size drops the bytes beyond it: growing again adds zeros.
    player->ApplyCommand({XTDOMASK, 0xFF, 0xC3});
    EXPECT_EQ(player->TdoMask.GetByte(1), 0xFF);
    player->ApplyCommand({XSDRSIZE, 0, 0, 0, 8});
    player->ApplyCommand({XSDRSIZE, 0, 0, 0, 16});
    ASSERT_TRUE(player->DoCommandWrite({XSDR, 0, 0}));
    EXPECT_EQ(player->TdoMask.GetByte(0), 0xC3);
    EXPECT_EQ(player->TdoMask.GetByte(1), 0x00);
    // The largest size of the format, declared and never used.
    player->ApplyCommand({XSDRSIZE, 0x7F, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(player->SdrSize(), 0x7FFFFFFF);
    EXPECT_LE(player->TdoMask.ByteLength(), 2);

    // The XC9500 warning once, at the first XREPEAT of 2 or more.
    for (const uint8_t repeat : {1, 2, 0, 5})
        player->ApplyCommand({XREPEAT, repeat});
    EXPECT_EQ(player->RepeatCount, 5);
    EXPECT_TRUE(player->Xc9500Mode);
    EXPECT_EQ(cable.Messages, (std::vector<std::pair<std::string, MessageKind>>{
                                  {"Warning: Using XC9500/XL/XV programming method.", MessageKind::Warning}}));
}

// A write-ahead and a read-back instance on one file and one cable, as in
// pipelined play.
class XsvfReadBack : public XsvfExec {
protected:
    // Plays Bytes on the write side, then reads back every command; the
    // read results in order.
    std::vector<ReadResult> PlayAndRead(const std::string& Bytes)
    {
        const std::string path = dir.Write("run.xsvf", Bytes + std::string(1, '\0'));
        player = TXSVFFile::CreateReader(path);
        reader = TXSVFFile::CreateReader(path);
        cable.Attach(*player);
        reader->OnMessage = player->OnMessage;
        reader->OnRead = player->OnRead;
        player->OnRead = nullptr;
        for (;;) {
            player->ReadCommand(command);
            player->ApplyCommand(command);
            EXPECT_TRUE(player->DoCommandWrite(command));
            if (player->IsComplete(command))
                break;
        }
        std::vector<ReadResult> results;
        for (;;) {
            reader->ReadCommand(command);
            reader->ApplyCommand(command);
            if (command[0] == XCOMPLETE)
                return results;
            ReadResult r;
            for (int tries = 0; (r = reader->DoCommandRead(command)) == ReadResult::NotYet && tries < 100; ++tries) {
            }
            results.push_back(r);
        }
    }
    std::unique_ptr<TXSVFFile> reader;
};

TEST_F(XsvfReadBack, ComparesUnderTheMaskOrEveryBit)
{
    // The data register captures A5 at every scan.
    const auto readsA5 = [](uint32_t, int) { return svftest::BitsOf(0xA5, 8); };
    using R = ReadResult;
    struct TCase {
        const char* Name;
        TXsvf File;
        std::vector<ReadResult> Results;
    };
    const TCase cases[] = {
        {"no mask before XTDOMASK: nothing compared", TXsvf().SdrTdo(0, 0x00).Sdr(0), {R::Ready, R::Ready}},
        {"a full mask", TXsvf().TdoMask(0xFF).SdrTdo(0, 0xA5).SdrTdo(0, 0xA4), {R::Ready, R::Ready, R::Mismatch}},
        {"a mask that hides the differing bit", TXsvf().TdoMask(0xFE).SdrTdo(0, 0xA4), {R::Ready, R::Ready}},
        {"XSDR compares against the last expected value",
         TXsvf().TdoMask(0xFF).SdrTdo(0, 0xA5).Sdr(0).SdrTdo(0, 0x5A).Sdr(0),
         {R::Ready, R::Ready, R::Ready, R::Mismatch, R::Mismatch}},
        {"XSDRTDOB/C/E compare every bit, mask or not",
         TXsvf().TdoMask(0x00).SdrTdiTdo(0x0F, 0, 0xA5).SdrTdiTdo(0x10, 0, 0xA4),
         {R::Ready, R::Ready, R::Mismatch}},
        {"commands that capture nothing read nothing",
         TXsvf().Sir(8, 1).SdrTdiOnly(0x0C, 0).SdrTdiOnly(0x0E, 0).State(0),
         {R::Ready, R::Ready, R::Ready, R::Ready}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        cable = TFakeCable();
        cable.DrCapture = readsA5;
        cable.HighValue = 0x80; // a cable may leave any nonzero byte for a 1
        const std::vector<ReadResult> results = PlayAndRead(c.File.Bytes());
        EXPECT_EQ(results, c.Results);
        // Each mismatch is reported, the read bits where they were compared.
        Strings reports;
        for (const auto& m : cable.MessagesOf(MessageKind::Error))
            if (m.rfind("Error on SD instruction: ", 0) == 0)
                reports.push_back(m);
        EXPECT_EQ(reports.size(), static_cast<size_t>(std::count(results.begin(), results.end(), R::Mismatch)));
    }
    cable = TFakeCable();
    cable.DrCapture = readsA5;
    PlayAndRead(TXsvf().TdoMask(0x00).SdrTdiTdo(0x0F, 0, 0xA4).Bytes());
    EXPECT_EQ(cable.MessagesOf(MessageKind::Error),
              (Strings{"Error on SD instruction: ", "Expected: 0010 0101 ", "Read:     1010 0101 "}))
        << "every bit compared whatever the mask";
}

TEST_F(XsvfReadBack, NotYetIsPassedOnAndACommunicationErrorIsNamed)
{
    cable.NotYetAnswers = 3;
    EXPECT_EQ(PlayAndRead(TXsvf().TdoMask(0xFF).SdrTdo(0, 0).Bytes()),
              (std::vector<ReadResult>{ReadResult::Ready, ReadResult::Ready}));
    EXPECT_EQ(cable.Reads, 4);

    cable = TFakeCable();
    cable.FailAt["read"] = 1;
    EXPECT_EQ(PlayAndRead(TXsvf().TdoMask(0xFF).SdrTdo(0, 0).Bytes()),
              (std::vector<ReadResult>{ReadResult::Ready, ReadResult::CommError}));
    EXPECT_EQ(cable.MessagesOf(MessageKind::Error), Strings{"USB Communication error"});
}

TEST_F(XsvfExec, AFailingCableCallFailsTheCommandWithOneMessage)
{
    struct TCase {
        const char* Name;
        TXsvf File;
        std::string Event;
        int At;
        Strings Errors;
    };
    const TCase cases[] = {
        {"a TMS clock of the walk", TXsvf().Sdr(1), "tms", 2, {Usb}},
        {"the shift", TXsvf().Sir(8, 1), "shift", 1, {Usb}},
        {"the run-test wait", TXsvf().RunTest(10).Sdr(1), "time", 1, {Usb}},
        {"the reset walk", TXsvf().State(0), "tms", 3, {Usb}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        cable = TFakeCable();
        cable.FailAt[c.Event] = c.At;
        EXPECT_FALSE(Play(c.File.Bytes()));
        EXPECT_EQ(cable.MessagesOf(MessageKind::Error), c.Errors);
    }
    // Leaving a pause to enter it again: its failure is named at once.
    cable = TFakeCable();
    Load(TXsvf().Complete().Bytes());
    ASSERT_TRUE(player->GotoState(TapState::DRPAUSE));
    cable.FailAt["tms"] = cable.CallCount["tms"] + 2;
    EXPECT_FALSE(player->GotoState(TapState::DRPAUSE));
    EXPECT_EQ(cable.MessagesOf(MessageKind::Error), Strings{Usb});
    EXPECT_EQ(player->CurrentState, TapState::DREXIT2) << "the last state reached";
}

} // namespace
