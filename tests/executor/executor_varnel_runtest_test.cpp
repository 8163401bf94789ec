// RUNTEST end to end: SVF files played through OpenAndStart on the emulated
// Varnel, judged by what the simulated chain saw (its stays in Run-Test/Idle
// and Test-Logic-Reset, the TCK periods of its scans), and the read-back
// bound of a cable that stops answering.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "svf_play_fixture.h"

namespace {

using namespace exectest;
using testing::Contains;

testing::Environment* const Svf = testing::AddGlobalTestEnvironment(new TRegisterSvf);

class RuntestOnVarnel : public TSvfPlayTest {
protected:
    void SetUp() override
    {
        TSvfPlayTest::SetUp();
        Exec->SelectedCable = 0x010001;
    }

    void LoadCable(const std::string& Members) override
    {
        Load({Varnel("A6010001", Members)});
        Exec->ClearLog();
    }
};

TEST_F(RuntestOnVarnel, TheChainWaitsAtLeastWhatTheFileAsksAndTheNextScanRunsAtTheClockBefore)
{
    // Times of 20 ms, counts of 5000 cycles; at 200 kHz that is 25 ms.
    ExpectEachWaitLasts({
        {"time, clock stopped", {0}, "3E6", "20E-3 SEC", 0, 20000000},
        {"time, clock stopped, repeated mode", {0}, "4E5", "20E-3 SEC", 0, 20000000},
        {"time, low clock", {1}, "3E6", "20E-3 SEC", 1666, 20000000},
        {"time, low clock below its threshold: the clock in force", {1}, "5E4", "20E-3 SEC", 1000, 20000000},
        {"time, 1 MHz", {2}, "3E6", "20E-3 SEC", 20000, 20000000},
        {"time, 1 MHz below its threshold", {2}, "5E5", "20E-3 SEC", 10000, 20000000},
        {"time, design 200 kHz", {3}, "2E5", "20E-3 SEC", 4000, 20000000},
        {"time, design 1.5 MHz", {3}, "1.5E6", "20E-3 SEC", 30000, 20000000},
        {"time, design 1 MHz (750 kHz native), 500 kHz in force", {3, 4, 0, false, 0, true}, "1E6", "20E-3 SEC",
         15000, 20000000},
        {"time, the clock in force, 333 333 Hz", {4}, "4E5", "20E-3 SEC", 6666, 20000000},
        {"time, the clock in force, 3 MHz", {4}, "3E6", "20E-3 SEC", 60000, 20000000},
        {"time, undefined mode", {9}, "3E6", "20E-3 SEC", 60000, 20000000},
        {"time with 50 % added", {0, 4, 0, false, 50}, "3E6", "20E-3 SEC", 0, 30000000},
        {"count, 1 MHz", {0, 2}, "3E6", "5000 TCK", 5000, 0},
        {"count, 1 MHz below its threshold", {0, 2}, "2E5", "5000 TCK", 5000, 25000000},
        {"count, design", {0, 3}, "2E5", "5000 TCK", 5000, 25000000},
        {"count, design 1 MHz, 500 kHz in force", {0, 3, 0, false, 0, true}, "1E6", "5000 TCK", 5000, 5000000},
        {"count, the clock in force", {0, 4}, "4E5", "5000 TCK", 5000, 15000000},
        {"count, undefined mode", {0, 5}, "2E5", "5000 TCK", 5000, 25000000},
        {"count recalculated at the design frequency", {0, 4, 1}, "1E6", "5000 TCK", 0, 5000000},
        {"count recalculated, then 50 % added", {0, 4, 1, false, 50}, "1E6", "5000 TCK", 0, 7500000},
        {"count taken as microseconds", {4, 4, 2}, "2E5", "5000 TCK", 1000, 5000000},
        {"count under 1000 clocked with Only1000", {0, 4, 1, true}, "2E5", "999 TCK", 999, 4995000},
    });
}

TEST_F(RuntestOnVarnel, AWaitInTestLogicResetHoldsTmsHigh)
{
    ExpectResetWaitsHoldTmsHigh({0, 1, 4});
}

TEST_F(RuntestOnVarnel, ALongWaitIsWaitedWholeWithItsNotes)
{
    // 800 s timed by the device: 4 687 501 wait bytes. The test clock moves
    // 1 ms a look, so the notes of every 5 s come while it is queued.
    LoadCable("\"trace\":{\"scans\":false,\"updates\":false,\"states\":false,\"pins\":false,\"clock\":false}");
    ASSERT_EQ(Play("STATE IDLE;\nRUNTEST 800 SEC;\nSDR 32 TDI (00000000) TDO (0ABC1DEF);\nSTATE RESET;\n"),
              FileStatus::Succeeded)
        << testing::PrintToString(LogOf(MessageKind::Error));
    const std::vector<TStay> idle = Stays("IDLE");
    ASSERT_FALSE(idle.empty());
    EXPECT_GE(idle[0].Ns, 800000000000u);
    EXPECT_THAT(TraceWith(" wait bytes="), Contains(testing::HasSubstr("wait bytes=4687501 ")));
    const std::vector<std::string> info = LogOf(MessageKind::Info);
    EXPECT_THAT(info, Contains(std::string("Long delay: 800 000 000 ") + MicroSign + "s"));
    const auto notes = std::count_if(info.begin(), info.end(),
                                     [](const std::string& Line) { return Line.starts_with("...done yet "); });
    EXPECT_GT(notes, 100);
}

TEST_F(RuntestOnVarnel, ACableThatStopsAnsweringEndsTheRunOnceItsQueuedTimeAndFiveSecondsHavePassed)
{
    // The probe's two replies, then none.
    ExpectASilentCableEndsTheRun({{"no wait", 0, 1, "", 0},
                                  {"20 s timed by the device", 0, 1, "RUNTEST 20 SEC;\n", 20000},
                                  {"20 s at the low clock", 1, 1, "RUNTEST 20 SEC;\n", 20000},
                                  {"a count recalculated to 20 s", 0, 1, "RUNTEST 20000000 TCK;\n", 20000}},
                                 "\"faults\":{\"replies_stop_after\":2}");
}

TEST_F(RuntestOnVarnel, AScanStillQueuedHereIsOwedByNobodyAndNeverOverdue)
{
    // The reply watch judges only replies the cable was given: a capture
    // still in the output buffer waits for its flush, however long that is.
    LoadCable("");
    ASSERT_TRUE(Exec->OpenVarnel());
    ASSERT_NE(Exec->VarnelSetFrequency(3000000, true), -1);
    for (bool tms : {true, true, true, true, true, false, true, false, false})
        ASSERT_TRUE(Exec->VarnelTmsClock(false, tms));
    const std::vector<uint8_t> all(32, 1), zeros(32, 0);
    ASSERT_TRUE(Exec->VarnelShift(zeros.data(), all.data(), 32, true));
    Clock->Now += 60000;
    std::vector<uint8_t> tdo(32, 0);
    EXPECT_EQ(Exec->VarnelReadTdo(tdo.data(), all.data(), 32), ReadResult::NotYet);
    ASSERT_TRUE(Exec->VarnelSync());
    ReadResult r = ReadResult::NotYet;
    for (int i = 0; i < 100 && r == ReadResult::NotYet; ++i)
        r = Exec->VarnelReadTdo(tdo.data(), all.data(), 32);
    EXPECT_EQ(r, ReadResult::Ready);
}

TEST_F(RuntestOnVarnel, AScanQueuedBehindAWaitThatTookLongToQueueReadsBack)
{
    // 1 ms a look at the clock: queuing the second's wait bytes takes the
    // test clock past 5 s while the first scan is still in the buffer.
    LoadCable("");
    const char* const text = "STATE RESET;\nSTATE IDLE;\nSDR 32 TDI (00000000) TDO (0ABC1DEF);\n"
                             "RUNTEST 1 SEC;\nSDR 32 TDI (00000000) TDO (0ABC1DEF);\nSTATE RESET;\n";
    EXPECT_EQ(Play(text), FileStatus::Succeeded) << testing::PrintToString(LogOf(MessageKind::Error));
}

} // namespace
