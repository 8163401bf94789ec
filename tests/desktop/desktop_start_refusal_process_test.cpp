// orbesk run unattended (-F file -P -C) refusing a start before anything
// reaches a board: another program keeping the cable search, a stop while
// it is waited for, and a data file that cannot be played, which touches
// no cable at all.
#include <gmock/gmock.h>

#include <signal.h>

#include <chrono>
#include <thread>

#include "console_e2e/e2e_fixture.h"
#include "support/xsvf_bytes.h"
#include "usb/usb_fixture.h"

namespace {

using namespace e2e;
using testing::IsEmpty;

class OrbeskRefusesTheStart : public TOrbeskconTest {
protected:
    void SetUp() override
    {
        TOrbeskconTest::SetUp();
        LockFolder = Folder + "/searchlock";
        std::filesystem::create_directories(LockFolder);
        Ini = Folder + "/orbesk.ini";
        // Every kind attached, the Mirrow powering the target at its open:
        // a refusal must neither play on any of them nor power anything.
        Write("orbesk.ini", "[Params]\nMirrowVddOut=1\n");
        ScenarioText = Scenario({Varnel("A6010001", TwoDevices),
                                 Mirrow("A6040001", TwoDevices + ",\"target\":{\"supply\":\"cable\"}"),
                                 Druvel("A6123456", TwoDevices)});
        Good = Write("good.svf", IdcodeSvf(true));
    }

    std::unique_ptr<TChild> StartDesktop(const std::vector<std::string>& Args)
    {
        TEnvironment env = Environment();
        env["QT_QPA_PLATFORM"] = "offscreen";
        env["ORBESK_SEARCH_LOCK_DIR"] = LockFolder;
        std::vector<std::string> args = {"-I", Ini};
        args.insert(args.end(), Args.begin(), Args.end());
        auto child = std::make_unique<TChild>(std::string(ORBESK_DESKTOP_BIN) + "/orbesk", args, env, Folder);
        child->CloseIn();
        return child;
    }
    void HoldSearchLock()
    {
        Holder = std::make_unique<usbtest::THolderProcess>("FTDI_KALDOR_SEARCH", LockFolder);
        ASSERT_TRUE(Holder->Held);
    }
    void ExpectNoCableTouched() const
    {
        EXPECT_THAT(TraceWith("d2xx open"), IsEmpty());
        EXPECT_THAT(TraceWith(" scan "), IsEmpty());
    }

    std::string LockFolder;
    std::string Ini;
    std::string Good;
    std::unique_ptr<usbtest::THolderProcess> Holder;
};

TEST_F(OrbeskRefusesTheStart, ASearchLockKeptPastItsWaitNeverSendsTheFileToAnotherKind)
{
    HoldSearchLock();
    // Side by side: each waits the program's full ten seconds. -CC
    // closes the window after a failed start.
    const std::vector<std::vector<std::string>> cases = {
        {"-F", Good, "-P", "-C", "-CC"},
        {"-F", Good, "-P", "-C", "-CC", "-MIRROW"},
        {"-F", Good, "-P", "-C", "-CC", "-S", "A6123456", "-DRUVEL"},
    };
    std::vector<std::unique_ptr<TChild>> children;
    for (const auto& args : cases)
        children.push_back(StartDesktop(args));
    for (size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE(testing::PrintToString(cases[i]));
        const TRunResult r = children[i]->Finish(RunLimitMs);
        ASSERT_FALSE(r.TimedOut);
        EXPECT_EQ(r.Status, 2);
    }
    ExpectNoCableTouched();
}

TEST_F(OrbeskRefusesTheStart, AStopWhileTheSearchIsWaitedForEndsTheProgramAtOnce)
{
    HoldSearchLock();
    std::unique_ptr<TChild> child = StartDesktop({"-F", Good, "-P", "-C", "-CC"});
    // Well inside the ten seconds' wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(child->Running());
    const auto sent = std::chrono::steady_clock::now();
    child->SendSignal(SIGTERM);
    const TRunResult r = child->Finish(RunLimitMs);
    // Generous: the wait had more than eight seconds to go.
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(5));
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.Signal, 0);
    EXPECT_EQ(r.Status, 1);
    ExpectNoCableTouched();
}

TEST_F(OrbeskRefusesTheStart, AFileThatCannotBePlayedTouchesNoCable)
{
    std::filesystem::create_directories(Folder + "/folder.svf");
    const std::string files[] = {
        Write("last.svf", IdcodeSvf(true) + "SDR 8 TDI 00;\n"),
        Write("cut.svf", IdcodeSvf(true) + "SDR 8 TDI (00)"),
        Write("nothex.svf", IdcodeSvf(true) + "SDR 8 TDI (zz);\n"),
        Write("refused.xsvf", xsvftest::TXsvf().Sir(12, 0x101).Raw({0x17}).Bytes()),
        Folder + "/folder.svf",
        Folder + "/absent.svf",
    };
    for (const std::string& file : files)
        for (const std::vector<std::string>& kind : {std::vector<std::string>{}, {"-MIRROW"}}) {
            SCOPED_TRACE(file + " " + testing::PrintToString(kind));
            std::filesystem::remove(TracePath);
            std::vector<std::string> args = {"-F", file, "-P", "-C", "-CC"};
            args.insert(args.end(), kind.begin(), kind.end());
            const TRunResult r = StartDesktop(args)->Finish(RunLimitMs);
            ASSERT_FALSE(r.TimedOut);
            EXPECT_EQ(r.Status, 2);
            ExpectNoCableTouched();
            EXPECT_THAT(TraceWith("power on"), IsEmpty());
        }
}

} // namespace
