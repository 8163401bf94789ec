// orbeskcon refusing a start before anything reaches a board: another
// program keeping the cable search, a stop while it is waited for, each
// reason no cable could be used, and a data file that cannot be played,
// which touches no cable at all.
#include <gmock/gmock.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "e2e_fixture.h"
#include "support/xsvf_bytes.h"
#include "usb/usb_fixture.h"

namespace {

using namespace e2e;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::IsEmpty;

const std::string Waiting = "Waiting for another program that is searching for JTAG cables...";
const std::string Busy = "The JTAG cable search is busy in another program; try again.";
const std::string NotSelected = "Fatal error: No JTAG cable is selected.";
const std::string CannotOpen = "Fatal error: Cannot open any JTAG cable.";
// No cable is open before the search.
const std::string StoppingLine = "Stopping. Press Ctrl-C again to quit at once.";
const std::string StoppedLine = "Run stopped by a signal.";

class OrbeskconRefusesTheStart : public TOrbeskconTest {
protected:
    void SetUp() override
    {
        TOrbeskconTest::SetUp();
        LockFolder = Folder + "/searchlock";
        std::filesystem::create_directories(LockFolder);
        // Every kind attached: a refusal must not play on any of them.
        ScenarioText = Scenario({Varnel("A6010001", TwoDevices), Mirrow("A6040001", TwoDevices),
                                 Druvel("A6123456", TwoDevices)});
        Good = Write("good.svf", IdcodeSvf(true));
    }

    // The search lock in the test's own folder.
    std::unique_ptr<TChild> StartHere(const std::vector<std::string>& Args)
    {
        TEnvironment env = Environment();
        env["ORBESK_SEARCH_LOCK_DIR"] = LockFolder;
        return std::make_unique<TChild>(SharedProgram(), Args, env, Folder);
    }
    TRunResult RunHere(const std::vector<std::string>& Args)
    {
        std::unique_ptr<TChild> child = StartHere(Args);
        child->CloseIn();
        TRunResult r = child->Finish(RunLimitMs);
        EXPECT_FALSE(r.TimedOut) << r.Out;
        return r;
    }
    // Another process that keeps the search lock until the test ends.
    void HoldSearchLock()
    {
        Holder = std::make_unique<usbtest::THolderProcess>("FTDI_KALDOR_SEARCH", LockFolder);
        ASSERT_TRUE(Holder->Held);
    }
    // No device was opened, not even to be looked at.
    void ExpectNoCableTouched() const { EXPECT_THAT(TraceWith("d2xx open"), IsEmpty()); }

    std::string LockFolder;
    std::string Good;
    std::unique_ptr<usbtest::THolderProcess> Holder;
};

TEST_F(OrbeskconRefusesTheStart, ASearchLockKeptPastItsWaitNeverSendsTheFileToAnotherKind)
{
    HoldSearchLock();
    struct TCase {
        std::vector<std::string> Args;
        std::vector<std::string> Out;
    };
    const TCase cases[] = {
        {{Good}, {Waiting, Busy, NotSelected, CannotOpen}},
        {{"-mirrow", Good}, {Waiting, Busy, NotSelected, CannotOpen}},
        {{"-s", "A6010001", Good}, {Waiting, Busy, CannotOpen}},
        {{"-druvel", "-s", "A6123456", Good}, {Waiting, Busy, CannotOpen}},
    };
    // Side by side: each waits the program's full ten seconds.
    std::vector<std::unique_ptr<TChild>> children;
    for (const TCase& c : cases) {
        children.push_back(StartHere(c.Args));
        children.back()->CloseIn();
    }
    for (size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE(testing::PrintToString(cases[i].Args));
        const TRunResult r = children[i]->Finish(RunLimitMs);
        ASSERT_FALSE(r.TimedOut);
        EXPECT_THAT(r.OutLines(), ElementsAreArray(cases[i].Out));
        EXPECT_EQ(r.Status, 2);
    }
    ExpectNoCableTouched();
}

TEST_F(OrbeskconRefusesTheStart, AStopWhileTheSearchIsWaitedForEndsTheProgramAtOnce)
{
    HoldSearchLock();
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        std::unique_ptr<TChild> child = StartHere({Good});
        child->CloseIn();
        ASSERT_TRUE(child->ReadUntil(Waiting + "\n", RunLimitMs));
        const auto sent = std::chrono::steady_clock::now();
        child->SendSignal(signal);
        const TRunResult r = child->Finish(RunLimitMs);
        // Generous: the wait had nine seconds to go.
        EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(5));
        ASSERT_FALSE(r.TimedOut);
        EXPECT_EQ(r.Signal, 0);
        EXPECT_EQ(r.Status, 1);
        EXPECT_THAT(r.OutLines(), ElementsAre(Waiting, StoppingLine, StoppedLine));
    }
    ExpectNoCableTouched();
}

