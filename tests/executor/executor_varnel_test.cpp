// The Varnel cable: the bytes its routines queue, its open and probe, the
// read-back of captured bits from the simulated chain, and reply pacing.
#include <gmock/gmock.h>

#include "executor_fixture.h"
#include "base/sysutils.h"

namespace {

using namespace exectest;
using testing::ElementsAreArray;
using Bytes = std::vector<uint8_t>;

// ---- what the routines queue (no device needed: the bytes stay queued)

struct TShiftCase {
    const char* Why;
    int32_t Repeat;
    uint8_t Pins;
    Bytes Tdi;
    Bytes Capture;
    bool LastTms;
    Bytes Queued;
};

TEST(VarnelEncoder, Shifts)
{
    const TShiftCase cases[] = {
        {"0 bits: nothing", 0, 2, {}, {}, true, {}},
        {"0 bits, repeated: nothing", 2, 2, {}, {}, true, {}},
        {"1 bit native: pin byte first, ends with TCK high", 0, 2, {1}, {0}, true, {0xEE, 0xCB, 0xCF}},
        {"1 bit native captured", 0, 0, {0}, {1}, false, {0xE8, 0xCA, 0xDE}},
        {"1 bit repeated R=3", 0 + 3, 0, {0}, {1}, false, {0xE8, 0xCA, 0xCE, 0xCE, 0xDE}},
        {"2 bits native: no middle bits", 0, 2, {1, 0}, {0, 0}, false, {0xCB, 0xCF, 0xCA, 0xEA, 0xCE, 0xCA}},
        {"3 bits native: a group of one", 0, 2, {1, 0, 1}, {0, 0, 0}, true, {0xCB, 0xCF, 0x00, 0xCB, 0xEE, 0xCF, 0xCA}},
        {"3 bits native, middle captured", 0, 2, {1, 1, 1}, {0, 1, 0}, true,
         {0xCB, 0xCF, 0x41, 0xCB, 0xEE, 0xCF, 0xCA}},
        {"3 bits repeated R=2",
         2,
         2,
         {1, 0, 1},
         {0, 0, 0},
         true,
         {0xCB, 0xCF, 0xCF, 0xCA, 0xCA, 0xCE, 0xCE, 0xCB, 0xCB, 0xEE, 0xCF, 0xCF, 0xCA, 0xCA}},
        {"6 bits native", 0, 2, {1, 0, 1, 1, 0, 1}, {0, 0, 0, 0, 0, 0}, true,
         {0xCB, 0xCF, 0x36, 0xCB, 0xEE, 0xCF, 0xCA}},
        {"6 bits native, bit 2 captured: the group is read", 0, 2, {1, 0, 1, 1, 0, 1}, {0, 0, 1, 0, 0, 0}, true,
         {0xCB, 0xCF, 0x76, 0xCB, 0xEE, 0xCF, 0xCA}},
        {"6 bits native, ends captured", 0, 3, {1, 0, 1, 1, 0, 1}, {1, 0, 0, 0, 0, 1}, false,
         {0xCB, 0xDF, 0x36, 0xCB, 0xEB, 0xDF, 0xCA}},
        {"6 bits repeated R=1",
         1,
         2,
         {1, 0, 1, 1, 0, 1},
         {0, 1, 0, 0, 0, 0},
         true,
         {0xCB, 0xCF, 0xCA, 0xDE, 0xCB, 0xCF, 0xCB, 0xCF, 0xCA, 0xCE, 0xCB, 0xEE, 0xCF, 0xCA}},
        {"7 bits native: groups of four and one", 0, 0, {0, 1, 1, 0, 1, 0, 1}, {0, 0, 0, 0, 0, 1, 0}, false,
         {0xCA, 0xCE, 0x3B, 0x40, 0xCB, 0xE8, 0xCF, 0xCA}},
        {"nonzero TDI bytes other than 1 are ones", 0, 0, {7, 0x80}, {0, 0}, false,
         {0xCB, 0xCF, 0xCB, 0xE8, 0xCF, 0xCA}},
    };
    for (const TShiftCase& c : cases) {
        SCOPED_TRACE(c.Why);
        TTestExecuter exec;
        exec.ClockRepeat = c.Repeat;
        exec.PinBits = c.Pins;
        EXPECT_TRUE(exec.VarnelShift(c.Tdi.data(), c.Capture.data(), static_cast<int32_t>(c.Tdi.size()), c.LastTms));
        EXPECT_THAT(exec.Queued(), ElementsAreArray(c.Queued));
    }
}

TEST(VarnelEncoder, TmsClock)
{
    struct TCase {
        int32_t Repeat;
        bool Tdi, Tms;
        Bytes Queued;
    };
    const TCase cases[] = {
        {0, false, true, {0xEE, 0xCA, 0xCE, 0xCA}},
        {0, true, false, {0xEA, 0xCB, 0xCF, 0xCB}},
        {2, true, true, {0xEE, 0xCB, 0xCF, 0xCF, 0xCB, 0xCB}},
    };
    for (const TCase& c : cases) {
        TTestExecuter exec;
        exec.PinBits = 2;
        exec.ClockRepeat = c.Repeat;
        EXPECT_TRUE(exec.VarnelTmsClock(c.Tdi, c.Tms));
        EXPECT_THAT(exec.Queued(), ElementsAreArray(c.Queued)) << "R=" << c.Repeat;
    }
}

class VarnelFrequency : public testing::Test {
protected:
    void SetUp() override { FormatSettings.ThousandSeparator = ' '; }
    void TearDown() override { FormatSettings = TFormatSettings(); }
};

TEST_F(VarnelFrequency, ChoiceOfClock)
{
    struct TCase {
        const char* Why;
        int32_t Hz;
        bool Apply;
        bool Ignore;
        uint8_t DefFreq;
        int32_t Repeat;
        int32_t Result;
        std::vector<TLogLine> Log;
    };
    const char* maxLine5M = "Info: Maximum clock frequency for design is 5 000 000 Hz, maximum clock speed for Varnel is 3 MHz";
    const TCase cases[] = {
        {"400 kHz: 3 repeats", 400000, true, false, 0, 3, 333333, {}},
        {"2.5 MHz: one repeat, 1 MHz", 2500000, true, false, 0, 1, 1000000, {}},
        {"1 000 001 Hz: one repeat", 1000001, true, false, 0, 1, 1000000, {}},
        {"1 MHz exactly", 1000000, true, false, 0, 1, 1000000, {}},
        {"7 813 Hz: 128 repeats, 7 812.5 to even", 7813, true, false, 0, 128, 7812, {}},
        {"3 MHz: native", 3000000, true, false, 0, 0, 3000000, {}},
        {"5 MHz: native with the note", 5000000, true, false, 0, 0, 3000000, {{maxLine5M, MessageKind::Info}}},
        {"5 MHz without Apply: the note all the same", 5000000, false, false, 0, 0, 3000000,
         {{maxLine5M, MessageKind::Info}}},
        {"ignored, DefFreq 2, 1 MHz asked: forced down", 1000000, true, true, 2, 2, 500000,
         {{"Info: Current maximum frequency 1 000 000 Hz, forced 500 000 Hz", MessageKind::Info}}},
        {"ignored, DefFreq 2, 200 kHz asked: warned and raised", 200000, true, true, 2, 2, 500000,
         {{"Warning: Ignoring maximum frequency 200 000 Hz", MessageKind::Warning}}},
        {"ignored without Apply: same clock, no note", 200000, false, true, 2, 2, 500000, {}},
        {"ignored, DefFreq 1, equal: no note", 1000000, true, true, 1, 1, 1000000, {}},
        {"ignored, DefFreq 15 means 3 MHz", 5000000, true, true, 15, 0, 3000000,
         {{maxLine5M, MessageKind::Info},
          {"Info: Current maximum frequency 5 000 000 Hz, forced 3 000 000 Hz", MessageKind::Info}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        TTestExecuter exec;
        exec.IgnoreFreqCmd = c.Ignore;
        exec.DefFreq = c.DefFreq;
        EXPECT_EQ(exec.VarnelSetFrequency(c.Hz, c.Apply), c.Result);
        EXPECT_EQ(exec.ClockRepeat, c.Repeat);
        EXPECT_EQ(exec.CurrentFrequency, c.Result);
        EXPECT_EQ(exec.DesignFrequency, c.Hz) << "the request itself, also when overridden";
        EXPECT_EQ(exec.Queued(), c.Apply ? Bytes{0xA8} : Bytes{});
        EXPECT_EQ(exec.Log(), c.Log);
    }
}

TEST_F(VarnelFrequency, NoFrequencyKeepsTheClockInForce)
{
    for (int32_t hz : {0, -1, -3000000}) {
        TTestExecuter exec;
        ASSERT_EQ(exec.VarnelSetFrequency(400000, false), 333333);
        EXPECT_EQ(exec.VarnelSetFrequency(hz, true), 333333) << hz;
        EXPECT_EQ(exec.ClockRepeat, 3);
        EXPECT_EQ(exec.CurrentFrequency, 333333);
        EXPECT_EQ(exec.DesignFrequency, 400000);
        EXPECT_TRUE(exec.Log().empty());
    }
}

TEST(VarnelEncoder, Trst)
{
    struct TCase {
        const char* Why;
        bool Level, Driven;
        int32_t CachedTms;
        uint8_t Pins;
        uint8_t Byte;
    };
    const TCase cases[] = {
        {"driven high", true, true, -1, 3, 0xEB},
        {"driven low", false, true, -1, 2, 0xEA},
        {"released", true, false, -1, 0, 0xE8},
        {"released, low level", false, false, 0, 0, 0xE8},
        {"cached TMS high is kept", false, true, 1, 2, 0xEE},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        TTestExecuter exec;
        exec.VarnelVPPActive = 3;
        exec.LastPinState = {-1, c.CachedTms, -1};
        EXPECT_TRUE(exec.VarnelTrst(c.Level, c.Driven));
        EXPECT_EQ(exec.PinBits, c.Pins);
        EXPECT_EQ(exec.Queued(), Bytes{c.Byte});
        // Every later pin byte carries the new pin state.
        exec.OutCount = 0;
        exec.VarnelTmsClock(false, false);
        EXPECT_EQ(exec.OutBuffer[0], 0xE8 | c.Pins);
    }
}

TEST(VarnelEncoder, TrstWithoutATrstPinWarnsAndSendsNothing)
{
    for (uint8_t vpp : {0, 1, 2, 4}) {
        TTestExecuter exec;
        exec.VarnelVPPActive = vpp;
        exec.PinBits = 2;
        EXPECT_TRUE(exec.VarnelTrst(true, true));
        EXPECT_EQ(exec.OutCount, 0u);
        EXPECT_EQ(exec.PinBits, 2);
        EXPECT_EQ(exec.Log(), (std::vector<TLogLine>{{"Warning: TRST pin disabled but SVF file contains TRST command",
                                                      MessageKind::Warning}}));
    }
}

// ---- open, read-back and pacing over the emulated Varnel

class VarnelCable : public TExecutorTest {
protected:
    // One Varnel A6010001 with the given extra members; selected.
    void LoadVarnel(const std::string& Extra = "")
    {
        Load({Varnel("A6010001", "\"trace_writes\":true" + (Extra.empty() ? "" : "," + Extra))});
        Exec->SelectedCable = 0x010001;
    }
    std::vector<std::string> Writes() { return TraceWith("d2xx write "); }

    void Tms(std::initializer_list<int> Levels)
    {
        for (int level : Levels)
            ASSERT_TRUE(Exec->VarnelTmsClock(false, level != 0));
    }
    // From anywhere to Shift-DR (after Test-Logic-Reset the default device
    // holds IDCODE there), or to Shift-IR.
    void ToShift(bool Ir)
    {
        Tms({1, 1, 1, 1, 1, 0, 1});
        if (Ir)
            Tms({1});
        Tms({0, 0});
    }
    // Exit1 to Run-Test/Idle through Update.
    void ToIdle() { Tms({1, 0}); }

    // Shifts Count bits of Value (bit 0 first), capturing where Capture says.
    void ShiftValue(uint64_t Value, int32_t Count, const Bytes& Capture)
    {
        Bytes tdi(static_cast<size_t>(Count));
        for (int32_t i = 0; i < Count; ++i)
            tdi[static_cast<size_t>(i)] = i < 64 ? (Value >> i) & 1 : 0;
        ASSERT_TRUE(Exec->VarnelShift(tdi.data(), Capture.data(), Count, true));
    }
    static uint64_t ValueOf(const Bytes& Tdo)
    {
        uint64_t v = 0;
        for (size_t i = 0; i < Tdo.size(); ++i)
            if (Tdo[i])
                v |= uint64_t{1} << i;
        return v;
    }
    // The read-back asked until it answers something else than "not yet".
    ReadResult ReadBack(Bytes& Tdo, const Bytes& Capture, int Tries = 1000)
    {
        ReadResult r = ReadResult::NotYet;
        for (int i = 0; i < Tries && r == ReadResult::NotYet; ++i)
            r = Exec->VarnelReadTdo(Tdo.data(), Capture.data(), static_cast<int32_t>(Tdo.size()));
        return r;
    }
    void Open()
    {
        ASSERT_TRUE(Exec->OpenVarnel());
        ASSERT_NE(Exec->VarnelSetFrequency(3000000, true), -1);
    }
};

TEST_F(VarnelCable, OpenProbesAndQueuesTheSetUp)
{
    LoadVarnel();
    ASSERT_TRUE(Exec->OpenVarnel());
    EXPECT_TRUE(Exec->Log().empty());
    // The probe in one write; the idle chain answers 18 and 08, which only
    // bits 7 and 4 are tested on.
    EXPECT_THAT(Writes(), ElementsAreArray({"d2xx write A6010001 C1 C1 D1 C0 D0"}));
    EXPECT_THAT(Exec->Queued(), ElementsAreArray({0xA7, 0xA8, 0xB8, 0xCA, 0xEE}));
    EXPECT_EQ(Exec->PendingReplies, 0);
    EXPECT_EQ(Exec->RxCount(), 0);
    EXPECT_EQ(Exec->PinBits, 2);
    EXPECT_EQ(Sim->Counter("FT_SetLatencyTimer"), 1u);
    EXPECT_GE(Clock->Slept.load(), 250u);
    EXPECT_EQ(Exec->OpenedKind, CableKindVarnel);
}

TEST_F(VarnelCable, OpenSetsTheAuxiliaryPinFromVppActive)
{
    struct TCase {
        uint8_t Active;
        uint8_t Before;
        uint8_t Pins;
    };
    const TCase cases[] = {{0, 0, 2}, {1, 0, 3}, {2, 3, 0}, {3, 3, 0}, {4, 0, 2}, {7, 1, 1}};
    for (const TCase& c : cases) {
        SCOPED_TRACE("VarnelVPPActive " + std::to_string(c.Active));
        LoadVarnel();
        Exec->VarnelVPPActive = c.Active;
        Exec->PinBits = c.Before;
        ASSERT_TRUE(Exec->OpenVarnel());
        EXPECT_EQ(Exec->PinBits, c.Pins);
        EXPECT_EQ(Exec->Queued().back(), 0xEC | c.Pins);
        Exec->CloseCable(false);
    }
}

TEST_F(VarnelCable, OpenDrainsStaleBytesFirst)
{
    LoadVarnel("\"faults\":{\"stale_bytes\":40}");
    ASSERT_TRUE(Exec->OpenVarnel());
    // Left in place, the 0xFF bytes would have been taken for the probe's
    // answer.
    EXPECT_TRUE(Exec->Log().empty());
    EXPECT_EQ(Exec->RxCount(), 0);
    // A pause once fewer than 16 are left.
    EXPECT_GE(Clock->Slept.load(), 250u + 100u);
}

TEST_F(VarnelCable, OpenGivesUpOnADeviceThatKeepsSending)
{
    // A megabyte of stale bytes outlasts the drain's bound on the test clock.
    LoadVarnel("\"faults\":{\"stale_bytes\":1048576}");
    const uint32_t before = Clock->Now.load();
    EXPECT_FALSE(Exec->OpenVarnel());
    EXPECT_TRUE(Exec->Log().empty());
    EXPECT_EQ(Exec->FtHandle, nullptr);
    EXPECT_EQ(Sim->Counter("open_handles"), 0u);
    EXPECT_LT(Clock->Now.load() - before, 250u + ReplyTimeoutMs + 100u);
}

TEST_F(VarnelCable, OpenFailuresSayWhyAndLeaveNothingOpen)
{
    struct TCase {
        const char* Why;
        std::vector<std::string> Devices;
        int32_t Selected;
        const char* Text; // null: a silent failure
        const char* Reason = nullptr; // the line before Text
    };
    const TCase cases[] = {
        {"no such serial", {Varnel("A6010001")}, 0x010002, "Fatal error: Cannot find VARNEL",
         "No VARNEL S/N A6010002 is attached; attached: VARNEL S/N A6010001."},
        {"two devices with the serial", {Varnel("A6010001"), Varnel("A6010001")}, 0x010001,
         "Fatal error: Cannot find VARNEL", "2 cables answer to VARNEL S/N A6010001."},
        {"the probe cannot be written", {Varnel("A6010001", "\"faults\":{\"write_fail_after\":0}")}, 0x010001,
         "VARNEL: Communication error!"},
        {"no answer to the probe", {Varnel("A6010001", "\"faults\":{\"probe\":\"silent\"}")}, 0x010001,
         "Fatal error: VARNEL response timeout"},
        {"a wrong answer", {Varnel("A6010001", "\"faults\":{\"probe\":\"wrong\"}")}, 0x010001,
         "Fatal error: VARNEL bad response"},
        {"the drain's read fails", {Varnel("A6010001", "\"faults\":{\"stale_bytes\":4,\"read_fail_after\":0}")},
         0x010001, nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Load(c.Devices);
        Exec->ClearLog();
        Exec->SelectedCable = c.Selected;
        const uint32_t before = Clock->Now.load();
        EXPECT_FALSE(Exec->OpenVarnel());
        if (c.Reason)
            EXPECT_EQ(Exec->Log(), (std::vector<TLogLine>{{c.Reason, MessageKind::Error}, {c.Text, MessageKind::Error}}));
        else if (c.Text)
            EXPECT_EQ(Exec->Log(), (std::vector<TLogLine>{{c.Text, MessageKind::Error}}));
        else
            EXPECT_TRUE(Exec->Log().empty());
        EXPECT_EQ(Exec->FtHandle, nullptr);
        EXPECT_EQ(Sim->Counter("open_handles"), 0u);
        // The probe's wait is bounded by the clock, not by the device.
        EXPECT_LT(Clock->Now.load() - before, 2000u);
        // A later close finds nothing to park.
        const auto writes = Sim->Counter("FT_Write");
        Exec->CloseCable(false);
        EXPECT_EQ(Sim->Counter("FT_Write"), writes);
    }
}

TEST_F(VarnelCable, OpenFailsWhenAnotherProgramTakesTheDeviceFirst)
{
    LoadVarnel();
    // The search's open is the first, ours the second: another program
    // opens the device in between.
    int opens = 0;
    FT_HANDLE other = nullptr;
    FtSetTraceHook([&](const char* Text, bool) {
        if (std::string(Text) == "FT_Open" && ++opens == 2)
            FtEntries().FT_Open(0, &other);
    });
    EXPECT_FALSE(Exec->OpenVarnel());
    FtSetTraceHook({});
    EXPECT_EQ(Exec->Log(), (std::vector<TLogLine>{{"Fatal error: FT_Open failed", MessageKind::Error}}));
    EXPECT_EQ(Exec->FtHandle, nullptr);
    EXPECT_EQ(Exec->OpenedKind, CableKindNone);
    ASSERT_NE(other, nullptr);
    FtClose(other);
}

TEST_F(VarnelCable, ReadsTheIdcodeInBothModes)
{
    const Bytes all(32, 1);
    for (int32_t hz : {3000000, 1000000, 300000}) {
        SCOPED_TRACE(hz);
        LoadVarnel();
        ASSERT_TRUE(Exec->OpenVarnel());
        ASSERT_NE(Exec->VarnelSetFrequency(hz, true), -1);
        ToShift(false);
        ShiftValue(0, 32, all);
        ToIdle();
        ASSERT_TRUE(Exec->VarnelSync());
        Bytes tdo(32, 0);
        EXPECT_EQ(ReadBack(tdo, all), ReadResult::Ready);
        EXPECT_EQ(ValueOf(tdo), 0x0ABC1DEFu);
        EXPECT_EQ(Exec->PendingReplies, 0);
        EXPECT_EQ(Exec->RxCount(), 0);
        EXPECT_THAT(TraceWith(" scan dr "), testing::ElementsAre(testing::HasSubstr("bits=32 in=00000000 out=0ABC1DEF")));
        Exec->CloseCable(false);
    }
}

TEST_F(VarnelCable, ReadBackDecodesAsTheShiftWasSentWhateverTheClockSinceThen)
{
    // The write side runs ahead: a FREQUENCY between a scan and its
    // read-back switches the mode in either direction.
    const Bytes all(32, 1);
    for (auto [sentHz, readHz] : {std::pair{3000000, 200000}, std::pair{200000, 3000000}}) {
        SCOPED_TRACE(std::to_string(sentHz) + " -> " + std::to_string(readHz));
        LoadVarnel();
        Open();
        ASSERT_NE(Exec->VarnelSetFrequency(sentHz, true), -1);
        ToShift(false);
        ShiftValue(0, 32, all);
        ToIdle();
        ASSERT_NE(Exec->VarnelSetFrequency(readHz, true), -1);
        ToShift(false);
        ShiftValue(0, 32, all);
        ToIdle();
        ASSERT_TRUE(Exec->VarnelSync());
        for (int scan = 0; scan < 2; ++scan) {
            Bytes tdo(32, 0);
            ASSERT_EQ(ReadBack(tdo, all), ReadResult::Ready) << "scan " << scan;
            EXPECT_EQ(ValueOf(tdo), 0x0ABC1DEFu) << "scan " << scan;
        }
        EXPECT_EQ(Exec->PendingReplies, 0);
        EXPECT_EQ(Exec->RxCount(), 0) << "no reply left over, none missing";
        Exec->CloseCable(false);
    }
}

TEST_F(VarnelCable, ReadBackWaitsForAllRepliesAndConsumesNothingMeanwhile)
{
    // One held reply comes out per poll of the driver.
    LoadVarnel("\"faults\":{\"trickle\":1}");
    Open();
    const Bytes all(32, 1);
    ToShift(false);
    ShiftValue(0, 32, all);
    ToIdle();
    ASSERT_TRUE(Exec->VarnelSync());
    // Bit 0, eight groups of the 30 middle bits, the last bit.
    ASSERT_EQ(Exec->PendingReplies, 10);
    Bytes tdo(32, 0);
    int notYet = 0;
    ReadResult r;
    while ((r = Exec->VarnelReadTdo(tdo.data(), all.data(), 32)) == ReadResult::NotYet) {
        ++notYet;
        EXPECT_EQ(Exec->PendingReplies, 10);
        EXPECT_EQ(Exec->RxCount(), notYet) << "held, not consumed";
        ASSERT_LT(notYet, 100);
    }
    EXPECT_EQ(r, ReadResult::Ready);
    EXPECT_EQ(notYet, 9);
    EXPECT_EQ(ValueOf(tdo), 0x0ABC1DEFu);
    EXPECT_EQ(Exec->PendingReplies, 0);
}

// Which Tdo entries a read-back writes: in native mode every entry of a
// group with a captured bit (the group's one reply carries them all), in
// repeated mode only the captured ones; the rest keep their value (K).
TEST_F(VarnelCable, ReadBackWritesTheEntriesItHasRepliesFor)
{
    constexpr int K = -1, Low = 0, High = 1;
    const struct {
        const char* Why;
        int32_t Hz;
        Bytes Capture;
        std::vector<int> Expected;
    } cases[] = {
        // IDCODE bits 0-5 of 0x0ABC1DEF: 1 1 1 1 0 1.
        {"native: one captured bit fills its group", 3000000, {0, 0, 1, 0, 0, 0}, {K, High, High, High, Low, K}},
        {"repeated: only the captured entries", 1000000, {0, 0, 1, 0, 1, 0}, {K, K, High, K, Low, K}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        LoadVarnel();
        Open();
        ASSERT_NE(Exec->VarnelSetFrequency(c.Hz, true), -1);
        ToShift(false);
        ShiftValue(0, 6, c.Capture);
        ToIdle();
        ASSERT_TRUE(Exec->VarnelSync());
        Bytes tdo(6, 0x55);
        ASSERT_EQ(ReadBack(tdo, c.Capture), ReadResult::Ready);
        for (size_t i = 0; i < tdo.size(); ++i) {
            if (c.Expected[i] == K)
                EXPECT_EQ(tdo[i], 0x55) << "bit " << i;
            else
                EXPECT_EQ(tdo[i] != 0, c.Expected[i] == High) << "bit " << i;
        }
        Exec->CloseCable(false);
    }
}

TEST_F(VarnelCable, ReadBackOfNothingCapturedAsksTheDeviceNothing)
{
    LoadVarnel();
    Open();
    const auto polls = Sim->Counter("FT_GetQueueStatus");
    Bytes tdo(8, 0x55);
    const Bytes none(8, 0);
    EXPECT_EQ(Exec->VarnelReadTdo(tdo.data(), none.data(), 8), ReadResult::Ready);
    EXPECT_EQ(Exec->VarnelReadTdo(tdo.data(), none.data(), 0), ReadResult::Ready);
    EXPECT_EQ(tdo, Bytes(8, 0x55));
    EXPECT_EQ(Sim->Counter("FT_GetQueueStatus"), polls);
}

TEST_F(VarnelCable, ReadBackOfAFailingCableIsACommunicationError)
{
    // Reads fail after the probe's two replies and one more; or the device
    // is gone in the middle of the block that holds the scan.
    for (const char* fault : {"\"read_fail_after\":3", "\"unplug_after\":60"}) {
        SCOPED_TRACE(fault);
        LoadVarnel(std::string("\"faults\":{") + fault + "}");
        Open();
        const Bytes all(32, 1);
        ToShift(false);
        ShiftValue(0, 32, all);
        ToIdle();
        Exec->VarnelSync();
        Bytes tdo(32, 0);
        EXPECT_EQ(ReadBack(tdo, all), ReadResult::CommError);
        Exec->CloseCable(false);
    }
}

TEST_F(VarnelCable, PacingKeepsRepliesInFlightBounded)
{
    LoadVarnel();
    Open();
    // Repeated mode: one reply per captured bit, 100 000 of them.
    ASSERT_NE(Exec->VarnelSetFrequency(1000000, true), -1);
    const int32_t bits = 100000;
    const Bytes all(bits, 1);
    ToShift(false);
    ShiftValue(0, bits, all);
    ToIdle();
    ASSERT_TRUE(Exec->VarnelSync());
    EXPECT_EQ(Exec->PendingReplies, bits);
    Bytes tdo(bits, 0);
    EXPECT_EQ(ReadBack(tdo, all), ReadResult::Ready);
    // The IDCODE, then the zeros shifted in behind it.
    EXPECT_EQ(ValueOf(Bytes(tdo.begin(), tdo.begin() + 64)), 0x0ABC1DEFu);
    Exec->CloseCable(false);
    const auto close = TraceWith(" close written=");
    ASSERT_EQ(close.size(), 2u); // the search's session, then ours
    const size_t at = close[1].find("maxunread=");
    ASSERT_NE(at, std::string::npos);
    EXPECT_LE(std::stoul(close[1].substr(at + 10)), static_cast<unsigned long>(VarnelMaxRepliesInFlight) + OutBufferSize);
}

TEST_F(VarnelCable, PacingWaitEndsWhenTheCableStopsAnswering)
{
    // 20 replies and no more: the flush that must wait for replies gives up
    // some seconds after the device could have sent them.
    LoadVarnel("\"faults\":{\"replies_stop_after\":20}");
    Open();
    ASSERT_NE(Exec->VarnelSetFrequency(1000000, true), -1);
    const Bytes all(40000, 1);
    ToShift(false);
    const uint32_t before = Clock->Now.load();
    Bytes tdi(all.size(), 0);
    EXPECT_FALSE(Exec->VarnelShift(tdi.data(), all.data(), static_cast<int32_t>(all.size()), true) &&
                 Exec->VarnelSync());
    const uint32_t waited = Clock->Now.load() - before;
    EXPECT_GT(waited, ReplyTimeoutMs);
    EXPECT_LT(waited, 4 * ReplyTimeoutMs);
}

TEST_F(VarnelCable, PacingWaitEndsWhenReadingFails)
{
    // Reads fail once the probe's replies and 100 more have been read.
    LoadVarnel("\"faults\":{\"read_fail_after\":102}");
    Open();
    ASSERT_NE(Exec->VarnelSetFrequency(1000000, true), -1);
    const Bytes all(40000, 1);
    Bytes tdi(all.size(), 0);
    ToShift(false);
    const auto sleeps = Clock->Slept.load();
    EXPECT_FALSE(Exec->VarnelShift(tdi.data(), all.data(), static_cast<int32_t>(all.size()), true) &&
                 Exec->VarnelSync());
    EXPECT_LT(Clock->Slept.load() - sleeps, 1000u);
}

} // namespace
