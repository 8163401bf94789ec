// Whole SVF files played through OpenAndStart on the emulated Mirrow: the
// same chain history as on the Varnel with the target supplied by the cable
// or not, RUNTEST waits judged on the device clock, and a cable that fails
// mid-run ending the run with the target unpowered. (The examples and the
// vendor files on every cable are in executor_cables_test.cpp.)
#include <gmock/gmock.h>

#include <algorithm>

#include "cables/mirrow.h"
#include "support/cable_files.h"
#include "svf_play_fixture.h"

namespace {

using namespace exectest;
using testing::Contains;
using testing::HasSubstr;

testing::Environment* const Svf = testing::AddGlobalTestEnvironment(new TRegisterSvf);

const std::string TwoDevices = R"("chain":[
    {"name":"first","ir_length":4,"idcode":{"opcode":1,"value":"0x12345093"}},
    {"name":"second","ir_length":8,"idcode":{"opcode":1,"value":"0x0ABC1DEF"}}])";

const char* const IdcodesAndBypass = R"(! both IDCODEs, then both in bypass
STATE RESET;
STATE IDLE;
FREQUENCY 2E6 HZ;
SIR 12 TDI (101) TDO (101) MASK (FFF);
SDR 64 TDI (0000000000000000) TDO (123450930ABC1DEF);
RUNTEST 100 TCK;
FREQUENCY 4E5 HZ;
SIR 12 TDI (FF1) TDO (101);
SDR 33 TDI (1FFFFFFFF) TDO (1FFFFFFFC);
RUNTEST 1E-3 SEC;
STATE RESET;
)";

class SvfOnMirrow : public TSvfPlayTest {
protected:
    void SetUp() override
    {
        TSvfPlayTest::SetUp();
        Exec->DefFreq = 0;
        Exec->MirrowVddMin = 18;
        Exec->MirrowVddMax = 55;
        Exec->MirrowVddVal = 33;
        Exec->MirrowVddDelay = 10000;
        Exec->DefFreqRuntestPuls = 4;
    }
    void LoadCable(const std::string& Members) override { On(true, Members); }
    void On(bool Mirrow, const std::string& Members)
    {
        Load({Mirrow ? exectest::Mirrow("A6040001", Members) : exectest::Varnel("A6010001", Members)});
        Exec->SelectedCable = Mirrow ? 0x02040001 : 0x00010001;
        Exec->ClearLog();
    }
    std::vector<std::string> Errors() { return LogOf(MessageKind::Error); }
    sim::MirrowProtocol& Device() { return *static_cast<sim::MirrowProtocol*>(Sim->Protocol(0)); }
};

TEST_F(SvfOnMirrow, TheChainSeesWhatItSeesOnAVarnelWithTheTargetSuppliedOrNot)
{
    On(false, TwoDevices);
    ASSERT_EQ(Play(IdcodesAndBypass), FileStatus::Succeeded) << testing::PrintToString(Errors());
    const std::vector<std::string> onVarnel = ChainHistory(Sim->Trace());
    ASSERT_THAT(onVarnel, Contains("scan dr n=2 bits=64 in=0000000000000000 out=123450930ABC1DEF from=IDLE"));

    for (const bool supplied : {false, true}) {
        SCOPED_TRACE(supplied ? "supplied by the cable" : "the target's own supply");
        On(true, TwoDevices + (supplied ? ",\"target\":{\"supply\":\"cable\"}" : ""));
        Exec->MirrowVddOut = supplied;
        ASSERT_EQ(Play(IdcodesAndBypass), FileStatus::Succeeded) << testing::PrintToString(Errors());
        EXPECT_EQ(ChainHistory(Sim->Trace()), onVarnel);
        EXPECT_THAT(Exec->Log(), Contains(TLogLine{"MIRROW: UCC = 3.3V", MessageKind::Info}));
        EXPECT_THAT(Exec->Log(), Contains(TLogLine{"Using MIRROW S/N A6040001", MessageKind::Info}));
        EXPECT_EQ(TraceWith(" power on").size(), supplied ? 1u : 0u);
        EXPECT_FALSE(Device().Powered()) << "the close switches the supply off";
        EXPECT_EQ(Device().ProtocolErrors(), 0u);
    }
}

