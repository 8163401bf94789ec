#include <gtest/gtest.h>

#include "svf/svf.h"
#include "support/svf_testutil.h"

namespace {

using svftest::TFakeCable;
using svftest::TapNext;
using Strings = std::vector<std::string>;
using Bits = std::vector<uint8_t>;

constexpr TapState AllStates[] = {
    TapState::RESET,   TapState::IDLE,     TapState::DRSELECT, TapState::DRCAPTURE, TapState::DRSHIFT,
    TapState::DREXIT1, TapState::DRPAUSE,  TapState::DREXIT2,  TapState::DRUPDATE,  TapState::IRSELECT,
    TapState::IRCAPTURE, TapState::IRSHIFT, TapState::IREXIT1, TapState::IRPAUSE,   TapState::IREXIT2,
    TapState::IRUPDATE};

// Plays a file on one parser the way the write-ahead side does, with the
// chain model checked against the player after every statement.
class SvfExec : public testing::Test {
protected:
    void SetUp() override { FormatSettings.ThousandSeparator = ' '; }
    void TearDown() override { FormatSettings = TFormatSettings{}; }

    TSVFFile& Open(const std::string& content)
    {
        file = std::make_unique<TSVFFile>(dir.Write("f.svf", content));
        file->DefaultFrequency = 12345;
        cable.Attach(*file);
        return *file;
    }

    // False at the first statement whose apply or execute step fails.
    bool Play(const std::string& content)
    {
        TSVFFile& f = Open(content);
        TSVFCommand st;
        for (int guard = 0; guard < 10000; ++guard) {
            FreeStatement(st);
            f.NextStatement(st);
            const bool ok = f.ApplyStatement(st) && f.ExecuteStatement(st);
            EXPECT_EQ(svftest::StateName(f.CurrentState), svftest::StateName(cable.State))
                << "after " << SvfCommandName(st.Command) << " of: " << content;
            if (!ok)
                return false;
            if (st.Command == SvfCommand::Eof)
                return true;
        }
        ADD_FAILURE() << "no end";
        return false;
    }

