// orbesk as a process beside the emulated driver, unattended: -F file -P
// -C -CC on each cable kind, its exit status and the settings it leaves;
// and a run ended by a signal.
#include <gmock/gmock.h>

#include <signal.h>

#include <thread>

#include "console_e2e/e2e_fixture.h"

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
};

// The cable kinds whose device side the emulator has, each with the
// two-device chain: the device, its kind option, the ProgrammerId the
// settings remember and the trace line of the cable let go at the end.
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
        for (const TCase& c : {TCase{Good, 0}, TCase{Bad, 1}}) {
            SCOPED_TRACE(c.File);
            std::filesystem::remove(Ini);
            std::filesystem::remove(TracePath);
            std::vector<std::string> args = {"-F", c.File, "-P", "-C", "-CC"};
            args.insert(args.end(), cable.KindArgs.begin(), cable.KindArgs.end());
            const TRunResult r = RunDesktop(args);
            EXPECT_EQ(r.Status, c.Status);
            // Closed as usual: the settings remember the cable.
            EXPECT_THAT(ReadText(Ini), HasSubstr("LastSerial=" + std::to_string(cable.LastSerial) + "\n"));
            EXPECT_THAT(TraceWith(cable.Closed), Not(IsEmpty()));
            EXPECT_THAT(TraceWith("scan "), Not(IsEmpty()));
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

TEST_F(OrbeskUnattended, ASignalEndsTheRunAsFailedAndParksTheCable)
{
    // Paced replies keep this file playing for about six seconds. The
    // worker stops once the replies already asked for are in, so a run
    // that ends with status 1 is one the signal ended.
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (int i = 0; i < 600; ++i)
        text += "SDR 32 TDI (00000000) TDO (0ABC1DEF);\n";
    const std::string slow = Write("slow.svf", text);
    ScenarioText = Scenario({Varnel("A6010001", TwoDevices + ",\"faults\":{\"reply_interval_ms\":1}")});
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        std::filesystem::remove(Ini);
        std::unique_ptr<TChild> child = StartDesktop({"-F", slow, "-P", "-C", "-CC"});
        child->CloseIn();
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        ASSERT_TRUE(child->Running());
        kill(child->Pid(), signal);
        const TRunResult r = child->Finish(RunLimitMs);
        EXPECT_FALSE(r.TimedOut);
        EXPECT_EQ(r.Status, 1);
        EXPECT_TRUE(std::filesystem::exists(Ini));
        const std::vector<std::string> closes = TraceWith("varnel:A6010001 close ");
        ASSERT_THAT(closes, Not(IsEmpty()));
        EXPECT_THAT(closes.back(), EndsWith("last=A3 A8 EC C8"));
    }
}

} // namespace
