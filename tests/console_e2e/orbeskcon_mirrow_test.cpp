// orbeskcon -mirrow playing files on an emulated Mirrow: the examples with
// the Mirrow's own lines, the target supplied by the cable or not, and
// every fault ending with its lines and status and the target unpowered
// (the vendor files on every cable are in orbeskcon_cables_test.cpp).
#include <gmock/gmock.h>

#include "e2e_fixture.h"

namespace {

using namespace e2e;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;

const std::string FatalOpen = "Fatal error: Cannot open any JTAG cable.";

std::string MirrowDevice(const std::string& Extra)
{
    return Mirrow("A6040001", Extra);
}

// An example's scenario with its Varnel made a Mirrow.
std::string AsMirrow(std::string Scenario)
{
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"\"0x0403\"", "\"0xA600\""},
                                   {"\"0xF1A0\"", "\"0xA003\""},
                                   {"A6010001", "A6040001"},
                                   {"\"varnel\"", "\"mirrow\""}}) {
        const size_t at = Scenario.find(from);
        if (at != std::string::npos)
            Scenario.replace(at, from.size(), to);
    }
    return Scenario;
}

class OrbeskconOnMirrow : public TOrbeskconTest {
protected:
    // Switched on by the cable, and not switched off after.
    bool LeftPowered() const
    {
        bool on = false;
        for (const std::string& line : TraceWith("mirrow:A6040001 power "))
            on = line.find(" power on") != std::string::npos;
        return on;
    }
    std::string Settings(const std::string& Lines) { return Write("mirrow.ini", "[Params]\n" + Lines); }
};

TEST_F(OrbeskconOnMirrow, TheExamplesPlay)
{
    for (const char* example : {"read_idcodes", "program_memory"}) {
        SCOPED_TRACE(example);
        const std::string base = std::string(ORBESK_EXAMPLES_DIR) + "/" + example;
        // The README's scenario for the first, the Varnel's made a Mirrow for the second.
        ScenarioText = std::string(example) == "read_idcodes" ? ReadText(base + "_mirrow.json")
                                                              : AsMirrow(ReadText(base + ".json"));
        const TRunResult r = Run({"-mirrow", base + ".svf"});
        EXPECT_EQ(r.Status, 0) << r.Out;
        const std::vector<std::string> lines = r.OutLines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.begin() + 3),
                    ElementsAre("MIRROW: UCC = 3.3V", "Using MIRROW S/N A6040001", "Reading file " + base + ".svf"));
        EXPECT_THAT(lines, Contains("Info: TCK frequency set to 3 000 000 Hz, using SPI MODE 0"));
        EXPECT_EQ(lines.back(), SuccessLine);
        EXPECT_EQ(r.Err, "");
    }
    EXPECT_THAT(TraceWith(" mem write "), testing::SizeIs(6));
}

TEST_F(OrbeskconOnMirrow, TheCableSuppliesTheTargetOnlyForTheRun)
{
    const std::string svf = Write("run.svf", IdcodeSvf(true));
    for (const bool supplied : {true, false}) {
        SCOPED_TRACE(supplied ? "supplied" : "the target's own supply");
        std::filesystem::remove(TracePath);
        ScenarioText = Scenario({MirrowDevice(TwoDevices + (supplied ? ",\"target\":{\"supply\":\"cable\"}" : ""))});
        const TRunResult r =
            Run({"-mirrow", "-i", Settings(supplied ? "MirrowVddOut=1\nMirrowVddVal=50\n" : "MirrowVddOut=0\n"), svf});
        EXPECT_EQ(r.Status, 0) << r.Out;
        EXPECT_THAT(r.OutLines(), Contains(supplied ? "MIRROW: UCC = 5V" : "MIRROW: UCC = 3.3V"));
        EXPECT_EQ(TraceWith(" power on vdd=5.00").size(), supplied ? 1u : 0u);
        EXPECT_FALSE(LeftPowered());
    }
}

