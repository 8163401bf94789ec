// orbesk as a process beside the emulated driver, unattended: -F file -P
// -C -CC on each cable kind, its exit status and the settings it leaves;
// and a run ended by a signal.
#include <gmock/gmock.h>

#include <signal.h>

#include <thread>

#include "console_e2e/e2e_fixture.h"
#include "support/xsvf_bytes.h"

namespace {

using namespace e2e;
using testing::EndsWith;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

std::string DesktopProgram()
{
    return std::string(ORBESK_DESKTOP_BIN) + "/orbesk";
}

class OrbeskUnattended : public TOrbeskconTest {
protected:
    void SetUp() override
    {
        TOrbeskconTest::SetUp();
        Ini = Folder + "/orbesk.ini";
        Good = Write("good.svf", IdcodeSvf(true));
        Bad = Write("bad.svf", IdcodeSvf(false));
        // The same two IDCODE reads as XSVF.
        const auto idcodes = [](uint64_t Expected) {
            return xsvftest::TXsvf()
                .State(0)
                .State(1)
                .Sir(12, 0x101)
                .SdrSize(64)
                .TdoMask(~uint64_t{0})
                .SdrTdo(0, Expected)
                .Complete()
                .Bytes();
        };
        GoodXsvf = Write("good.xsvf", idcodes(0x123450930ABC1DEFull));
        BadXsvf = Write("bad.xsvf", idcodes(0x123450930ABC1DEEull));
    }
    TEnvironment DesktopEnvironment() const
    {
        TEnvironment env = Environment();
        env["QT_QPA_PLATFORM"] = "offscreen";
        return env;
    }
    std::unique_ptr<TChild> StartDesktop(const std::vector<std::string>& Args, const std::string& Program = "")
    {
        std::vector<std::string> args = {"-I", Ini};
        args.insert(args.end(), Args.begin(), Args.end());
        return std::make_unique<TChild>(Program.empty() ? DesktopProgram() : Program, args, DesktopEnvironment(),
                                        Folder);
    }
    TRunResult RunDesktop(const std::vector<std::string>& Args, const std::string& Program = "")
    {
        std::unique_ptr<TChild> child = StartDesktop(Args, Program);
        child->CloseIn();
        TRunResult result = child->Finish(RunLimitMs);
        EXPECT_FALSE(result.TimedOut) << "orbesk did not end; output so far:\n" << result.Out << result.Err;
        return result;
    }
    std::string Ini;
    std::string Good;
    std::string Bad;
    std::string GoodXsvf;
    std::string BadXsvf;
};

// The cable kinds, each with the two-device chain: the device, its kind
// option, the ProgrammerId the settings remember and the trace line of the
// cable let go at the end.
struct TCableCase {
    const char* Name;
    std::string Device;
    std::vector<std::string> KindArgs;
    int32_t LastSerial;
    std::string Closed;
};
std::vector<TCableCase> CableCases()
{
    return {
        {"varnel", Varnel("A6010001", TwoDevices), {}, 0x00010001, "varnel:A6010001 close "},
        {"mirrow", Mirrow("A6040001", TwoDevices), {"-MIRROW"}, 0x02040001, "mirrow:A6040001 register r=91 "},
        {"druvel", Druvel("A6123456", TwoDevices), {"-DRUVEL"}, 0x7B123456, "druvel:A6123456 mode reset"},
    };
}

TEST_F(OrbeskUnattended, ExitStatusZeroAfterAGoodFileOneAfterAFailingOneOnEachCable)
{
    for (const TCableCase& cable : CableCases()) {
        SCOPED_TRACE(cable.Name);
        ScenarioText = Scenario({cable.Device});
        struct TCase {
            std::string File;
            int Status;
        };
        for (const TCase& c : {TCase{Good, 0}, TCase{Bad, 1}, TCase{GoodXsvf, 0}, TCase{BadXsvf, 1}}) {
            SCOPED_TRACE(c.File);
            std::filesystem::remove(Ini);
            std::filesystem::remove(TracePath);
            std::vector<std::string> args = {"-F", c.File, "-P", "-C", "-CC"};
            args.insert(args.end(), cable.KindArgs.begin(), cable.KindArgs.end());
            const TRunResult r = RunDesktop(args);
            EXPECT_EQ(r.Status, c.Status);
            // Closed as usual: the settings remember the cable.
            EXPECT_THAT(ReadText(Ini), HasSubstr("LastSerial=" + std::to_string(cable.LastSerial) + "\n"));
            const std::vector<std::string> closed = TraceWith(cable.Closed);
            ASSERT_THAT(closed, Not(IsEmpty()));
            EXPECT_THAT(TraceWith("scan "), Not(IsEmpty()));
            // The Mirrow's closing packet tells a failed run from a good one.
            if (std::string(cable.Name) == "mirrow") {
                EXPECT_THAT(closed.back(), EndsWith(c.Status == 0 ? "value=8000" : "value=8200"));
            }
        }
    }
}

TEST_F(OrbeskUnattended, TheCommandLineIsReadAsGivenBeforeTheToolkitTakesItsOwnOptions)
{
    // The toolkit takes "-style" and the argument after it; the program
    // still sees -F and plays the file.
    ScenarioText = Scenario({Varnel("A6010001", TwoDevices)});
    const TRunResult r = RunDesktop({"-style", "-F", Good, "-P", "-C", "-CC"});
    EXPECT_EQ(r.Status, 0) << r.Err;
}

TEST_F(OrbeskUnattended, ExitStatusTwoWithNoCableOrNoDriverAndNothingPlayed)
{
    ScenarioText = Scenario({});
    TRunResult r = RunDesktop({"-F", Good, "-P", "-C", "-CC"});
    EXPECT_EQ(r.Status, 2);
    EXPECT_TRUE(std::filesystem::exists(Ini));

    // A program folder without the driver library; the error box is closed
    // by the failed start's -CC.
    ScenarioText = Scenario({Varnel("A6010001", TwoDevices)});
    const std::string folder = Folder + "/prog";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(DesktopProgram(), folder + "/orbesk");
    std::filesystem::remove(Ini);
    r = RunDesktop({"-F", Good, "-P", "-C", "-CC"}, folder + "/orbesk");
    EXPECT_EQ(r.Status, 2);
    EXPECT_TRUE(std::filesystem::exists(Ini));
    EXPECT_THAT(TraceWith("setup"), IsEmpty());
}

TEST_F(OrbeskUnattended, ASettingsFileThatCannotBeWrittenChangesNeitherTheRunNorItsStatusAndIsSaidOnStandardError)
{
    // Below a file: no writer gets there, root included.
    ScenarioText = Scenario({Varnel("A6010001", TwoDevices)});
    const std::string plain = Write("plain.txt", "x");
    std::unique_ptr<TChild> child = std::make_unique<TChild>(
        DesktopProgram(), std::vector<std::string>{"-I", plain + "/orbesk.ini", "-F", Good, "-P", "-C", "-CC"},
        DesktopEnvironment(), Folder);
    child->CloseIn();
    const TRunResult r = child->Finish(RunLimitMs);
    // No box waits for an answer nobody gives: the line goes to standard
    // error, and the program ends.
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.Err, HasSubstr("The settings file " + plain + "/orbesk.ini cannot be written: Not a directory.\n"));
    EXPECT_EQ(ReadText(plain), "x");
    EXPECT_FALSE(std::filesystem::exists(Ini));
    EXPECT_THAT(TraceWith("scan "), Not(IsEmpty()));
}

