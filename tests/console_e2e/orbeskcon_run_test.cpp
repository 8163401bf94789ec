// orbeskcon playing files on emulated Varnel cables: the log with comments
// on and off, the outcome and its status, the cable chosen, a cable lost
// mid-run, the wait for Enter, and the real vendor files.
#include <sys/stat.h>

#include <gmock/gmock.h>

#include <algorithm>
#include <regex>
#include <thread>

#include "support/vendor_samples.h"
#include "e2e_fixture.h"

namespace {

using namespace e2e;
using testing::Contains;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

// The comment lines of an SVF text as the log shows them.
std::vector<std::string> CommentLines(const std::string& Svf)
{
    std::vector<std::string> comments;
    for (const std::string& line : SplitLines(Svf))
        if (!line.empty() && line[0] == '!')
            comments.push_back(line);
    return comments;
}

// Lines without the comment lines of the SVF text (and the failure line,
// which begins with '!' too, stays).
std::vector<std::string> WithoutComments(const std::vector<std::string>& Lines, const std::string& Svf)
{
    const std::vector<std::string> comments = CommentLines(Svf);
    std::vector<std::string> rest;
    for (const std::string& line : Lines)
        if (std::find(comments.begin(), comments.end(), line) == comments.end())
            rest.push_back(line);
    return rest;
}

class OrbeskconPlays : public TOrbeskconTest {
protected:
    void SetUp() override
    {
        TOrbeskconTest::SetUp();
        ScenarioText = Scenario({Varnel("A6010001", TwoDevices)});
        Quiet = Write("quiet.ini", "[Params]\nWriteComments=0\n");
    }
    std::string Quiet;
};

TEST_F(OrbeskconPlays, TheExamplesPlayAndTheLogShowsCableFileCommentsAndOutcome)
{
    for (const char* example : {"read_idcodes", "program_memory"}) {
        SCOPED_TRACE(example);
        const std::string base = std::string(ORBESK_EXAMPLES_DIR) + "/" + example;
        ScenarioText = ReadText(base + ".json");
        const TRunResult r = Run({base + ".svf"});
        std::vector<std::string> expected = {"Using VARNEL S/N A6010001", "Reading file " + base + ".svf"};
        for (const std::string& comment : CommentLines(ReadText(base + ".svf")))
            expected.push_back(comment);
        expected.push_back(SuccessLine);
        EXPECT_THAT(r.OutLines(), ElementsAreArray(expected));
        EXPECT_EQ(r.Err, "");
        EXPECT_EQ(r.Status, 0);
    }
    // What the memory example programmed is what it verified.
    EXPECT_THAT(TraceWith(" mem write "), testing::SizeIs(6));
}

TEST_F(OrbeskconPlays, WriteCommentsDecidesWhatALogShowsBesidesErrorsAndWarnings)
{
    const std::string good = Write("good.svf", IdcodeSvf(true));
    const std::string trst = Write("trst.svf", "! TRST on a cable whose VPP is no TRST\nTRST OFF;\nSTATE RESET;\n");
    const std::string warning = "Warning: TRST pin disabled but SVF file contains TRST command";
    struct TCase {
        std::string File;
        bool Comments;
        std::vector<std::string> Out;
    };
    const TCase cases[] = {
        {good, true,
         {"Using VARNEL S/N A6010001", "Reading file " + good, "! read both IDCODEs", "! then the data registers",
          SuccessLine}},
        {good, false, {}},
        {trst, true,
         {"Using VARNEL S/N A6010001", "Reading file " + trst, "! TRST on a cable whose VPP is no TRST", warning,
          SuccessLine}},
        {trst, false, {warning}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File + (c.Comments ? " comments on" : " comments off"));
        const TRunResult r = c.Comments ? Run({c.File}) : Run({"-i", Quiet, c.File});
        EXPECT_THAT(r.OutLines(), ElementsAreArray(c.Out));
        EXPECT_EQ(r.Err, "");
        EXPECT_EQ(r.Status, 0);
    }
}

TEST_F(OrbeskconPlays, AFailedRunShowsItsErrorsAndTheOutcomeWhateverWriteCommentsSays)
{
    const std::string bad = Write("bad.svf", IdcodeSvf(false));
    for (const bool comments : {true, false}) {
        SCOPED_TRACE(comments ? "comments on" : "comments off");
        const TRunResult r = comments ? Run({bad}) : Run({"-i", Quiet, bad});
        EXPECT_EQ(r.Status, 1);
        // The worker's mismatch report and its comments come in no fixed order.
        const std::vector<std::string> lines = WithoutComments(r.OutLines(), IdcodeSvf(false));
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines.back(), FailureLine);
        EXPECT_THAT(lines, Contains("Error on SDR instruction: "));
        EXPECT_THAT(lines, Contains(testing::StartsWith("Expected: ")));
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "Using VARNEL S/N A6010001"), comments ? 1 : 0);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "Reading file " + bad), comments ? 1 : 0);
        EXPECT_EQ(r.OutLines().size() - lines.size(), comments ? 2u : 0u);
    }
}