TEST_F(OrbeskconOnMirrow, EveryFaultEndsWithItsLinesAndStatusAndTheTargetUnpowered)
{
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (int i = 0; i < 400; ++i)
        text += "SDR 32 TDI (00000000) TDO (0ABC1DEF);\n";
    const std::string svf = Write("long.svf", text);
    const std::string supplied = "\"target\":{\"supply\":\"cable\"";
    struct TCase {
        const char* Why;
        std::string Extra;
        std::string Ini;
        int Status;
        std::vector<std::string> Last; // lines of the output, the last one last
        bool PowerCanStay;             // a cable refusing every write can be told nothing
    };
    // The console's advice: the settings keys, never the desktop's dialog.
    const std::string Limits = "Limits are the settings MirrowVddMin and MirrowVddMax, in tenths of a volt.";
    const std::string Fpga = "MIRROW: Cannot open: its FPGA did not configure.";
    const std::string Calibration = "MIRROW: Cannot open: its calibration could not be read.";
    const TCase cases[] = {
        {"out of limits", "", "MirrowVddMin=40\n", 2,
         {"MIRROW: UCC = 3.3V is out of limits.", Limits, FatalOpen}, false},
        {"out of limits, supplied", supplied + "}", "MirrowVddOut=1\nMirrowVddMax=30\n", 2,
         {"MIRROW: UCC = 3.3V is out of limits.", Limits, FatalOpen}, false},
        {"a 12 V target, beyond the measuring range", "\"target\":{\"volts\":12.0}", "", 2,
         {"MIRROW: UCC = 5.07V is out of limits.", Limits, FatalOpen}, false},
        {"overcurrent", supplied + ",\"overcurrent\":true}", "MirrowVddOut=1\n", 2,
         {"MIRROW: VDD overcurrent condition!", FatalOpen}, false},
        {"an error code", supplied + ",\"error_code\":5}", "MirrowVddOut=1\n", 2,
         {"MIRROW: Error condition (05)!", FatalOpen}, false},
        {"no answer to the bad command", "\"fpga\":{\"sync\":\"silent\"}", "", 2, {Fpga, FatalOpen}, false},
        {"a wrong answer", "\"fpga\":{\"sync\":\"wrong\"}", "", 2, {Fpga, FatalOpen}, false},
        {"configuration never done", "\"fpga\":{\"never_done\":true}", "", 2, {Fpga, FatalOpen}, false},
        {"a bad calibration pair", "\"calibration\":{\"bad_pair\":17}", "", 2, {Calibration, FatalOpen}, false},
        {"too few calibration bytes", "\"calibration\":{\"replies\":71}", "", 2, {Calibration, FatalOpen}, false},
        {"no measurement", supplied + "},\"faults\":{\"replies_stop_after\":77}", "MirrowVddOut=1\n", 2,
         {"MIRROW: Cannot open: the target's voltage could not be measured.", FatalOpen}, false},
        {"unplugged mid-run", supplied + "},\"faults\":{\"unplug_after\":140000}", "MirrowVddOut=1\n", 1,
         {"USB communication error", FailureLine}, false},
        {"silent mid-run", supplied + "},\"faults\":{\"replies_stop_after\":100}", "MirrowVddOut=1\n", 1,
         {"USB communication error", FailureLine}, false},
        {"writes failing mid-run", supplied + "},\"faults\":{\"write_fail_after\":140000}", "MirrowVddOut=1\n", 1,
         {"USB communication error", FailureLine}, true},
        // A good run whose closing bytes do not go has failed: the target
        // may still be powered.
        {"the closing write fails", supplied + "},\"faults\":{\"close_fails\":true}", "MirrowVddOut=1\n", 1,
         {"Error: the cable's closing bytes could not be written: the target may still be powered by the cable, and "
          "the P pin and the JTAG lines left as the run set them.",
          FailureLine},
         true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        std::filesystem::remove(TracePath);
        ScenarioText = Scenario({MirrowDevice(c.Extra)});
        const TRunResult r = Run({"-mirrow", "-i", Settings(c.Ini), svf});
        EXPECT_EQ(r.Status, c.Status) << r.Out;
        const std::vector<std::string> lines = r.OutLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), c.Last.back());
        // Progress notes may come between them while a silent cable is waited for.
        EXPECT_THAT(lines, testing::IsSupersetOf(c.Last));
        if (!c.PowerCanStay) {
            EXPECT_FALSE(LeftPowered());
        }
        EXPECT_THAT(TraceWith("d2xx protocol-error"), IsEmpty());
    }
}

// With the P pin set as TRST the Mirrow has no TRST line to drive: the
// file's TRST statements are warned of once a run, as a Varnel would.
TEST_F(OrbeskconOnMirrow, TrstStatementsWithThePPinAsTrstAreWarnedOfOnce)
{
    const std::string svf = Write("trst.svf", "TRST ON;\nTRST OFF;\nSTATE RESET;\nTRST ABSENT;\n");
    ScenarioText = Scenario({MirrowDevice("")});
    const TRunResult r = Run({"-mirrow", "-i", Settings("MirrowPActive=3\n"), svf});
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_THAT(r.OutLines(), testing::Contains("Warning: TRST pin disabled but SVF file contains TRST command").Times(1));
}

} // namespace
