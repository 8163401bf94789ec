// The check of a whole SVF file before its run: it finds every error the
// player would meet, with the same text and line, and calls no cable event.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/svf_playcheck.h"
#include "support/svf_testutil.h"
#include "svf/svf.h"

namespace {

using svftest::TFakeCable;
using Strings = std::vector<std::string>;

std::string Lines(int Count, const std::string& Line)
{
    std::string text;
    for (int i = 0; i < Count; ++i)
        text += Line;
    return text;
}

class SvfCheck : public testing::Test {
protected:
    svftest::TTempDir Dir;
};

TEST_F(SvfCheck, FindsWhatThePlayerWouldMeetWithItsTextAndLine)
{
    const std::string idle = "STATE IDLE;\n";
    const struct {
        const char* Why;
        std::string Content;
        std::string Error;
    } cases[] = {
        {"syntax on the last line", Lines(20, "SDR 8 TDI (00);\n") + "SDR 8 TDI 00;\n",
         "Fatal error Hexadecimal number is not enclosed in parentheses. near line 21\r\n\"SDR 8 TDI 00;\""},
        {"cut short", idle + "SDR 8 TDI (00);\nSDR 8 TDI (0",
         "Fatal error Missing ';' at the end of the statement near line 3\r\n\"SDR 8 TDI (0\""},
        {"a digit that is none", idle + "SDR 8 TDI (zz);\n" + idle,
         "Fatal error Hexadecimal number holds 'Z', which is not a hexadecimal digit. near line 2\r\n"
         "\"SDR 8 TDI (zz);\""},
        {"unknown command", idle + "PIO (HLX);\n", "Fatal error Unknown SVF command PIO near line 2\r\n\"PIO (HLX);\""},
        {"unknown keyword", idle + "SDR 8 TDI (00) XYZ;\n",
         "Fatal error Unknown keyword XYZ near line 2\r\n\"SDR 8 TDI (00) XYZ;\""},
        {"no rest state", idle + "ENDDR DRSHIFT;\n",
         "Fatal error DRSHIFT is not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE) near line 2\r\n"
         "\"ENDDR DRSHIFT;\""},
        {"no state at all", idle + "ENDIR;\n", "Fatal error TAP state expected after ENDIR near line 2\r\n\"ENDIR;\""},
        {"RUNTEST without its numbers", idle + "RUNTEST IDLE;\n",
         "Fatal error RUNTEST without both parameters \"run_count\" and \"min_time SEC\" near line 2\r\n"
         "\"RUNTEST IDLE;\""},
        {"RUNTEST with a negative count", "RUNTEST -5 TCK;\n",
         "Fatal error RUNTEST with a negative run_count near line 1\r\n\"RUNTEST -5 TCK;\""},
        {"LOOP of no pass", idle + "LOOP 0;\nSDR 8 TDI (00);\nENDLOOP;\n",
         "Fatal error LOOP count 0 is below 1 near line 2\r\n\"LOOP 0;\""},
        {"ENDLOOP alone", idle + "ENDLOOP;\n", "Fatal error ENDLOOP without LOOP near line 2\r\n\"ENDLOOP;\""},
        {"LOOP in a LOOP", "LOOP 2;\nLOOP 3;\nENDLOOP;\n",
         "Fatal error LOOP inside a LOOP body near line 2\r\n\"LOOP 3;\""},
        {"LOOP never ended", idle + "LOOP 2;\nSDR 8 TDI (00);\n",
         "Fatal error LOOP without ENDLOOP near line 2\r\n\"LOOP 2;\""},
        // Met only when the recorded body is played: at the line the parser
        // has reached, the ENDLOOP's.
        {"error in a replayed body", "LOOP 1000000;\nRUNTEST TCK;\nENDLOOP;\n" + idle,
         "Fatal error RUNTEST without both parameters \"run_count\" and \"min_time SEC\" near line 3\r\n"
         "\"ENDLOOP;\""},
        {"a scan length out of range", "SIR 2147483648;\n",
         "Fatal error Scan length 2147483648 is out of range (0 to 2147483647) near line 1\r\n\"SIR 2147483648;\""},
        // Every error about a statement names its line, the number
        // conversions' own among them.
        {"a number that does not read", Lines(3, idle) + "RUNTEST ABC;\n",
         "Fatal error 'ABC' is not a valid integer value near line 4\r\n\"RUNTEST ABC;\""},
        {"a frequency that does not read", "FREQUENCY ABC HZ;\n",
         "Fatal error 'ABC' is not a valid floating point value near line 1\r\n\"FREQUENCY ABC HZ;\""},
        {"a count beyond 32 bits", "RUNTEST 1E12 TCK;\n",
         "Fatal error '1E12' is not a valid integer value near line 1\r\n\"RUNTEST 1E12 TCK;\""},
        {"an empty statement", idle + "SIR 8 TDI (ff);;\n",
         "Fatal error Empty statement: a ';' with no command before it near line 2\r\n\"SIR 8 TDI (ff);;\""},
        {"a set bit beyond the scan's length", "SDR 8 TDI (1FF);\n",
         "Fatal error TDI value has a set bit beyond the scan length of 8 bits near line 1\r\n\"SDR 8 TDI (1FF);\""},
        {"in a mask too", "SDR 5 TDI (1F) TDO (00) MASK (3F);\n",
         "Fatal error MASK value has a set bit beyond the scan length of 5 bits near line 1\r\n"
         "\"SDR 5 TDI (1F) TDO (00) MASK (3F);\""},
        {"zero digits beyond the length, as vendor files have them", "SDR 13 TDI (0089);\nSDR 8 TDI (0FF);\n", ""},
        {"a STATE path that is no walk of the TAP", "STATE IDLE DRCAPTURE DRPAUSE;\n",
         "Fatal error STATE path: DRCAPTURE is not one TAP step from IDLE near line 1\r\n"
         "\"STATE IDLE DRCAPTURE DRPAUSE;\""},
        {"a STATE path of single steps", "STATE RESET IDLE;\nSTATE IDLE DRSELECT DRCAPTURE DREXIT1 DRPAUSE;\n", ""},
        {"a good file behind a UTF-8 byte-order mark", "\xEF\xBB\xBFSIR 8 TDI (01);\n" + idle, ""},
        {"an error on the line of a byte-order mark, shown without it", "\xEF\xBB\xBFSIR 8 TDI 01;\n",
         "Fatal error Hexadecimal number is not enclosed in parentheses. near line 1\r\n\"SIR 8 TDI 01;\""},
        {"a good file", idle + "SIR 8 TDI (01) TDO (01);\nLOOP 3;\nSDR 8 TDI (00) TDO (00);\nENDLOOP;\n" +
                            "RUNTEST 1 SEC;\nFREQUENCY 1E6 HZ;\n! a comment\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        const std::string path = Dir.Write("run.svf", c.Content);

        TSVFFile checked(path);
        TFakeCable untouched;
        untouched.Attach(checked);
        EXPECT_EQ(svftest::CheckedError(checked), c.Error);
        EXPECT_EQ(untouched.Calls, Strings{}) << "the check calls no cable event";
        EXPECT_EQ(untouched.Messages.size(), 0u) << "nor passes comments on";

        TSVFFile played(path);
        TFakeCable cable;
        cable.Attach(played);
        played.Start(1000000);
        const FileStatus status = svftest::RunToEnd(played);
        EXPECT_EQ(status, c.Error.empty() ? FileStatus::Succeeded : FileStatus::Failed);
        const Strings errors = cable.MessagesOf(MessageKind::Error);
        EXPECT_EQ(errors, c.Error.empty() ? Strings{} : Strings{c.Error}) << "as the player meets it";
    }
}

TEST_F(SvfCheck, AStopEndsItBetweenStatements)
{
    TSVFFile file(Dir.Write("run.svf", Lines(1000, "RUNTEST 10 TCK;\n") + "SDR 8 TDI 00;\n"));
    // Asked while the fifth statement is checked, as from another thread.
    platform::TStopToken stop;
    int checked = 0;
    file.OnCheckedRuntest = [&](bool, uint32_t) {
        if (++checked == 5)
            stop.Ask();
    };
    EXPECT_NO_THROW(file.CheckFile(stop)) << "stopped before the bad last line";
    EXPECT_EQ(checked, 5);
    file.OnCheckedRuntest = nullptr;
    EXPECT_THROW(file.CheckFile({}), ELineException);
}

TEST_F(SvfCheck, ADigitThatIsNoneNoLongerPlaysAsZero)
{
    TSVFFile played(Dir.Write("run.svf", "STATE IDLE;\nSDR 8 TDI (0G);\n"));
    TFakeCable cable;
    cable.Attach(played);
    played.Start(1000000);
    EXPECT_EQ(svftest::RunToEnd(played), FileStatus::Failed);
    EXPECT_EQ(cable.Count("shift"), 0) << "nothing of the statement reached the chain";
}

// The fuzz targets' seeds and kept findings and the examples, each checked
// and then played and judged: what the check found is what the run met.
TEST_F(SvfCheck, AgreesWithTheRunOnEveryKeptFile)
{
    namespace fs = std::filesystem;
    int judged = 0;
    for (const char* folder : {"fuzz/corpus/svf_lexer", "fuzz/corpus/svf_parser", "fuzz/corpus/svf_player",
                               "fuzz/regressions/svf_player", "examples"})
        for (const auto& entry : fs::directory_iterator(fs::path(ORBESK_SOURCE_DIR) / folder)) {
            if (entry.path().extension() == ".json")
                continue;
            ++judged;
            TFakeCable cable;
            EXPECT_EQ(svftest::JudgePlay(entry.path().string(), cable, svftest::JudgeBudget), "") << entry.path();
        }
    EXPECT_GT(judged, 10);
}

} // namespace