TEST_F(OrbeskconRefusesTheStart, EachReasonNoCableCouldBeUsedHasItsLine)
{
    const std::string lastSerial = Write("last.ini", "[Params]\nLastSerial=65537\n");
    const std::string lowVoltage = Write("low.ini", "[Params]\nMirrowVddMin=40\n");
    const std::string noCable = Write("none.ini", "[Params]\nLastSerial=-2\n");
    struct TCase {
        const char* Why;
        std::vector<std::string> Devices;
        std::vector<std::string> Args;
        std::vector<std::string> Out;
    };
    const TCase cases[] = {
        {"nothing attached", {}, {Good}, {"No JTAG cable is attached.", NotSelected, CannotOpen}},
        {"no cable of the kind preferred",
         {Varnel("A6010001")},
         {"-mirrow", Good},
         {"No MIRROW or DRUVEL is attached; attached: VARNEL S/N A6010001.", NotSelected, CannotOpen}},
        {"a serial of another kind",
         {Mirrow("A6040001")},
         {"-s", "A6040001", Good},
         {"The cable A6040001 is a MIRROW, not a VARNEL: -mirrow selects it.", "Fatal error: Cannot find VARNEL",
          CannotOpen}},
        {"a serial whose kind byte names another kind, not attached",
         {Druvel("A6123456")},
         {"-s", "A6040002", Good},
         {"No VARNEL S/N A6040002 is attached: A6040002 is a MIRROW serial, -mirrow selects it; attached: DRUVEL "
          "S/N A6123456.",
          "Fatal error: Cannot find VARNEL", CannotOpen}},
        {"the settings' serial",
         {Mirrow("A6040001")},
         {"-i", lastSerial, Good},
         {"No VARNEL S/N A6010001 is attached; attached: MIRROW S/N A6040001. That cable is the settings' "
          "LastSerial, not one named on the command line: -s - chooses a cable automatically.",
          "Fatal error: Cannot find VARNEL", CannotOpen}},
        // A kind option would not change the settings' serial: the remedy
        // is the automatic choice.
        {"the settings' serial names a Varnel where a Druvel is",
         {Druvel("A6010001")},
         {"-i", lastSerial, Good},
         {"The cable A6010001 is a DRUVEL, not a VARNEL. That cable is the settings' LastSerial, not one named on "
          "the command line: -s - chooses a cable automatically.",
          "Fatal error: Cannot find VARNEL", CannotOpen}},
        {"the settings' serial names no cable", {Varnel("A6010001")}, {"-i", noCable, Good},
         {"Warning: the setting LastSerial=-2 names no cable (-1, or a serial with the kind 0, 2 or 123 in bits "
          "24-31); no cable is chosen by it.",
          "The settings' LastSerial=-2 names no cable. -s - chooses a cable automatically.", NotSelected,
          CannotOpen}},
        {"a full serial is taken as typed", {Druvel("A6010005")}, {"-druvel", "-s", "A6000005", Good},
         {"No DRUVEL S/N A6000005 is attached; attached: DRUVEL S/N A6010005.", "Fatal error: Cannot find DRUVEL",
          CannotOpen}},
        {"a full serial never names the Varnel beside it", {Varnel("A6010001")}, {"-s", "A6000001", Good},
         {"No VARNEL S/N A6000001 is attached: A6000001 is a DRUVEL serial, -druvel selects it; attached: VARNEL "
          "S/N A6010001.",
          "Fatal error: Cannot find VARNEL", CannotOpen}},
        {"-druvel alone takes no other kind", {Varnel("A6010001"), Mirrow("A6040001")}, {"-druvel", Good},
         {"No DRUVEL is attached; attached: VARNEL S/N A6010001, MIRROW S/N A6040001.", NotSelected, CannotOpen}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        ScenarioText = Scenario(c.Devices);
        std::filesystem::remove(TracePath);
        const TRunResult r = RunHere(c.Args);
        EXPECT_THAT(r.OutLines(), ElementsAreArray(c.Out));
        EXPECT_EQ(r.Status, 2);
        EXPECT_THAT(TraceWith(" scan "), IsEmpty());
    }

    // The cable named exactly plays, whatever stands beside it.
    ScenarioText = Scenario({Druvel("A6010005", TwoDevices), Druvel("A6000005", TwoDevices)});
    const TRunResult played = RunHere({"-druvel", "-s", "A6000005", Good});
    EXPECT_EQ(played.Status, 0) << played.Out;
    EXPECT_EQ(played.OutLines().front(), "Using DRUVEL S/N A6000005");

    // A Mirrow whose target voltage is outside its limits: the cable says
    // so before the kept line.
    ScenarioText = Scenario({Mirrow("A6040001", TwoDevices)});
    const TRunResult r = RunHere({"-mirrow", "-i", lowVoltage, Good});
    ASSERT_FALSE(r.OutLines().empty());
    EXPECT_THAT(r.OutLines().front(), HasSubstr("is out of limits."));
    EXPECT_EQ(r.OutLines().back(), CannotOpen);
    EXPECT_EQ(r.Status, 2);
}

// A good file's first lines, then Last.
std::string GoodThen(const std::string& Last)
{
    return IdcodeSvf(true) + Last;
}

TEST_F(OrbeskconRefusesTheStart, AFileThatCannotBePlayedTouchesNoCable)
{
    // On a Mirrow that would power the target at its open, and on the
    // first cable found.
    const std::string powered = Write("powered.ini", "[Params]\nMirrowVddOut=1\n");
    ScenarioText = Scenario({Varnel("A6010001", TwoDevices),
                             Mirrow("A6040001", TwoDevices + ",\"target\":{\"supply\":\"cable\"}")});
    const std::string lastLine = Write("last.svf", GoodThen("SDR 64 TDI (0000000000000000) TDO 123450930ABC1DEF;\n"));
    const std::string cut = Write("cut.svf", GoodThen("SDR 64 TDI (0000000000000000) TDO (123450930ABC1DEF)"));
    const std::string notHex = Write("nothex.svf", GoodThen("SDR 8 TDI (zz);\nSTATE RESET;\n"));
    const std::string xsvf = Write("refused.xsvf", xsvftest::TXsvf().Sir(12, 0x101).Raw({0x17}).Bytes());
    // Each error stands on the line after the good file's.
    const std::string line = std::to_string(SplitLines(IdcodeSvf(true)).size() + 1);
    struct TCase {
        std::string File;
        std::vector<std::string> Out;
    };
    const TCase cases[] = {
        {lastLine,
         {"Fatal error \"Hexadecimal number is not enclosed in parentheses.\" near line " + line,
          "\"SDR 64 TDI (0000000000000000) TDO 123450930ABC1DEF;\""}},
        {cut,
         {"Fatal error \"Missing ';' at the end of the statement\" near line " + line,
          "\"SDR 64 TDI (0000000000000000) TDO (123450930ABC1DEF)\""}},
        {notHex,
         {"Fatal error \"Hexadecimal number holds 'Z', which is not a hexadecimal digit.\" near line " + line,
          "\"SDR 8 TDI (zz);\""}},
        {xsvf, {"Fatal error \"Unknown command 17\""}},
    };
    for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"-mirrow", "-i", powered}})
        for (const TCase& c : cases) {
            SCOPED_TRACE(c.File + " " + testing::PrintToString(options));
            std::filesystem::remove(TracePath);
            std::vector<std::string> args = options;
            args.push_back(c.File);
            const TRunResult r = RunHere(args);
            EXPECT_THAT(r.OutLines(), ElementsAreArray(c.Out));
            EXPECT_EQ(r.Status, 2);
            ExpectNoCableTouched();
            EXPECT_THAT(TraceWith("power on"), IsEmpty());
        }
}