TEST_F(OrbeskconPlays, TheDataFileIsTheFirstFreeArgumentElseTheValueOfF)
{
    const std::string a = Write("a.svf", IdcodeSvf(true));
    const std::string b = Write("B.SVF", IdcodeSvf(true));
    struct TCase {
        std::vector<std::string> Args;
        std::string Played;
    };
    const TCase cases[] = {
        {{"-f", a, b}, b},
        {{"-f", a}, a},
        {{"a.svf"}, a},            // relative to the working folder
        {{"-f", "./B.SVF"}, b},    // upper-case type
        {{"-v", "-varnel", a}, a}, // accepted, nothing more
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Args));
        const TRunResult r = Run(c.Args);
        EXPECT_THAT(r.OutLines(), Contains("Reading file " + c.Played));
        EXPECT_EQ(r.Status, 0);
    }
}

TEST_F(OrbeskconPlays, AFileThatCannotBeOpenedEndsWithStatusTwoAndNoCableTouched)
{
    // Present by name, but no regular file: the player refuses it before
    // any cable is looked for.
    const std::string fifo = Folder + "/pipe.svf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ScenarioText = Scenario({Varnel("A6010001")});
    const TRunResult r = Run({fifo});
    EXPECT_THAT(r.OutLines(), ElementsAre("Fatal error \"Cannot open file " + fifo + " for read.\""));
    EXPECT_EQ(r.Status, 2);
    EXPECT_THAT(TraceWith("d2xx open"), testing::IsEmpty());
}

TEST_F(OrbeskconPlays, ACableLostMidRunEndsItWithACommunicationError)
{
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (int i = 0; i < 400; ++i)
        text += "SDR 32 TDI (00000000) TDO (0ABC1DEF);\n";
    const std::string file = Write("long.svf", text);
    // Gone after the open and about half of the file's bytes.
    for (const char* fault : {"\"unplug_after\":8000", "\"write_fail_after\":8000", "\"read_fail_after\":900"}) {
        SCOPED_TRACE(fault);
        ScenarioText = Scenario({Varnel("A6010001", std::string("\"faults\":{") + fault + "}")});
        const TRunResult r = Run({file});
        EXPECT_EQ(r.Status, 1);
        EXPECT_THAT(r.OutLines(), Contains("USB communication error"));
        ASSERT_FALSE(r.OutLines().empty());
        EXPECT_EQ(r.OutLines().back(), FailureLine);
    }
}

// A good run whose closing bytes do not reach the cable has failed: its
// pins may be left as the run set them.
TEST_F(OrbeskconPlays, AClosingWriteThatFailsFailsTheRun)
{
    const std::string good = Write("good.svf", IdcodeSvf(true));
    ScenarioText = Scenario({Varnel("A6010001", TwoDevices + ",\"faults\":{\"close_fails\":true}")});
    const TRunResult r = Run({good});
    EXPECT_EQ(r.Status, 1) << r.Out;
    const std::vector<std::string> lines = r.OutLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "Error: the cable's closing bytes could not be written: the VPP pin and the JTAG lines may be left as "
              "the run set them.");
    EXPECT_EQ(lines.back(), FailureLine);
    EXPECT_THAT(lines, Not(Contains(SuccessLine)));
    EXPECT_THAT(TraceWith("fault close-failed"), testing::SizeIs(1));
}

// The file's bytes never drive the terminal: control characters but a tab
// are shown escaped, in comments and in the line of an error.
TEST_F(OrbeskconPlays, ControlCharactersOfTheFileAreShownEscaped)
{
    const std::string comment = Write("comment.svf", "! \x1B[31mred\tand \x07" "bell\nSTATE RESET;\n");
    const TRunResult shown = Run({comment});
    EXPECT_EQ(shown.Status, 0) << shown.Out;
    EXPECT_THAT(shown.OutLines(), Contains("! \\x1B[31mred\tand \\x07bell"));
    EXPECT_EQ(shown.Out.find('\x1B'), std::string::npos);

    const std::string error = Write("error.svf", "STATE RESET;\nFOO\x1B[31m;\n");
    const TRunResult refused = Run({error});
    EXPECT_EQ(refused.Status, 2) << refused.Out;
    EXPECT_EQ(refused.Out.find('\x1B'), std::string::npos) << refused.Out;
    EXPECT_THAT(refused.Out, HasSubstr("\\x1B[31m"));
}

