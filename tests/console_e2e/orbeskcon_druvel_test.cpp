// orbeskcon playing files on an emulated Druvel (-druvel): the log, a
// cable that cannot be opened, every fault of the link ending the run with
// its message and status, and the waits the Druvel refuses. Each run ends
// with the cable out of MPSSE mode.
#include <gmock/gmock.h>

#include "e2e_fixture.h"

namespace {

using namespace e2e;
using testing::Contains;
using testing::ElementsAre;
using testing::SizeIs;

class OrbeskconOnDruvel : public TOrbeskconTest {
protected:
    void SetUp() override
    {
        TOrbeskconTest::SetUp();
        ScenarioText = Scenario({Druvel("A6123456", TwoDevices)});
    }
    // The Druvel's sessions that left MPSSE mode, and those that entered it.
    size_t Left() const { return TraceWith("druvel:A6123456 mode reset").size(); }
    size_t Entered() const { return TraceWith("druvel:A6123456 mode mpsse").size(); }
};

TEST_F(OrbeskconOnDruvel, TheExampleLogNamesTheCableItsClockAndTheOutcome)
{
    const std::string base = std::string(ORBESK_EXAMPLES_DIR) + "/read_idcodes";
    ScenarioText = Scenario({Druvel("A6123456", R"("chain":[
        {"name":"cpld","ir_length":4,"idcode":{"opcode":1,"value":"0x1234A093"}},
        {"name":"fpga","ir_length":8,"idcode":{"opcode":1,"value":"0x0362D093"}}])")});
    const TRunResult r = Run({"-druvel", base + ".svf"});
    EXPECT_EQ(r.Status, 0) << r.Out;
    const std::vector<std::string> lines = r.OutLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Using DRUVEL S/N A6123456");
    EXPECT_EQ(lines[1], "Reading file " + base + ".svf");
    // The start clock, then the file's FREQUENCY.
    EXPECT_EQ(lines[2], "Info: TCK frequency set to 3 000 000 Hz, using divisor 1");
    EXPECT_THAT(lines, Contains("Info: TCK frequency set to 1 000 000 Hz, using divisor 5"));
    EXPECT_THAT(lines, Contains("! Reads the IDCODEs of a two-device chain and checks them."));
    EXPECT_EQ(lines.back(), SuccessLine);
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(Entered(), 1u);
    EXPECT_EQ(Left(), 1u);
    EXPECT_THAT(TraceWith(" error "), testing::IsEmpty());
}

TEST_F(OrbeskconOnDruvel, ADruvelThatCannotBeOpenedEndsWithStatusTwo)
{
    struct TCase {
        const char* Why;
        std::string Device;
        std::vector<std::string> Args;
        std::vector<std::string> Out;
    };
    const TCase cases[] = {
        {"another serial", Druvel("A6123456"), {"-druvel", "-s", "A6654321"},
         {"No DRUVEL S/N A6654321 is attached; attached: DRUVEL S/N A6123456.", "Fatal error: Cannot find DRUVEL",
          "Fatal error: Cannot open any JTAG cable."}},
        {"open in another program", Druvel("A6123456", "\"busy\":true"), {"-druvel", "-s", "A6123456"},
         {"No free DRUVEL S/N A6123456: 1 FTDI device is in use by another program; when it is that cable, try "
          "again once the other program has let it go.",
          "Fatal error: Cannot find DRUVEL", "Fatal error: Cannot open any JTAG cable."}},
        {"its set-up write falls short", Druvel("A6123456", "\"short_writes\":true"), {"-druvel"},
         {"DRUVEL: Cannot open: its set-up bytes could not be written.", "Fatal error: Cannot open any JTAG cable."}},
        {"its set-up write fails", Druvel("A6123456", "\"faults\":{\"write_fail_after\":0}"), {"-druvel"},
         {"DRUVEL: Cannot open: its set-up bytes could not be written.", "Fatal error: Cannot open any JTAG cable."}},
        // -druvel alone takes a Druvel, never the Varnel beside it.
        {"-druvel with only a Varnel", Varnel("A6010001"), {"-druvel"},
         {"No DRUVEL is attached; attached: VARNEL S/N A6010001.", "Fatal error: No JTAG cable is selected.",
          "Fatal error: Cannot open any JTAG cable."}},
    };
    const std::string file = Write("run.svf", IdcodeSvf(true));
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        ScenarioText = Scenario({c.Device});
        std::filesystem::remove(TracePath);
        std::vector<std::string> args = c.Args;
        args.push_back(file);
        const TRunResult r = Run(args);
        EXPECT_THAT(r.OutLines(), testing::ElementsAreArray(c.Out));
        EXPECT_EQ(r.Status, 2);
        EXPECT_EQ(Left(), Entered()) << "nothing left in MPSSE mode";
    }
}

TEST_F(OrbeskconOnDruvel, ACableLostOrSilentMidRunEndsItWithACommunicationError)
{
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (int i = 0; i < 400; ++i)
        text += "SDR 32 TDI (00000000) TDO (0ABC1DEF);\n";
    const std::string file = Write("long.svf", text);
    // Some 18 000 bytes and 2 000 replies in all: each fault strikes
    // about half-way. A silent cable is given the time its work takes and
    // five seconds.
    for (const char* fault : {"\"unplug_after\":8000", "\"write_fail_after\":8000", "\"read_fail_after\":900",
                              "\"replies_stop_after\":900"}) {
        SCOPED_TRACE(fault);
        ScenarioText = Scenario({Druvel("A6123456", std::string("\"faults\":{") + fault + "}")});
        std::filesystem::remove(TracePath);
        const TRunResult r = Run({"-druvel", file});
        EXPECT_EQ(r.Status, 1);
        EXPECT_THAT(r.OutLines(), Contains("USB communication error"));
        ASSERT_FALSE(r.OutLines().empty());
        EXPECT_EQ(r.OutLines().back(), FailureLine);
        EXPECT_THAT(TraceWith(" fault "), SizeIs(1));
    }
}

TEST_F(OrbeskconOnDruvel, AWaitTheDruvelCannotPlayIsRefusedBeforeTheCableWithTheRunsLine)
{
    struct TCase {
        const char* Settings;
        const char* Runtest;
        const char* Error;
    };
    const TCase cases[] = {
        {"DefFreqRuntestTime=0\n", "RUNTEST 20E-3 SEC;\n",
         "Fatal error Zero frequency RUNTEST is not supported on DRUVEL cable."},
        // A DefFreqRuntestPuls outside 2..4 never gets this far: the console
        // warns of it and takes 3.
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Error);
        std::filesystem::remove(TracePath);
        const std::string ini = Write("druvel.ini", std::string("[Params]\n") + c.Settings);
        const std::string file = Write("wait.svf", std::string("STATE RESET;\nSTATE IDLE;\n") + c.Runtest +
                                                       "SDR 32 TDI (00000000) TDO (12345093);\n");
        const TRunResult r = Run({"-druvel", "-i", ini, file});
        EXPECT_EQ(r.Status, 2);
        EXPECT_THAT(r.OutLines(), testing::ElementsAre(c.Error));
        EXPECT_THAT(TraceWith(" mode "), testing::IsEmpty()) << "nothing written to the cable";
    }
}

} // namespace