TEST_F(SvfOnMirrow, EveryRuntestModeWaitsAtLeastWhatTheFileAsksOnTheDeviceClock)
{
    // Times of 20 ms, counts of 5000 cycles (25 ms at 200 kHz).
    ExpectEachWaitLasts({
        {"time, clock stopped", {0}, "3E6", "20E-3 SEC", 0, 20000000},
        {"time, low clock", {1}, "3E6", "20E-3 SEC", 2000, 20000000},
        {"time, low clock below its threshold", {1}, "5E4", "20E-3 SEC", 1000, 20000000},
        {"time, 1 MHz", {2}, "3E6", "20E-3 SEC", 20000, 20000000},
        {"time, 1 MHz below its threshold", {2}, "5E5", "20E-3 SEC", 10000, 20000000},
        {"time, design 3.33 MHz", {3}, "3.4E6", "20E-3 SEC", 66666, 20000000},
        {"time, the clock in force 333 333 Hz", {4}, "3.4E5", "20E-3 SEC", 6666, 20000000},
        {"time, 50 % added", {0, 4, 0, false, 50}, "3E6", "20E-3 SEC", 0, 30000000},
        {"time, design 1 MHz, 500 kHz in force", {3, 4, 0, false, 0, true}, "1E6", "20E-3 SEC", 20000, 20000000},
        {"count, 1 MHz", {0, 2}, "3E6", "5000 TCK", 5000, 5000000},
        {"count, design", {0, 3}, "2E5", "5000 TCK", 5000, 25000000},
        {"count, the clock in force", {0, 4}, "2E5", "5000 TCK", 5000, 25000000},
        {"count recalculated", {0, 4, 1}, "1E6", "5000 TCK", 0, 5000000},
        {"count as microseconds", {0, 4, 2}, "2E5", "5000 TCK", 0, 5000000},
        {"count under 1000 clocked with Only1000", {0, 4, 1, true}, "2E5", "999 TCK", 999, 4995000},
    });
}

TEST_F(SvfOnMirrow, AWaitInTestLogicResetHoldsTmsHigh)
{
    for (uint8_t mode : {0, 1, 4}) {
        SCOPED_TRACE(int{mode});
        LoadCable("");
        Exec->DefFreqRuntestTime = mode;
        ASSERT_EQ(Play("STATE IDLE;\nRUNTEST RESET 10E-3 SEC;\nSTATE IDLE;\n"), FileStatus::Succeeded);
        // The last long stay there: the open waits in Test-Logic-Reset too,
        // with TMS low.
        const std::vector<TStay> reset = Stays("RESET");
        const auto wait = std::find_if(reset.rbegin(), reset.rend(), [](const TStay& S) { return S.Ns >= 10000000; });
        ASSERT_NE(wait, reset.rend());
        EXPECT_EQ(wait->Tms, '1');
    }
}

TEST_F(SvfOnMirrow, AnUndefinedCountClockEndsTheRunWithItsMessage)
{
    LoadCable("");
    Exec->DefFreqRuntestPuls = 7;
    EXPECT_EQ(Play("STATE IDLE;\nRUNTEST 10 TCK;\n"), FileStatus::Failed);
    EXPECT_THAT(Errors(), Contains(HasSubstr("DefFreqRuntestPuls not defined")));
}

TEST_F(SvfOnMirrow, ASilentCableEndsTheRunOnceItsQueuedTimeAndFiveSecondsHavePassed)
{
    // The open's replies (the upload's 5, 72 of calibration, 2 of the
    // measurement), then none.
    ExpectASilentCableEndsTheRun(
        {
            {"no wait", 0, 1, "", 0},
            {"20 s timed by the device", 0, 1, "RUNTEST 20 SEC;\n", 20000},
            {"20 s at the low clock", 1, 1, "RUNTEST 20 SEC;\n", 20000},
            {"a count recalculated to 20 s", 0, 1, "RUNTEST 20000000 TCK;\n", 20000},
        },
        "\"faults\":{\"replies_stop_after\":79}");
}

TEST_F(SvfOnMirrow, ACableFailingMidRunEndsItWithACommunicationErrorAndTheTargetUnpowered)
{
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (int i = 0; i < 400; ++i)
        text += "SDR 32 TDI (00000000) TDO (0ABC1DEF);\n";
    // The open writes some 134 000 bytes and takes 79 replies.
    for (const char* fault : {"\"unplug_after\":140000", "\"write_fail_after\":140000", "\"replies_stop_after\":100"}) {
        SCOPED_TRACE(fault);
        LoadCable(std::string("\"target\":{\"supply\":\"cable\"},\"faults\":{") + fault + "}");
        Exec->MirrowVddOut = true;
        EXPECT_EQ(Play(text), FileStatus::Failed);
        EXPECT_THAT(Errors(), Contains("USB communication error"));
        EXPECT_THAT(TraceWith(" power on"), testing::SizeIs(1));
        // A cable that refuses every write cannot be told anything: the
        // close still tries.
        if (std::string(fault).starts_with("\"write_fail")) {
            EXPECT_THAT(TraceWith(" fault write-failed"), testing::SizeIs(1));
        } else {
            EXPECT_FALSE(Device().Powered());
        }
    }
}

TEST_F(SvfOnMirrow, TheExecutorEndingMidRunLeavesTheTargetUnpowered)
{
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (int i = 0; i < 200; ++i)
        text += "SDR 32 TDI (00000000) TDO (0ABC1DEF);\nRUNTEST 10 SEC;\n";
    LoadCable("\"target\":{\"supply\":\"cable\"}");
    Exec->MirrowVddOut = true;
    const std::string path = (Folder / "long.svf").string();
    std::ofstream(path) << text;
    ASSERT_TRUE(Exec->OpenAndStart(path));
    // As a front end ends: the run stopped and its player freed first (its
    // worker must not call into a front end half destroyed), then the
    // executor, whose end closes the cable.
    Exec->CurrentFile->Stop();
    Exec->CurrentFile.reset();
    Exec.reset();
    EXPECT_THAT(TraceWith(" power on"), testing::SizeIs(1));
    EXPECT_FALSE(Device().Powered());
}

} // namespace
