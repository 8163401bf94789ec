// The Druvel's RUNTEST: the MPSSE bytes of each clock mode, the waits it
// refuses, and SVF files played through OpenAndStart on the emulated
// Druvel, judged by the simulated chain's device time.
#include <gmock/gmock.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "svf_play_fixture.h"

namespace {

using namespace exectest;
using testing::Contains;
using testing::ElementsAreArray;
using Bytes = std::vector<uint8_t>;

testing::Environment* const Svf = testing::AddGlobalTestEnvironment(new TRegisterSvf);

// ---- the bytes (no device needed: they stay queued)

TEST(DruvelRuntestBytes, EachModeSwitchesTheClockClocksTheCyclesAndSwitchesBack)
{
    struct TCase {
        const char* Why;
        bool Count; // a TCK count, else a time in microseconds
        uint32_t Value;
        uint8_t Mode;
        int32_t InForce;
        int32_t Design;
        bool HoldTms;
        Bytes Queued;
    };
    const Bytes hold0 = {0x80, 0x80, 0xDB}, hold1 = {0x80, 0x88, 0xDB};
    const Bytes back3M = {0x86, 0x01, 0x00};
    const auto cat = [](std::initializer_list<Bytes> Parts) {
        Bytes out;
        for (const Bytes& p : Parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const TCase cases[] = {
        {"20 cycles at the clock in force", true, 20, 4, 3000000, 3000000, false,
         cat({hold0, back3M, {0x11, 0x01, 0x00, 0x00, 0x00, 0x13, 0x03, 0x00}, back3M})},
        {"8 cycles: one byte, no bit command", true, 8, 4, 3000000, 3000000, false,
         cat({hold0, back3M, {0x11, 0x00, 0x00, 0x00}, back3M})},
        {"no cycles", true, 0, 4, 3000000, 3000000, false, cat({hold0, back3M, back3M})},
        {"a count at 1 MHz, whatever the clock in force", true, 20, 2, 100000, 3000000, false,
         cat({hold0, {0x86, 0x05, 0x00, 0x11, 0x01, 0x00, 0x00, 0x00, 0x13, 0x03, 0x00, 0x86, 0x3B, 0x00}})},
        {"a count at the design frequency", true, 20, 3, 3000000, 200000, true,
         cat({hold1, {0x86, 0x1D, 0x00, 0x11, 0x01, 0x00, 0x00, 0x00, 0x13, 0x03, 0x00}, back3M})},
        {"10 us at 1 MHz", false, 10, 2, 3000000, 3000000, false,
         cat({hold0, {0x86, 0x05, 0x00, 0x11, 0x00, 0x00, 0x00, 0x13, 0x01, 0x00}, back3M})},
        {"1 MHz below its threshold: the clock in force, 10 us + 1", false, 10, 2, 999999, 3000000, false,
         cat({hold0, {0x11, 0x00, 0x00, 0x00, 0x13, 0x02, 0x00, 0x86, 0x05, 0x00}})},
        {"100 us at 100 kHz: 10 + 1 cycles", false, 100, 1, 3000000, 3000000, false,
         cat({hold0, {0x86, 0x3B, 0x00, 0x11, 0x00, 0x00, 0x00, 0x13, 0x02, 0x00}, back3M})},
        {"100 kHz below its threshold: the clock in force", false, 100, 1, 99999, 3000000, false,
         cat({hold0, {0x11, 0x00, 0x00, 0x00, 0x13, 0x02, 0x00, 0x86, 0x3B, 0x00}})},
        {"10 us at the design's 1 MHz", false, 10, 3, 3000000, 1000000, false,
         cat({hold0, {0x86, 0x05, 0x00, 0x11, 0x00, 0x00, 0x00, 0x13, 0x02, 0x00}, back3M})},
        {"a design above 6 MHz: divisor 0, 60 + 1 cycles", false, 10, 3, 3000000, 10000000, false,
         cat({hold0, {0x86, 0x00, 0x00, 0x11, 0x06, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x13, 0x04, 0x00}, back3M})},
        {"10 us at the clock in force: 30 + 1, TMS high", false, 10, 4, 3000000, 3000000, true,
         cat({hold1, {0x11, 0x02, 0x00, 0x00, 0x00, 0x00, 0x13, 0x06, 0x00}, back3M})},
        {"no time: no cycles", false, 0, 2, 3000000, 3000000, false, cat({hold0, {0x86, 0x05, 0x00}, back3M})},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        TTestExecuter exec;
        exec.CurrentFrequency = c.InForce;
        exec.DesignFrequency = c.Design;
        exec.DefFreqRuntestTime = c.Mode;
        exec.DefFreqRuntestPuls = c.Mode;
        EXPECT_TRUE(c.Count ? exec.DruvelRuntestClocks(false, c.Value, c.HoldTms, {})
                            : exec.DruvelRuntestTime(false, c.Value, c.HoldTms, {}));
        EXPECT_THAT(exec.Queued(), ElementsAreArray(c.Queued));
        EXPECT_TRUE(exec.Log().empty());
    }
}

TEST(DruvelRuntestBytes, TheClockComesBackToTheOneLastSet)
{
    TTestExecuter exec;
    exec.DefFreq = 0; // 3 MHz
    exec.CurrentFrequency = 3000000;
    ASSERT_EQ(exec.DruvelSetFrequency(1000000, false), 1000000);
    exec.OutCount = 0;
    exec.DefFreqRuntestTime = 1;
    EXPECT_TRUE(exec.DruvelRuntestTime(false, 20, false, {}));
    const Bytes queued = exec.Queued();
    ASSERT_GE(queued.size(), 3u);
    EXPECT_THAT(Bytes(queued.end() - 3, queued.end()), ElementsAreArray({0x86, 0x05, 0x00}));
}

TEST(DruvelRuntestBytes, AStoppedClockOrAnUndefinedCountClockIsRefusedAfterTheTmsHold)
{
    struct TCase {
        bool Count;
        uint8_t Mode;
        const char* Text;
    };
    const TCase cases[] = {
        {false, 0, "Zero frequency RUNTEST is not supported on DRUVEL cable."},
        {true, 0, "DefFreqRuntestPuls not defined"},
        {true, 1, "DefFreqRuntestPuls not defined"},
        {true, 5, "DefFreqRuntestPuls not defined"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        TTestExecuter exec;
        exec.CurrentFrequency = 3000000;
        exec.DefFreqRuntestTime = c.Mode;
        exec.DefFreqRuntestPuls = c.Mode;
        try {
            if (c.Count)
                exec.DruvelRuntestClocks(false, 20, true, {});
            else
                exec.DruvelRuntestTime(false, 20, true, {});
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.Text);
        }
        EXPECT_THAT(exec.Queued(), ElementsAreArray({0x80, 0x88, 0xDB}));
    }
}

// ---- whole files on the emulated Druvel

class RuntestOnDruvel : public TSvfPlayTest {
protected:
    void SetUp() override
    {
        TSvfPlayTest::SetUp();
        Exec->SelectedCable = 0x7B123456;
    }
    void LoadCable(const std::string& Members) override
    {
        Load({Druvel("A6123456", Members)});
        Exec->ClearLog();
    }
};

TEST_F(RuntestOnDruvel, TheChainWaitsAtLeastWhatTheFileAsksAndTheNextScanRunsAtTheClockBefore)
{
    // Times of 20 ms, counts of 5000 cycles; at 200 kHz that is 25 ms.
    ExpectEachWaitLasts({
        {"time, 100 kHz", {1}, "3E6", "20E-3 SEC", 2000, 20000000},
        {"time, 100 kHz below its threshold: the clock in force", {1}, "5E4", "20E-3 SEC", 1000, 20000000},
        {"time, 1 MHz", {2}, "3E6", "20E-3 SEC", 20000, 20000000},
        {"time, 1 MHz below its threshold", {2}, "5E5", "20E-3 SEC", 10000, 20000000},
        {"time, design 200 kHz", {3}, "2E5", "20E-3 SEC", 4000, 20000000},
        {"time, design 1.5 MHz", {3}, "1.5E6", "20E-3 SEC", 30000, 20000000},
        {"time, design 1 MHz, 500 kHz in force", {3, 4, 0, false, 0, true}, "1E6", "20E-3 SEC", 20000, 20000000},
        {"time, the clock in force, 400 kHz", {4}, "4E5", "20E-3 SEC", 8000, 20000000},
        {"time, the clock in force, 461 538.46 Hz", {4}, "4.5E5", "20E-3 SEC", 9230, 20000000},
        {"time, undefined mode", {9}, "3E6", "20E-3 SEC", 60000, 20000000},
        {"time with 50 % added", {2, 4, 0, false, 50}, "3E6", "20E-3 SEC", 30000, 30000000},
        {"count, 1 MHz", {2, 2}, "3E6", "5000 TCK", 5000, 5000000},
        {"count, 1 MHz with 200 kHz in force", {2, 2}, "2E5", "5000 TCK", 5000, 5000000},
        {"count, design", {2, 3}, "2E5", "5000 TCK", 5000, 25000000},
        {"count, design 1 MHz, 500 kHz in force", {2, 3, 0, false, 0, true}, "1E6", "5000 TCK", 5000, 5000000},
        {"count, the clock in force", {2, 4}, "4E5", "5000 TCK", 5000, 12500000},
        {"count recalculated at the design frequency", {2, 4, 1}, "1E6", "5000 TCK", 5001, 5001000},
        {"count recalculated, then 50 % added", {2, 4, 1, false, 50}, "1E6", "5000 TCK", 0, 7500000},
        {"count taken as microseconds", {4, 4, 2}, "2E5", "5000 TCK", 1000, 5000000},
        {"count under 1000 clocked with Only1000", {2, 4, 1, true}, "2E5", "999 TCK", 999, 4995000},
    });
}

TEST_F(RuntestOnDruvel, AWaitInTestLogicResetHoldsTmsHigh)
{
    ExpectResetWaitsHoldTmsHigh({1, 2, 4});
}

TEST_F(RuntestOnDruvel, AWaitTheCableCannotPlayIsRefusedBeforeTheCableIsOpened)
{
    struct TCase {
        uint8_t TimeMode;
        uint8_t CountMode;
        uint8_t Recalculate;
        const char* Runtest;
        const char* Error;
    };
    const TCase cases[] = {
        {0, 4, 0, "20E-3 SEC", "Fatal error Zero frequency RUNTEST is not supported on DRUVEL cable."},
        {0, 4, 1, "5000 TCK", "Fatal error Zero frequency RUNTEST is not supported on DRUVEL cable."},
        {2, 5, 0, "5000 TCK", "Fatal error DefFreqRuntestPuls not defined"},
        {2, 0, 0, "5000 TCK", "Fatal error DefFreqRuntestPuls not defined"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Error);
        LoadCable("");
        Exec->DefFreqRuntestTime = c.TimeMode;
        Exec->DefFreqRuntestPuls = c.CountMode;
        Exec->RuntestRecalculate = c.Recalculate;
        EXPECT_NE(Play(AroundOneRuntest("3E6", c.Runtest)), FileStatus::Succeeded);
        EXPECT_THAT(LogOf(MessageKind::Error), testing::ElementsAre(c.Error));
        EXPECT_EQ(Exec->FtHandle, nullptr);
        EXPECT_THAT(TraceWith(" mode "), testing::IsEmpty()) << "nothing written to the cable";
        EXPECT_FALSE(Exec->Admission.Holds()) << "the refused file is let go";
    }
    // The same settings play a file whose waits they can play.
    LoadCable("");
    Exec->DefFreqRuntestTime = 0;
    Exec->DefFreqRuntestPuls = 4;
    Exec->RuntestRecalculate = 0;
    EXPECT_EQ(Play(AroundOneRuntest("3E6", "5000 TCK")), FileStatus::Succeeded);
}

TEST_F(RuntestOnDruvel, ACableThatStopsAnsweringEndsTheRunOnceItsQueuedTimeAndFiveSecondsHavePassed)
{
    ExpectASilentCableEndsTheRun({{"no wait", 2, 0, "", 0},
                                  {"4 s at 1 MHz", 2, 0, "RUNTEST 4 SEC;\n", 4000},
                                  {"a count recalculated to 4 s", 2, 1, "RUNTEST 4000000 TCK;\n", 4000}},
                                 "\"faults\":{\"replies_stop_after\":0}");
}

} // namespace

// ---- a file rewritten in place, its size and modification time kept

namespace {

// Rewrites Path with Text (of the same size) and sets its modification
// time back, as touch -d or an unpacker would.
void RewriteKeepingTime(const std::filesystem::path& Path, const std::string& Text)
{
    const auto time = std::filesystem::last_write_time(Path);
    std::ofstream(Path, std::ios::binary | std::ios::in | std::ios::out) << Text;
    std::filesystem::last_write_time(Path, time);
}

std::string ManyScans(const char* Value)
{
    std::string text;
    for (int k = 0; k < 3000; ++k)
        text += std::string("SDR 8 TDI (") + Value + ");\n";
    return text;
}

} // namespace

TEST_F(RuntestOnDruvel, AFileRewrittenAfterItsCheckTouchesNoCable)
{
    LoadCable("");
    const std::filesystem::path path = Folder / "rewritten.svf";
    std::ofstream(path) << "STATE RESET;\n" << ManyScans("00");
    ASSERT_TRUE(Exec->PrepareFile(path.string()));
    RewriteKeepingTime(path, "STATE RESET;\n" + ManyScans("FF"));
    EXPECT_FALSE(Exec->OpenAndStart(path.string()));
    EXPECT_THAT(LogOf(MessageKind::Error),
                testing::ElementsAre("Fatal error \"The file " + path.string() +
                                     " changed after it was checked; start it again.\""));
    EXPECT_FALSE(Exec->Admission.Holds());
    EXPECT_EQ(Sim->Counter("FT_Open"), 0u) << "no cable looked at";
}

TEST_F(RuntestOnDruvel, AFileRewrittenDuringALongWaitIsNotPlayedPastTheChange)
{
    // Real time: the paced device's wait lasts as long as it says.
    LoadCable("\"paced\":true");
    Exec->DefFreqRuntestTime = 2;
    const std::filesystem::path path = Folder / "rewritten.svf";
    // Far more than a reader's block: the scans after the wait are read
    // after the change.
    std::ofstream(path) << "STATE RESET;\nSTATE IDLE;\nRUNTEST 1 SEC;\n" << ManyScans("00");
    ASSERT_TRUE(Exec->OpenAndStart(path.string()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    RewriteKeepingTime(path, "STATE RESET;\nSTATE IDLE;\nRUNTEST 1 SEC;\n" + ManyScans("FF"));
    const FileStatus status = WaitToEnd(std::chrono::seconds(60));
    Exec->CloseCable(true);
    Exec->CurrentFile.reset();
    EXPECT_EQ(status, FileStatus::Failed);
    EXPECT_THAT(LogOf(MessageKind::Error),
                testing::Contains("The file " + path.string() +
                                  " changed while it was played; the rest was not played."));
    for (const std::string& line : TraceWith(" scan dr "))
        EXPECT_THAT(line, testing::Not(testing::HasSubstr("in=FF"))) << "a changed scan was played";
}
