// The Druvel cable: the MPSSE bytes its routines queue, its read-back of
// the reply layouts, its frequency choice, and its open and close over the
// emulated driver.
#include <gmock/gmock.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <vector>

#include "executor_fixture.h"
#include "base/sysutils.h"
#include "thread.h"

namespace {

using namespace exectest;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using Bytes = std::vector<uint8_t>;

// ---- what the routines queue (no device needed: the bytes stay queued)

TEST(DruvelEncoder, ShiftsOfEveryLayout)
{
    struct TCase {
        const char* Why;
        Bytes Tdi;
        Bytes Capture; // empty: none captured
        bool LastTms;
        Bytes Queued;
    };
    const Bytes ones10(10, 1), ninth(9, 0);
    const TCase cases[] = {
        {"0 bits: nothing", {}, {}, true, {}},
        {"1 bit captured: the pins for the last bit, then it", {1}, {1}, true, {0x80, 0x88, 0xDB, 0x33, 0x00, 0x80}},
        {"1 bit, TMS staying low", {0}, {}, false, {0x80, 0x80, 0xDB, 0x13, 0x00, 0x00}},
        {"8 bits: seven in bits 7..1, then the last", {1, 0, 1, 1, 0, 0, 1, 1}, {}, true,
         {0x13, 0x06, 0xB2, 0x80, 0x88, 0xDB, 0x13, 0x00, 0x80}},
        {"9 bits, the first captured: every command reads", {1, 0, 0, 0, 0, 0, 0, 1, 0}, {1, 0, 0, 0, 0, 0, 0, 0, 0},
         true, {0x31, 0x00, 0x00, 0x81, 0x80, 0x88, 0xDB, 0x33, 0x00, 0x00}},
        {"10 bits, all ones", ones10, {}, true,
         {0x11, 0x00, 0x00, 0xFF, 0x13, 0x00, 0x80, 0x80, 0x88, 0xDB, 0x13, 0x00, 0x80}},
        {"16 bits: a byte, seven bits, the last", Bytes(16, 1), {}, false,
         {0x11, 0x00, 0x00, 0xFF, 0x13, 0x06, 0xFE, 0x80, 0x80, 0xDB, 0x13, 0x00, 0x80}},
        {"17 bits: two bytes and the last", {1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1}, {}, true,
         {0x11, 0x01, 0x00, 0x80, 0x40, 0x80, 0x88, 0xDB, 0x13, 0x00, 0x80}},
        {"25 bits: three bytes and the last", Bytes(25, 0), Bytes(25, 1), true,
         {0x31, 0x02, 0x00, 0x00, 0x00, 0x00, 0x80, 0x88, 0xDB, 0x33, 0x00, 0x00}},
        {"nonzero TDI bytes other than 1 are ones", {7, 0x80}, {}, false,
         {0x13, 0x00, 0x80, 0x80, 0x80, 0xDB, 0x13, 0x00, 0x80}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        TTestExecuter exec;
        const Bytes capture = c.Capture.empty() ? Bytes(c.Tdi.size(), 0) : c.Capture;
        EXPECT_TRUE(exec.DruvelShift(c.Tdi.data(), capture.data(), static_cast<int32_t>(c.Tdi.size()), c.LastTms));
        EXPECT_THAT(exec.Queued(), ElementsAreArray(c.Queued));
    }
}

TEST(DruvelEncoder, TmsClockAndTrst)
{
    struct TCase {
        bool Tdi, Tms;
        Bytes Queued;
    };
    const TCase cases[] = {
        {false, true, {0x80, 0x88, 0xDB, 0x13, 0x00, 0x00}},
        {true, false, {0x80, 0x82, 0xDB, 0x13, 0x00, 0x80}},
        {true, true, {0x80, 0x8A, 0xDB, 0x13, 0x00, 0x80}},
    };
    for (const TCase& c : cases) {
        TTestExecuter exec;
        EXPECT_TRUE(exec.DruvelTmsClock(c.Tdi, c.Tms));
        EXPECT_THAT(exec.Queued(), ElementsAreArray(c.Queued)) << c.Tdi << c.Tms;
    }
    TTestExecuter exec;
    for (bool level : {false, true})
        for (bool driven : {false, true})
            EXPECT_TRUE(exec.DruvelTrst(level, driven));
    EXPECT_EQ(exec.OutCount, 0u) << "the cable has no TRST line";
    EXPECT_TRUE(exec.Log().empty());
}

class DruvelFrequency : public testing::Test {
protected:
    void SetUp() override { FormatSettings.ThousandSeparator = ' '; }
    void TearDown() override { FormatSettings = TFormatSettings(); }
};

TEST_F(DruvelFrequency, TheDivisorIsTruncated)
{
    struct TCase {
        int32_t Hz;
        Bytes Queued;
        int32_t Result;
    };
    const TCase cases[] = {
        {1000000, {0x86, 0x05, 0x00}, 1000000}, {3000000, {0x86, 0x01, 0x00}, 3000000},
        {10000000, {0x86, 0x00, 0x00}, 6000000}, {50, {0x86, 0xE8, 0xFD}, 92},
        {4000000, {0x86, 0x00, 0x00}, 6000000},  {2500000, {0x86, 0x01, 0x00}, 3000000},
        {100000, {0x86, 0x3B, 0x00}, 100000},    {1, {0x86, 0xE8, 0xFD}, 92},
        {1200, {0x86, 0x87, 0x13}, 1200},        {1199, {0x86, 0x8B, 0x13}, 1199},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Hz);
        TTestExecuter exec;
        EXPECT_EQ(exec.DruvelSetFrequency(c.Hz, false), c.Result);
        EXPECT_THAT(exec.Queued(), ElementsAreArray(c.Queued));
        EXPECT_EQ(exec.CurrentFrequency, c.Result);
        EXPECT_EQ(exec.DesignFrequency, c.Hz);
        EXPECT_TRUE(exec.Log().empty()) << "no note without Apply";
    }
    TTestExecuter exec;
    EXPECT_EQ(exec.DruvelSetFrequency(1000000, true), 1000000);
    EXPECT_THAT(exec.Log(), ElementsAre(TLogLine{"Info: TCK frequency set to 1 000 000 Hz, using divisor 5",
                                                 MessageKind::Info}));
}

TEST_F(DruvelFrequency, IgnoreFreqCmdSetsTheDefFreqClockWithItsNotes)
{
    struct TCase {
        const char* Why;
        int32_t Hz;
        bool Apply;
        uint8_t DefFreq;
        int32_t Result;
        std::vector<TLogLine> Log;
    };
    const TLogLine set1M{"Info: TCK frequency set to 1 000 000 Hz, using divisor 5", MessageKind::Info};
    const TCase cases[] = {
        {"below the clock in force: warned", 500000, true, 1, 1000000,
         {{"Warning: Ignoring maximum frequency 500 000 Hz", MessageKind::Warning}, set1M}},
        {"above: forced", 2000000, true, 1, 1000000,
         {{"Info: Current maximum frequency 2 000 000 Hz, forced 1 000 000 Hz", MessageKind::Info}, set1M}},
        {"equal: no note but the clock's", 1000000, true, 1, 1000000, {set1M}},
        {"without Apply: the same clock, no note", 500000, false, 1, 1000000, {}},
        {"DefFreq 15: 15 MHz asked, 6 MHz set", 500000, false, 15, 6000000, {}},
        {"DefFreq 2", 500000, false, 2, 500000, {}},
        {"an unknown DefFreq leaves the file's frequency", 250000, false, 7, 250000, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        TTestExecuter exec;
        exec.IgnoreFreqCmd = true;
        exec.DefFreq = c.DefFreq;
        exec.CurrentFrequency = 1000000;
        EXPECT_EQ(exec.DruvelSetFrequency(c.Hz, c.Apply), c.Result);
        EXPECT_EQ(exec.CurrentFrequency, c.Result);
        EXPECT_EQ(exec.DesignFrequency, c.Hz) << "the request itself, also when overridden";
        EXPECT_EQ(exec.Log(), c.Log);
    }
}

TEST_F(DruvelFrequency, NoFrequencyKeepsTheClockInForceAndTheDesigns)
{
    for (int32_t hz : {0, -1, -3000000}) {
        TTestExecuter exec;
        ASSERT_EQ(exec.DruvelSetFrequency(1000000, false), 1000000);
        exec.OutCount = 0;
        EXPECT_EQ(exec.DruvelSetFrequency(hz, true), 1000000) << hz;
        EXPECT_EQ(exec.CurrentFrequency, 1000000);
        EXPECT_EQ(exec.DesignFrequency, 1000000);
        EXPECT_EQ(exec.OutCount, 0u);
        EXPECT_TRUE(exec.Log().empty());
    }
}

// ---- over a device that echoes every byte written: the bytes a run
// writes, and replies of the host's choosing

class DruvelOnLoopback : public TExecutorTest {
protected:
    void SetUp() override
    {
        TExecutorTest::SetUp();
        Load({Device(DruvelIdentity, "A6123456", "loopback")});
        ASSERT_EQ(FtOpen(0, Exec->FtHandle), FT_OK);
        Exec->OpenedKind = CableKindDruvel;
        Exec->SelectedCable = 0x7B123456;
        Exec->RxReset();
    }
    // Everything the cable has been sent (and echoed) so far: each flush
    // moves what came back into the receive ring first.
    Bytes Echoed()
    {
        EXPECT_TRUE(Exec->ReadPending());
        Bytes out(static_cast<size_t>(Exec->RxCount()));
        EXPECT_TRUE(Exec->RxGet(out.data(), static_cast<int32_t>(out.size())));
        return out;
    }
    // Replies as the device would send them.
    void Send(const Bytes& Replies)
    {
        DWORD written = 0;
        ASSERT_EQ(FtWrite(Exec->FtHandle, Replies.data(), static_cast<DWORD>(Replies.size()), written), FT_OK);
    }
};

TEST_F(DruvelOnLoopback, ALongShiftGoesOutInBlocksOf65000Bytes)
{
    const int32_t count = 600000;
    for (const bool captured : {false, true}) {
        SCOPED_TRACE(captured ? "captured" : "not captured");
        Bytes tdi(count, 0), capture(count, 0);
        tdi[0] = 1;
        tdi[count - 1] = 1;
        capture[count / 2] = captured;
        ASSERT_TRUE(Exec->DruvelShift(tdi.data(), capture.data(), count, true));
        ASSERT_TRUE(Exec->DruvelSync());
        const Bytes sent = Echoed();
        const uint8_t block = captured ? 0x31 : 0x11, bits = captured ? 0x33 : 0x13;
        ASSERT_EQ(sent.size(), 3 + 65000 + 3 + 9999 + 3 + 3 + 3 + 1u);
        EXPECT_THAT(Bytes(sent.begin(), sent.begin() + 4), ElementsAre(block, 0xE7, 0xFD, 0x80)); // 64 999
        EXPECT_THAT(Bytes(sent.begin() + 65003, sent.begin() + 65006), ElementsAre(block, 0x0E, 0x27)); // 9 998
        EXPECT_THAT(Bytes(sent.end() - 11, sent.end()),
                    ElementsAre(0x00, bits, 0x06, 0x00, 0x80, 0x88, 0xDB, bits, 0x00, 0x80, 0x87));
        EXPECT_EQ(Exec->PendingReplies, captured ? 75001 : 0);
    }
}

TEST_F(DruvelOnLoopback, TheRepliesOfEachLayoutFillEveryTdoBit)
{
    struct TCase {
        const char* Why;
        int32_t Count;
        Bytes Replies;
        Bytes Tdo;
    };
    const TCase cases[] = {
        {"1 bit: bit 0 of its reply", 1, {0xFE}, {0}},
        {"1 bit set", 1, {0x01}, {1}},
        {"8 bits: seven in bits 6..0, the last", 8, {0x55, 0x01}, {1, 0, 1, 0, 1, 0, 1, 1}},
        {"9 bits: a byte, first bit in bit 7, the last", 9, {0xA5, 0x00}, {1, 0, 1, 0, 0, 1, 0, 1, 0}},
        {"10 bits: a byte, one bit, the last", 10, {0x0F, 0x01, 0x00}, {0, 0, 0, 0, 1, 1, 1, 1, 1, 0}},
        {"17 bits: two bytes, the last", 17, {0x80, 0x01, 0x01},
         {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Exec->PendingReplies = static_cast<int32_t>(c.Replies.size());
        Send(c.Replies);
        // Only the first bit captured: every bit is read all the same.
        Bytes capture(static_cast<size_t>(c.Count), 0), tdo(static_cast<size_t>(c.Count), 7);
        capture[0] = 1;
        EXPECT_EQ(Exec->DruvelReadTdo(tdo.data(), capture.data(), c.Count), ReadResult::Ready);
        EXPECT_EQ(tdo, c.Tdo);
        EXPECT_EQ(Exec->RxCount(), 0) << "every reply of the shift taken, no more";
        EXPECT_EQ(Exec->PendingReplies, 0);
    }
}

TEST_F(DruvelOnLoopback, TooFewRepliesTakeNothingAndNoCaptureReadsNothing)
{
    Bytes capture(10, 1), tdo(10, 7);
    Exec->PendingReplies = 3;
    Send({0x0F, 0x01});
    EXPECT_EQ(Exec->DruvelReadTdo(tdo.data(), capture.data(), 10), ReadResult::NotYet);
    EXPECT_EQ(Exec->RxCount(), 2);
    EXPECT_EQ(tdo, Bytes(10, 7));
    const Bytes none(10, 0);
    EXPECT_EQ(Exec->DruvelReadTdo(tdo.data(), none.data(), 10), ReadResult::Ready);
    EXPECT_EQ(Exec->DruvelReadTdo(tdo.data(), capture.data(), 0), ReadResult::Ready);
    EXPECT_EQ(Exec->RxCount(), 2);
    Send({0x00});
    EXPECT_EQ(Exec->DruvelReadTdo(tdo.data(), capture.data(), 10), ReadResult::Ready);
    EXPECT_EQ(tdo, (Bytes{0, 0, 0, 0, 1, 1, 1, 1, 1, 0}));
}

TEST_F(DruvelOnLoopback, CloseLeavesMpsseModeAndWritesNothing)
{
    Sim->ClearTrace();
    Exec->OutCount = 3; // queued bytes are not sent first
    Exec->CloseCable(true);
    EXPECT_THAT(TraceWith("d2xx bitmode "), ElementsAre("d2xx bitmode A6123456 mask=00 mode=00"));
    EXPECT_EQ(Sim->Counter("FT_Write"), 0u);
    EXPECT_EQ(Sim->Counter("open_handles"), 0u);
    EXPECT_EQ(Exec->FtHandle, nullptr);
}

// ---- open over the emulated Druvel

class DruvelOpen : public TExecutorTest {
protected:
    void LoadDruvel(const std::string& Extra = "")
    {
        Load({Druvel("A6123456", "\"trace_writes\":true" + (Extra.empty() ? "" : "," + Extra))});
        Exec->SelectedCable = 0x7B123456;
    }
};

TEST_F(DruvelOpen, EntersMpsseAndSetsThePinsAndClock)
{
    LoadDruvel();
    ASSERT_TRUE(Exec->OpenDruvel());
    EXPECT_TRUE(Exec->Log().empty());
    EXPECT_THAT(TraceWith("d2xx "), testing::IsSupersetOf({"d2xx bitmode A6123456 mask=00 mode=02",
                                                           "d2xx write A6123456 86 01 00 80 80 DB"}));
    EXPECT_THAT(TraceWith("d2xx bitmode"), testing::SizeIs(1));
    EXPECT_EQ(Sim->Counter("FT_SetLatencyTimer"), 1u);
    EXPECT_GE(Clock->Slept.load(), 250u);
    EXPECT_EQ(Exec->OutCount, 0u);
    EXPECT_EQ(Exec->OpenedKind, CableKindDruvel);
    EXPECT_THAT(TraceWith(" error "), testing::IsEmpty());
}

TEST_F(DruvelOpen, StaleBytesAreDrainedFirst)
{
    LoadDruvel("\"faults\":{\"stale_bytes\":40}");
    ASSERT_TRUE(Exec->OpenDruvel());
    EXPECT_EQ(Exec->RxCount(), 0);
    EXPECT_GE(Clock->Slept.load(), 250u + 100u);
}

TEST_F(DruvelOpen, EveryFailureSaysWhyAndClosesTheDevice)
{
    struct TCase {
        const char* Why;
        std::string Device;
        std::vector<TLogLine> Log;
    };
    const TCase cases[] = {
        {"no such serial", Druvel("A6654321"),
         {{"No DRUVEL S/N A6123456 is attached; attached: DRUVEL S/N A6654321.", MessageKind::Error},
          {"Fatal error: Cannot find DRUVEL", MessageKind::Error}}},
        {"a Mirrow is no Druvel", Mirrow("A6123456"),
         {{"No DRUVEL S/N A6123456 is attached; attached: none.", MessageKind::Error},
          {"Fatal error: Cannot find DRUVEL", MessageKind::Error}}},
        {"open in another program: the search cannot read it", Druvel("A6123456", "\"busy\":true"),
         {{"No free DRUVEL S/N A6123456: 1 FTDI device is in use by another program; when it is that cable, try "
           "again once the other program has let it go.",
           MessageKind::Error},
          {"Fatal error: Cannot find DRUVEL", MessageKind::Error}}},
        {"the set-up write fails", Druvel("A6123456", "\"faults\":{\"write_fail_after\":0}"),
         {{"DRUVEL: Cannot open: its set-up bytes could not be written.", MessageKind::Error}}},
        {"the set-up write falls short", Druvel("A6123456", "\"short_writes\":true"), {{"DRUVEL: Cannot open: its set-up bytes could not be written.", MessageKind::Error}}},
        {"the drain cannot read", Druvel("A6123456", "\"faults\":{\"stale_bytes\":4,\"read_fail_after\":0}"),
         {{"DRUVEL: Cannot open: what it held from before could not be read.", MessageKind::Error}}},
        {"a device that never stops sending", Druvel("A6123456", "\"faults\":{\"stale_bytes\":1048576}"),
         {{"DRUVEL: Cannot open: what it held from before could not be read.", MessageKind::Error}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Load({c.Device});
        Exec->ClearLog();
        Exec->SelectedCable = 0x7B123456;
        EXPECT_FALSE(Exec->OpenDruvel());
        EXPECT_EQ(Exec->Log(), c.Log);
        EXPECT_EQ(Exec->FtHandle, nullptr);
        EXPECT_EQ(Sim->Counter("open_handles"), 0u);
    }
}

TEST_F(DruvelOpen, OpenAndStartNamesTheCable)
{
    LoadDruvel();
    Exec->SelectedCable = -1;
    EXPECT_FALSE(Exec->OpenAndStart(CableOnlyFile()));
    const std::vector<TLogLine> log = Exec->Log();
    ASSERT_GE(log.size(), 1u);
    EXPECT_EQ(log[0], (TLogLine{"Using DRUVEL S/N A6123456", MessageKind::Info}));
    EXPECT_EQ(Exec->SelectedCable, 0x7B123456);
    EXPECT_NE(Exec->FtHandle, nullptr) << "the cable stays open for the next open to close";
    Exec->CloseCable(false);
}

} // namespace

// A stop on the player's worker cuts a long shift inside a data block:
// nothing is written after the cut, whatever is queued or flushed next,
// and the close drops what the chip holds of the block before its reset.
TEST_F(DruvelOpen, AStopCutsAShiftInsideABlockAndNothingFollowsTheCut)
{
    platform::TStopToken stops[2];
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "stopped" : "not stopped");
        // Paced, so that the stop comes while the device runs the block.
        LoadDruvel(stop ? "\"paced\":true" : "");
        const unsigned long long purges = Sim->Counter("FT_Purge");
        ASSERT_TRUE(Exec->OpenDruvel());
        // 250 000 data bytes at 3 MHz: some 670 ms, a cut once its first
        // bytes are written, inside the first block (65 000 bytes).
        const std::vector<uint8_t> tdi(2000000, 0);
        bool shifted = false;
        bool flushed = false;
        unsigned long long writesAtTheCut = 0;
        const unsigned long long writes = Sim->Counter("FT_Write");
        // The routines as a run's worker calls them, with the run's stop.
        platform::TStopToken& run = stops[stop ? 0 : 1];
        Exec->UseStop(run);
        Exec->Playing = true;
        platform::TThread worker([&](platform::TThread&) {
            shifted = Exec->DruvelShift(tdi.data(), nullptr, static_cast<int32_t>(tdi.size()), true);
            writesAtTheCut = Sim->Counter("FT_Write");
            flushed = Exec->DruvelTmsClock(false, true) && Exec->Flush();
        });
        ASSERT_TRUE(worker.Resume());
        if (stop) {
            while (Sim->Counter("FT_Write") == writes)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            run.Ask();
        }
        worker.WaitFor();
        EXPECT_TRUE(shifted);
        EXPECT_TRUE(flushed);
        EXPECT_THAT(Exec->Log(), testing::IsEmpty());
        uint64_t written = 0;
        for (const std::string& line : TraceWith("d2xx write "))
            written += static_cast<uint64_t>(std::count(line.begin(), line.end(), ' ') - 2);
        if (stop) {
            EXPECT_EQ(Sim->Counter("FT_Write"), writesAtTheCut) << "written after the cut";
            EXPECT_GT(written, 6u + 3u + 15000u) << "a buffer of the block written";
            EXPECT_LT(written, 6u + 3u + 65000u);
        } else {
            EXPECT_GT(written, 250000u);
            EXPECT_GT(Sim->Counter("FT_Write"), writesAtTheCut);
        }
        Exec->CloseCable(stop);
        EXPECT_EQ(Sim->Counter("FT_Purge") - purges, stop ? 1u : 0u);
        EXPECT_THAT(TraceWith("d2xx bitmode "), testing::Contains(HasSubstr("mode=00")));
        EXPECT_THAT(TraceWith(" error "), testing::IsEmpty());
    }
}