// Under an address-space limit (ulimit -v), as on a machine short of
// memory: a scan too long for it ends the run with its line error.
TEST_F(OrbeskconPlays, AScanTooLongForTheMemoryEndsTheRunWithALineError)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "an address-space limit and a sanitizer's shadow memory do not mix";
#endif
    const std::string svf = Write("long.svf", "STATE RESET;\nSDR 2147483647 TDI (0);\n");
    const TRunResult r = Run({"-c", "ulimit -v 1000000 && exec \"$0\" \"$@\"", SharedProgram(), "-i", Quiet, svf},
                             "/bin/sh");
    // Found by the file's check, before the cable.
    EXPECT_EQ(r.Status, 2) << r.Out << r.Err;
    EXPECT_THAT(r.Out, HasSubstr("Fatal error \"Scan of 2147483647 bits would need 10240 MB of memory, "));
    EXPECT_THAT(r.Out, HasSubstr(" near line 2"));
    EXPECT_THAT(TraceWith("d2xx open"), testing::IsEmpty());
}

TEST_F(OrbeskconPlays, WithWAFailedRunWaitsForEnter)
{
    const std::string bad = Write("bad.svf", IdcodeSvf(false));
    std::unique_ptr<TChild> child = Start({"-w", bad});
    ASSERT_TRUE(child->ReadUntil(FailureLine, RunLimitMs));
    // Everything is done; it waits for the line on its input.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(child->Running());
    child->WriteIn("\n");
    const TRunResult r = child->Finish(RunLimitMs);
    EXPECT_FALSE(r.TimedOut);
    EXPECT_EQ(r.Status, 1);
}

TEST_F(OrbeskconPlays, WithoutAFailureOrWithoutWNothingWaitsForInput)
{
    const std::string good = Write("good.svf", IdcodeSvf(true));
    const std::string bad = Write("bad.svf", IdcodeSvf(false));
    struct TCase {
        std::vector<std::string> Args;
        int Status;
    };
    const TCase cases[] = {{{"-W", good}, 0}, {{bad}, 1}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Args));
        // Input stays open and empty: a wait would never end.
        std::unique_ptr<TChild> child = Start(c.Args);
        const TRunResult r = child->Finish(RunLimitMs);
        EXPECT_FALSE(r.TimedOut);
        EXPECT_EQ(r.Status, c.Status);
    }
}

TEST_F(OrbeskconPlays, ALongRunShowsProgressAndEveryLineComesOutWhole)
{
    // Replies paced at 3 ms each (ten a scan) keep the run going for about
    // two seconds of real time on any machine, so the main thread's
    // progress lines meet the worker's.
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (int i = 0; i < 60; ++i)
        text += "! comment line " + std::to_string(i) + " of the long run\nSDR 32 TDI (00000000) TDO (0ABC1DEF);\n";
    const std::string file = Write("slow.svf", text);
    ScenarioText = Scenario({Varnel("A6010001", "\"faults\":{\"reply_interval_ms\":3}")});
    const TRunResult r = Run({file});
    EXPECT_EQ(r.Status, 0);
    const std::regex progress("done yet ([0-9]+)%");
    const std::regex comment("! comment line [0-9]+ of the long run");
    std::vector<int> percents;
    for (const std::string& line : r.OutLines()) {
        std::smatch m;
        if (std::regex_match(line, m, progress))
            percents.push_back(std::stoi(m[1]));
        else if (!std::regex_match(line, comment) && line != "Using VARNEL S/N A6010001" &&
                 line != "Reading file " + file && line != SuccessLine)
            ADD_FAILURE() << "a line broken or mixed: \"" << line << "\"";
    }
    ASSERT_THAT(percents, Not(IsEmpty()));
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << testing::PrintToString(percents);
    EXPECT_GE(percents.front(), 0);
    EXPECT_LE(percents.back(), 100);
    EXPECT_EQ(r.OutLines().back(), SuccessLine);
}

// The cable chosen among several Varnels and another FTDI device: which one
// the open routine set up, and what the log names.
class OrbeskconChoosesTheCable : public TOrbeskconTest {
protected:
    void SetUp() override
    {
        TOrbeskconTest::SetUp();
        ScenarioText = Scenario({OtherFtdi("FT123456"), Varnel("A6010001", TwoDevices), Varnel("A6010002", TwoDevices),
                                 Varnel("A6011234", TwoDevices), Varnel("A6015555", TwoDevices + ",\"busy\":true")});
        Svf = Write("run.svf", IdcodeSvf(true));
    }
    std::string Svf;
};