    std::unique_ptr<TSVFFile> file;
    TFakeCable cable;
    svftest::TTempDir dir;
};

TEST_F(SvfExec, WalkReachesEveryStateFromEveryState)
{
    Open("");
    for (TapState from : AllStates)
        for (TapState to : AllStates) {
            cable = TFakeCable{};
            cable.Attach(*file);
            cable.State = from;
            file->CurrentState = from;
            ASSERT_TRUE(file->GotoState(to));
            const std::string where = std::string(svftest::StateName(from)) + " -> " + svftest::StateName(to);
            EXPECT_EQ(cable.State, to) << where;
            EXPECT_EQ(file->CurrentState, to) << where;
            EXPECT_LE(cable.Tms.size(), 8u) << where;
            if (to == TapState::RESET) {
                EXPECT_EQ(cable.Tms, "111111") << where;
            } else if (from == to && to != TapState::DRPAUSE && to != TapState::IRPAUSE) {
                EXPECT_EQ(cable.Tms, "") << where;
            }
            // Passing through a Shift state on the way would shift data.
            TapState s = from;
            for (size_t i = 0; i + 1 < cable.Tms.size(); ++i) {
                s = TapNext(s, cable.Tms[i] == '1');
                EXPECT_TRUE(s != TapState::DRSHIFT && s != TapState::IRSHIFT) << where << " passes a Shift state";
            }
            EXPECT_TRUE(cable.Violations.empty()) << where;
        }
}

TEST_F(SvfExec, PauseIsReenteredThroughCapture)
{
    const struct {
        TapState pause;
        const char* tms;
    } cases[] = {{TapState::DRPAUSE, "111010"}, {TapState::IRPAUSE, "1111010"}};
    for (const auto& c : cases) {
        Open("");
        cable.State = c.pause;
        file->CurrentState = c.pause;
        ASSERT_TRUE(file->GotoState(c.pause));
        EXPECT_EQ(cable.Tms, c.tms);
        EXPECT_EQ(cable.State, c.pause);
        cable = TFakeCable{};
    }
}

TEST_F(SvfExec, StatementsDriveTheCable)
{
    const struct {
        const char* content;
        const char* tms;
        Strings calls;
        Strings notes; // kind Info
    } cases[] = {
        {"STATE RESET;", "111111", {}, {}},
        {"STATE IDLE; STATE IDLE;", "0", {}, {}},
        {"STATE DRPAUSE;", "01010", {}, {}},
        {"STATE IDLE DRSELECT IRSELECT RESET;", "011111111", {}, {}},
        {"STATE IDLE; SDR 8 TDI (A5);", "010010", {"shift 8"}, {}},
        {"STATE IDLE; SIR 4 TDI (A);", "0110010", {"shift 4"}, {}},
        {"ENDDR DRPAUSE; STATE IDLE; SDR 8 TDI (00);", "01000", {"shift 8"}, {}},
        {"ENDDR DRPAUSE; STATE IDLE; SDR 8 TDI (00); SDR 8 TDI (00);", "01000100", {"shift 8", "shift 8"}, {}},
        {"ENDIR IRPAUSE; STATE IDLE; SIR 2 TDI (0); ENDIR IDLE; SIR 2 TDI (0);", "0110001010",
         {"shift 2", "shift 2"}, {}},
        // Scans of no bits stay out of Shift.
        {"STATE IDLE; SDR 0;", "0", {}, {}},
        {"HDR 0; TDR 0; HIR 0; TIR 0; STATE IDLE; SIR 0 TDI ();", "0", {}, {}},
        {"ENDDR DRPAUSE; STATE IDLE; SDR 0;", "01010", {}, {}},
        {"ENDDR DRPAUSE; STATE IDLE; SDR 8 TDI (0); SDR 0;", "01000", {"shift 8"}, {}},
        {"RUNTEST 10 TCK;", "0", {"clocks 10"}, {}},
        {"RUNTEST RESET 10 TCK;", "", {"clocks 10 hold"}, {}},
        {"STATE IDLE; RUNTEST RESET 10 TCK; RUNTEST 2 TCK;", "0111111", {"clocks 10 hold", "clocks 2 hold"}, {}},
        {"STATE IDLE; RUNTEST DRPAUSE 10 TCK ENDSTATE IDLE; RUNTEST 5 TCK;", "010101101010",
         {"clocks 10", "clocks 5"}, {}},
        {"STATE DRPAUSE; RUNTEST DRPAUSE 3 TCK;", "01010", {"clocks 3"}, {}},
        {"RUNTEST IDLE 5 SCK;", "0", {"clocks 5 sck"}, {}},
        {"RUNTEST 10 TCK ENDSTATE DRPAUSE ENDSTATE IDLE;", "01010110", {"clocks 10"}, {}},
        {"RUNTEST 1000000 TCK;", "0", {"clocks 1000000"}, {}},
        {"RUNTEST 1000001 TCK;", "0", {"clocks 1000001"}, {"Doing 1000001 clocks..."}},
        {"RUNTEST 1 SEC;", "0", {"time 1000000"}, {"Waiting 1.0 seconds..."}},
        {"RUNTEST 0.5 SEC;", "0", {"time 500000"}, {}},
        {"RUNTEST 100 TCK 2E-3 SEC;", "0", {"time 2000"}, {}},
        {"RUNTEST 1E-7 SEC;", "0", {"time 0"}, {}},
        {"RUNTEST 2.5 SEC;", "0", {"time 2500000"}, {"Waiting 2.5 seconds..."}},
        {"RUNTEST 12.34 SEC;", "0", {"time 12340000"}, {"Waiting 12.3 seconds..."}},
        {"RUNTEST 9.96 SEC;", "0", {"time 9960000"}, {"Waiting 10.0 seconds..."}},
        {"RUNTEST 123.4 SEC;", "0", {"time 123400000"}, {"Waiting 123.0 seconds..."}},
        {"RUNTEST 999.6 SEC;", "0", {"time 999600000"}, {"Waiting 1.00E+3 seconds..."}},
        {"RUNTEST 1234.5 SEC;", "0", {"time 1234500000"}, {"Waiting 1.23E+3 seconds..."}},
        // Beyond the event's 32-bit range: consecutive waits adding up.
        {"RUNTEST 5000 SEC;", "0", {"time 2147483647", "time 2147483647", "time 705032706"},
         {"Waiting 5.00E+3 seconds..."}},
        {"TRST ON; TRST OFF; TRST Z; TRST ABSENT;", "", {"trst 11", "trst 01", "trst 00"}, {}},
        {"FREQUENCY 1E6 HZ;", "", {"freq 1000000 test", "freq 1000000 apply"}, {}},
        {"FREQUENCY;", "", {"freq 12345 test", "freq 12345 apply"}, {}},
        {"FREQUENCY 2.5 HZ; FREQUENCY 3.5 HZ;", "",
         {"freq 2 test", "freq 2 apply", "freq 4 test", "freq 4 apply"}, {}},
        {"FREQUENCY 3E9 HZ;", "", {"freq 2147483647 test", "freq 2147483647 apply"}, {}},
        {"FREQUENCY -5 HZ;", "", {"freq 0 test", "freq 0 apply"}, {}},
        // Only an ENDLOOP of a pass that is not the last flushes.
        {"LOOP 3; STATE IDLE; ENDLOOP;", "0", {"flush", "flush"}, {}},
        {"HDR 8 TDI (FF); TDR 8; HIR 8; TIR 8; LOOP 1; ENDLOOP;", "", {}, {}},
    };
    for (const auto& c : cases) {
        cable = TFakeCable{};
        ASSERT_TRUE(Play(c.content)) << c.content;
        EXPECT_EQ(cable.Tms, c.tms) << c.content;
        EXPECT_EQ(cable.Calls, c.calls) << c.content;
        EXPECT_EQ(cable.MessagesOf(MessageKind::Info), c.notes) << c.content;
        EXPECT_TRUE(cable.MessagesOf(MessageKind::Error).empty()) << c.content;
        EXPECT_TRUE(cable.Violations.empty()) << c.content << ": " << cable.Violations.front();
    }
}

TEST_F(SvfExec, HeaderBodyAndTrailerShiftAsOne)
{
    ASSERT_TRUE(Play("HDR 2 TDI (3); TDR 3 TDI (5) TDO (0) MASK (7); SDR 4 TDI (A) TDO (F) MASK (C); SIR 2 TDI (1);"));
    ASSERT_EQ(cable.ShiftTdi.size(), 2u);
    EXPECT_EQ(cable.ShiftTdi[0], (Bits{1, 1, 0, 1, 0, 1, 1, 0, 1}));
    // The header has no TDO: none of its bits is captured.
    EXPECT_EQ(cable.ShiftCapture[0], (Bits{0, 0, 0, 0, 1, 1, 1, 1, 1}));
    EXPECT_EQ(cable.ShiftTdi[1], (Bits{1, 0}));
    EXPECT_EQ(cable.ShiftCapture[1], (Bits{0, 0}));
}

TEST_F(SvfExec, VectorsPersistBetweenScans)
{
    const struct {
        const char* content;
        Bits tdi;
        Bits capture; // of the last shift
    } cases[] = {
        {"SDR 8 TDI (A5) TDO (00) MASK (0F); SDR 8 TDO (00);", {1, 0, 1, 0, 0, 1, 0, 1}, {1, 1, 1, 1, 0, 0, 0, 0}},
        {"SDR 8 TDI (A5) TDO (00) MASK (0F); SDR 4 TDO (0);", {1, 0, 1, 0}, {1, 1, 1, 1}},
        {"SDR 8 TDI (A5) TDO (00) MASK (0F); SDR 8;", {1, 0, 1, 0, 0, 1, 0, 1}, {0, 0, 0, 0, 0, 0, 0, 0}},
        {"SDR 8 TDI (A5); SDR 12 TDO (000);", {1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 0, 0}, Bits(12, 1)},
        {"HDR 2 TDI (3); SDR 1 TDI (0); HDR 0; SDR 1;", {0}, {0}},
        {"SDR 4 TDI (F) TDO (0) MASK (3); SDR 4 TDI (0) TDO (F) MASK (C); SDR 4 TDO (0);", {0, 0, 0, 0},
         {0, 0, 1, 1}},
    };
    for (const auto& c : cases) {
        cable = TFakeCable{};
        ASSERT_TRUE(Play(c.content)) << c.content;
        ASSERT_FALSE(cable.ShiftTdi.empty()) << c.content;
        EXPECT_EQ(cable.ShiftTdi.back(), c.tdi) << c.content;
        EXPECT_EQ(cable.ShiftCapture.back(), c.capture) << c.content;
    }
}

TEST_F(SvfExec, LargeShiftIsNoted)
{
    ASSERT_TRUE(Play("SDR 100000 TDI (0);"));
    EXPECT_TRUE(cable.MessagesOf(MessageKind::Info).empty());
    cable = TFakeCable{};
    ASSERT_TRUE(Play("SDR 100001 TDI (0);"));
    EXPECT_EQ(cable.MessagesOf(MessageKind::Info), Strings{"Extremely large shift: 100 001 bits."});
}

TEST_F(SvfExec, ShiftAboveThirtyTwoBitsIsALineError)
{
    TSVFFile& f = Open("STATE IDLE;\nSDR 1 TDI (0);\n");
    TSVFCommand st;
    f.NextStatement(st);
    ASSERT_TRUE(f.ApplyStatement(st) && f.ExecuteStatement(st));
    f.NextStatement(st);
    ASSERT_TRUE(f.ApplyStatement(st));
    f.HdrTdi.SetBitLength(2147483647); // with the body: 2^31 bits
    cable.Tms.clear();
    try {
        f.ExecuteStatement(st);
        FAIL() << "no error";
    } catch (const ELineException& e) {
        EXPECT_EQ(e.Message(), "Scan of 2147483648 bits is longer than 2147483647 bits");
        EXPECT_EQ(e.LineNumber, 2);
    }
    EXPECT_EQ(cable.Tms, "") << "refused before any clock";
    EXPECT_TRUE(cable.Calls.empty());
}

TEST_F(SvfExec, StatementsThatCannotBePlayedAreLineErrors)
{
    const struct {
        const char* statement;
        const char* message;
    } cases[] = {
        {"ENDDR TCK;", "TAP state expected after ENDDR"},
        {"ENDIR;", "TAP state expected after ENDIR"},
        {"STATE SCK;", "TAP state expected after STATE"},
        {"STATE DRPAUSE TCK;", "TAP state expected after STATE"},
        {"RUNTEST 10 TCK ENDSTATE;", "TAP state expected after ENDSTATE"},
        {"RUNTEST 10 TCK ENDSTATE SCK;", "TAP state expected after ENDSTATE"},
        {"STATE;", "TAP state expected after STATE"},
        // A TAP cannot rest in any other state: a walk that ended there would
        // leave the chain a clock away from where the player believes it is.
        {"RUNTEST IRSELECT 1 TCK;", "IRSELECT is not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE)"},
        {"RUNTEST DRSHIFT 1E-3 SEC;", "DRSHIFT is not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE)"},
        {"RUNTEST 10 TCK ENDSTATE DRUPDATE;", "DRUPDATE is not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE)"},
        {"RUNTEST 10 TCK IRPAUSE;", "TAP state IRPAUSE out of place in RUNTEST"},
        {"ENDDR DREXIT1;", "DREXIT1 is not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE)"},
        {"ENDIR IRSHIFT;", "IRSHIFT is not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE)"},
        {"STATE DRPAUSE DREXIT2;", "DREXIT2 is not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE)"},
        {"RUNTEST TCK;", "RUNTEST without both parameters \"run_count\" and \"min_time SEC\""},
        {"RUNTEST DRPAUSE;", "RUNTEST without both parameters \"run_count\" and \"min_time SEC\""},
        {"RUNTEST -1 TCK;", "RUNTEST with a negative run_count"},
        {"RUNTEST -1E-3 SEC;", "RUNTEST with a negative min_time"},
        {"RUNTEST 1E300 SEC;", "RUNTEST min_time out of range"},
    };
    for (const auto& c : cases) {
        cable = TFakeCable{};
        const std::string content = std::string("STATE IDLE;\n! note\n") + c.statement + "\n";
        try {
            Play(content);
            ADD_FAILURE() << "accepted: " << c.statement;
        } catch (const ELineException& e) {
            EXPECT_EQ(e.Message(), c.message) << c.statement;
            EXPECT_EQ(e.LineNumber, 3) << c.statement;
            EXPECT_EQ(e.LineText, c.statement);
        }
        EXPECT_EQ(cable.Tms, "0") << "nothing clocked for: " << c.statement;
        EXPECT_TRUE(cable.Calls.empty()) << c.statement;
    }
}

TEST_F(SvfExec, CableFailureStopsTheStatement)
{
    const struct {
        const char* content;
        const char* event;
        int call;
        int usbNotes;
        const char* tms; // every clock the cable saw, the failing one included
    } cases[] = {
        {"STATE IDLE;", "tms", 1, 1, "0"},
        {"STATE RESET;", "tms", 3, 1, "111"}, // the reset walk is looked at
        {"STATE IDLE; SDR 8 TDI (00);", "tms", 3, 1, "010"},
        {"SDR 8 TDI (00);", "shift", 1, 1, "0100"},
        {"SIR 8 TDI (00);", "shift", 1, 1, "01100"},
        {"TRST OFF;", "trst", 1, 1, ""},
        {"RUNTEST 5 TCK;", "clocks", 1, 1, "0"},
        {"RUNTEST 1E-3 SEC;", "time", 1, 1, "0"},
        {"RUNTEST 5000 SEC;", "time", 2, 1, "0"},
        {"FREQUENCY 1E6 HZ;", "freq", 2, 1, ""},
        {"LOOP 2; ENDLOOP;", "flush", 1, 1, ""},
        // The pause re-entry reports its own failure first.
        {"STATE DRPAUSE; STATE DRPAUSE;", "tms", 6, 2, "010101"},
    };
    for (const auto& c : cases) {
        cable = TFakeCable{};
        cable.FailAt[c.event] = c.call;
        EXPECT_FALSE(Play(c.content)) << c.content;
        EXPECT_EQ(cable.MessagesOf(MessageKind::Error), Strings(static_cast<size_t>(c.usbNotes), "USB communication error"))
            << c.content;
        EXPECT_EQ(cable.Tms, c.tms) << c.content;
    }
}

TEST_F(SvfExec, FrequencyTestFailureFailsTheApplyStep)
{
    TSVFFile& f = Open("FREQUENCY 1E6 HZ;");
    cable.FailAt["freq"] = 1;
    TSVFCommand st;
    f.NextStatement(st);
    EXPECT_FALSE(f.ApplyStatement(st));
    EXPECT_TRUE(cable.Messages.empty()) << "the worker reports it";
}

TEST_F(SvfExec, EventsLeftEmptyCountAsSuccess)
{
    // A fresh player has no events at all.
    svftest::TTempDir other;
    TSVFFile g(other.Write("g.svf", "FREQUENCY 1 HZ; STATE IDLE; SDR 8 TDI (1); TRST ON; RUNTEST 5 TCK; RUNTEST 1 SEC;"
                                    " LOOP 2; ENDLOOP;"));
    TSVFCommand st;
    for (int i = 0; i < 20 && st.Command != SvfCommand::Eof; ++i) {
        g.NextStatement(st);
        ASSERT_TRUE(g.ApplyStatement(st));
        ASSERT_TRUE(g.ExecuteStatement(st)) << SvfCommandName(st.Command);
    }
    EXPECT_EQ(st.Command, SvfCommand::Eof);
    EXPECT_EQ(g.CurrentState, TapState::IDLE);
}

} // namespace