TEST_F(OrbeskUnattended, ASignalEndsTheRunAsFailedParksTheCableAndUnpowersTheTarget)
{
    // Paced replies keep this file playing for about six seconds. The
    // worker stops once the replies already asked for are in, so a run
    // that ends with status 1 is one the signal ended.
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (int i = 0; i < 600; ++i)
        text += "SDR 32 TDI (00000000) TDO (0ABC1DEF);\n";
    const std::string slow = Write("slow.svf", text);
    const std::string paced = TwoDevices + ",\"faults\":{\"reply_interval_ms\":1}";
    struct TCase {
        int Signal;
        std::string Device;
        std::vector<std::string> KindArgs;
        std::string Closed;
        std::string LastBytes;
    };
    const TCase cases[] = {
        {SIGTERM, Varnel("A6010001", paced), {}, "varnel:A6010001 close ", "last=A3 A8 EC C8"},
        {SIGINT, Varnel("A6010001", paced), {}, "varnel:A6010001 close ", "last=A3 A8 EC C8"},
        // A Mirrow that powers the target: the closing packet of a failed run.
        {SIGTERM, Mirrow("A6040001", paced), {"-MIRROW"}, "mirrow:A6040001 register r=91 ", "value=8200"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Device + " signal " + std::to_string(c.Signal));
        ScenarioText = Scenario({c.Device});
        Write("orbesk.ini", "[Params]\nMirrowVddOut=1\n");
        std::filesystem::remove(TracePath);
        std::vector<std::string> args = {"-F", slow, "-P", "-C", "-CC"};
        args.insert(args.end(), c.KindArgs.begin(), c.KindArgs.end());
        std::unique_ptr<TChild> child = StartDesktop(args);
        child->CloseIn();
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        ASSERT_TRUE(child->Running());
        kill(child->Pid(), c.Signal);
        const TRunResult r = child->Finish(RunLimitMs);
        EXPECT_FALSE(r.TimedOut);
        EXPECT_EQ(r.Status, 1);
        EXPECT_THAT(ReadText(Ini), HasSubstr("LastSerial="));
        const std::vector<std::string> closes = TraceWith(c.Closed);
        ASSERT_THAT(closes, Not(IsEmpty()));
        EXPECT_THAT(closes.back(), EndsWith(c.LastBytes));
        // Whatever was powered is off at the end.
        const std::vector<std::string> power = TraceWith(" power ");
        if (!c.KindArgs.empty()) {
            EXPECT_THAT(TraceWith(" power on "), Not(IsEmpty()));
        }
        if (!power.empty()) {
            EXPECT_THAT(power.back(), EndsWith("power off"));
        }
    }
}

} // namespace