TEST_F(OrbeskconChoosesTheCable, BySerialByTheRememberedSerialOrTheFirstFound)
{
    struct TCase {
        std::vector<std::string> Args;
        const char* LastSerial; // null: no settings file
        std::string Chosen;     // the serial; empty when none could be used
    };
    const TCase cases[] = {
        {{}, nullptr, "A6010001"},
        {{"-s", "1234"}, nullptr, "A6011234"},
        {{"-s", "A6010002"}, nullptr, "A6010002"},
        {{"-S", "a6010002"}, nullptr, "A6010002"},
        {{"-s", "FFFFFFFF00011234"}, nullptr, "A6011234"}, // the low 24 bits
        {{"-varnel", "-s", "11234"}, nullptr, "A6011234"},
        {{}, "65538", "A6010002"},
        {{}, "$10002", "A6010002"},
        {{"-s", "1234"}, "65538", "A6011234"},
        {{"-s", "-"}, "65538", "A6010001"},
        {{"-mirrow"}, "65538", "A6010002"},
        {{"-s", "999999"}, nullptr, ""},        // not connected
        {{"-s", "5555"}, nullptr, ""},          // open in another program
        {{"-mirrow"}, nullptr, ""},             // no Mirrow, and no Varnel then
        {{"-s", "-", "-mirrow"}, "65538", ""},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> args = c.Args;
        if (c.LastSerial)
            args.insert(args.begin(),
                        {"-i", Write("last.ini", std::string("[Params]\nLastSerial=") + c.LastSerial + "\n")});
        args.push_back(Svf);
        SCOPED_TRACE(testing::PrintToString(args));
        std::filesystem::remove(TracePath);
        const TRunResult r = Run(args);
        if (c.Chosen.empty()) {
            EXPECT_EQ(r.Status, 2);
            ASSERT_FALSE(r.OutLines().empty());
            EXPECT_EQ(r.OutLines().back(), "Fatal error: Cannot open any JTAG cable.");
            EXPECT_THAT(VarnelsSetUp(), IsEmpty());
        } else {
            EXPECT_EQ(r.Status, 0);
            EXPECT_THAT(r.OutLines(), Contains("Using VARNEL S/N " + c.Chosen));
            EXPECT_THAT(VarnelsSetUp(), ElementsAre("varnel:" + c.Chosen));
        }
    }
}

TEST_F(OrbeskconChoosesTheCable, WithNoCableTheTwoFatalLinesEndIt)
{
    ScenarioText = Scenario({OtherFtdi("FT123456")});
    const TRunResult r = Run({Svf});
    EXPECT_THAT(r.OutLines(), ElementsAre("No JTAG cable is attached.", "Fatal error: No JTAG cable is selected.",
                                          "Fatal error: Cannot open any JTAG cable."));
    EXPECT_EQ(r.Status, 2);
}

TEST_F(OrbeskconChoosesTheCable, AMirrowSerialNeverOpensAVarnel)
{
    // Whatever the Mirrow's own open makes of the device, no Varnel is used.
    ScenarioText = Scenario({Varnel("A6010001", TwoDevices), Mirrow("A6041234")});
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-s", "A6041234", "-mirrow", Svf}, {"-s", "A6041234", "-druvel", "-mirrow", Svf}, {"-mirrow", Svf}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        std::filesystem::remove(TracePath);
        const TRunResult r = Run(args);
        EXPECT_THAT(VarnelsSetUp(), IsEmpty());
        EXPECT_THAT(r.Out, Not(HasSubstr("Using VARNEL")));
        EXPECT_THAT(r.Out, Not(HasSubstr("Using DRUVEL")));
    }
}

// The vendor-written files, unchanged, on chains that answer them.
TEST_F(OrbeskconPlays, RealVendorFilesPlayWithStatusZero)
{
    ORBESK_SKIP_WITHOUT_VENDOR_SAMPLES();
    for (const TVendorSample& c : VendorSamples) {
        SCOPED_TRACE(c.Sample);
        ScenarioText = Scenario({Varnel("A6010001", ChainMembers(c.Chain))});
        const TRunResult r = Run({VendorSamplePath(c.Sample)});
        EXPECT_EQ(r.Status, 0) << r.Out;
        ASSERT_FALSE(r.OutLines().empty());
        EXPECT_EQ(r.OutLines().back(), SuccessLine);
    }
}

} // namespace