TEST_F(OrbeskconRefusesTheStart, ADirectoryIsSaidToBeOne)
{
    std::filesystem::create_directories(Folder + "/folder.svf");
    const TRunResult r = RunHere({"folder.svf"});
    EXPECT_THAT(r.OutLines(), ElementsAre("Error, the selected data file is a directory:", "folder.svf"));
    EXPECT_EQ(r.Status, 3);
    ExpectNoCableTouched();
}

// A file that cannot be opened as root too (a FIFO) is in orbeskcon_run_test.
// Root reads a file whatever its mode: there the program runs as another
// user, which must be able to play a readable file in the same folder, so
// that an empty trace means no cable was touched.
TEST_F(OrbeskconRefusesTheStart, AnUnreadableFileIsRefused)
{
    const std::string locked = Write("locked.svf", IdcodeSvf(true));
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    // The other user runs a copy in the test's folder: the build may lie
    // in a folder it cannot enter.
    const std::string program = geteuid() == 0 ? PrivateProgram() : SharedProgram();
    const auto runAs = [&](const std::string& File) {
        if (geteuid() != 0)
            return RunHere({File});
        TEnvironment env = Environment();
        env["ORBESK_SEARCH_LOCK_DIR"] = LockFolder;
        TChild child("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", program, File}, env,
                     Folder);
        child.CloseIn();
        return child.Finish(RunLimitMs);
    };
    if (geteuid() == 0) {
        if (access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "run as root, which reads a file of mode 000 all the same, and without "
                            "/usr/bin/setpriv to run as another user";
        for (const std::string& folder : {Folder, LockFolder, Folder + "/prog"})
            std::filesystem::permissions(folder, std::filesystem::perms::all);
        const TRunResult good = runAs(Good);
        ASSERT_EQ(good.Status, 0) << good.Out;
        ASSERT_THAT(TraceWith("d2xx open"), testing::Not(IsEmpty())) << "the other user's run leaves a trace";
        std::filesystem::remove(TracePath);
    }
    const TRunResult r = runAs(locked);
    EXPECT_THAT(r.OutLines(), ElementsAre("Fatal error \"Cannot open file " + locked + " for read.\""));
    EXPECT_EQ(r.Status, 2);
    ExpectNoCableTouched();
}

} // namespace
