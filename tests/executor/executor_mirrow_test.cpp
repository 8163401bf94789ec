// The Mirrow's routines byte by byte: the register packet, the calibration
// bytes and conversions, the wait, shift, read-back, TMS clock, frequency
// and RUNTEST encodings, and the open with its upload, power and voltage
// check against the emulated Mirrow, faults included.
#include <gmock/gmock.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "base/sysutils.h"
#include "cables/mirrow.h"
#include "executor/jtag_mirrow.h"
#include "executor/varnel2low.h"
#include "executor_fixture.h"

namespace {

using namespace exectest;
using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string& Text)
{
    Bytes out;
    std::istringstream in(Text);
    for (std::string b; in >> b;)
        out.push_back(static_cast<uint8_t>(std::stoul(b, nullptr, 16)));
    return out;
}

std::string Text(const Bytes& Data)
{
    std::string s;
    for (uint8_t b : Data) {
        char t[4];
        std::snprintf(t, sizeof t, "%02X", b);
        s += (s.empty() ? "" : " ") + std::string(t);
    }
    return s;
}

// ---- register packet, calibration, conversions

TEST(MirrowRegisterPacket, EveryRegisterTheSystemWrites)
{
    struct TCase {
        uint8_t Register;
        uint16_t Value;
        const char* Packet;
    };
    const TCase cases[] = {
        {0x90, 0x0000, "21 80 80 81 90"}, {0x91, 0x8100, "21 84 84 81 91"}, {0x91, 0x8400, "21 84 90 81 91"},
        {0x91, 0x8000, "21 84 80 81 91"}, {0x91, 0x8200, "21 84 88 81 91"}, {0x93, 32, "21 80 80 C1 93"},
        {0x93, 67, "21 80 81 87 93"},     {0x94, 2, "21 80 80 85 94"},      {0x94, 0x23, "21 80 80 C7 94"},
        {0x94, 1, "21 80 80 83 94"},      {0x8A, 10000, "21 81 9C A1 8A"},  {0x8B, 0, "21 80 80 81 8B"},
    };
    for (const TCase& c : cases) {
        TRegisterPacket p;
        EncodeRegisterPacket(c.Register, c.Value, p);
        EXPECT_EQ(Text(Bytes(p.begin(), p.end())), c.Packet);
    }
}

// The 72 replies of 36 calibration bytes: the low 7 bits, then bit 7.
void Replies(const uint8_t (&Calibration)[36], uint8_t (&Out)[72])
{
    for (int i = 0; i < 36; ++i) {
        Out[2 * i] = Calibration[i] & 0x7F;
        Out[2 * i + 1] = Calibration[i] >> 7;
    }
}

TEST(MirrowCalibration, SixteenBitLittleEndianSignedValuesFromTheirBytes)
{
    uint8_t bytes[36] = {};
    bytes[16] = 0x34, bytes[17] = 0x12; // value 2
    bytes[18] = 0xFF, bytes[19] = 0xFF; // value 3
    bytes[24] = 0x00, bytes[25] = 0x80; // value 6
    bytes[30] = 0x85, bytes[31] = 0x00; // value 9
    uint8_t replies[72];
    Replies(bytes, replies);
    TMirrowCalibration cal;
    ASSERT_TRUE(DecodeCalibration(replies, cal));
    EXPECT_EQ(cal.Values[2], 4660);
    EXPECT_EQ(cal.Values[3], -1);
    EXPECT_EQ(cal.Values[6], -32768);
    EXPECT_EQ(cal.Values[9], 0x85);
    EXPECT_EQ(replies[60], 0x05);
    EXPECT_EQ(replies[61], 0x01) << "0x85 travels as 05 01";

    for (const auto& pair : {std::pair<uint8_t, uint8_t>{0x85, 0x00}, {0x05, 0x81}}) {
        uint8_t bad[72];
        Replies(bytes, bad);
        bad[20] = pair.first;
        bad[21] = pair.second;
        EXPECT_FALSE(DecodeCalibration(bad, cal)) << int{pair.first} << " " << int{pair.second};
    }
}

TEST(MirrowConversions, VoltsFromAdcCodesAndDacCodesFromVolts)
{
    TMirrowCalibration cal;
    cal.Values[2] = 100;
    cal.Values[3] = 4100;
    cal.Values[6] = 0;
    cal.Values[7] = 4000;
    EXPECT_FLOAT_EQ(AdcToVolts(cal, 100), 0.0f);
    EXPECT_FLOAT_EQ(AdcToVolts(cal, 4100), 5.0f);
    EXPECT_FLOAT_EQ(AdcToVolts(cal, 2740), 3.3f);
    struct TCase {
        float Volts;
        int32_t Dac;
    };
    const TCase cases[] = {{3.3f, 2640}, {0.0f, 0},      {-1.0f, 0},
                           {5.0f, 4000}, {6.0f, 4095},   {1e30f, 4095},
                           {-1e30f, 0},  {std::numeric_limits<float>::quiet_NaN(), 0}};
    for (const TCase& c : cases)
        EXPECT_EQ(VoltsToDac(cal, c.Volts), c.Dac) << c.Volts;
    // Halves go to the even code.
    cal.Values[7] = 10;
    EXPECT_EQ(VoltsToDac(cal, 1.25f), 2);
    EXPECT_EQ(VoltsToDac(cal, 1.75f), 4);
    EXPECT_TRUE(CalibrationUsable(cal));
    cal.Values[3] = cal.Values[2];
    EXPECT_FALSE(CalibrationUsable(cal)) << "equal ADC points measure nothing";
    EXPECT_EQ(ClampInt(0, 4095, -3), 0);
    EXPECT_EQ(ClampInt(0, 4095, 5000), 4095);
}

// ---- the encoders, on a device that answers nothing

class MirrowBytes : public TExecutorTest {
protected:
    void SetUp() override
    {
        TExecutorTest::SetUp();
        FormatSettings.ThousandSeparator = ' ';
        Load({Device(MirrowIdentity, "A6040001", "other")});
        ASSERT_EQ(FtOpen(0, Exec->FtHandle), FT_OK);
        Exec->OpenedKind = CableKindMirrow;
        Exec->SelectedCable = 0x02040001;
        Exec->RxReset();
    }
    void TearDown() override
    {
        FormatSettings = TFormatSettings();
        TExecutorTest::TearDown();
    }
    std::string Queued() const { return Text(Exec->Queued()); }
    void Clear()
    {
        Exec->OutCount = 0;
        Exec->ClearLog();
    }
};

TEST_F(MirrowBytes, WaitsAreTimedByTheDeviceNeverShorterThanAsked)
{
    struct TCase {
        int64_t Ns;
        int LongWaits; // 12 8F FF first
        const char* Rest;
    };
    const TCase cases[] = {
        {10000000, 0, "12 8F F1 12 8F C1 12 8F A6 12 8F 85"},
        {500, 0, "5F 5D"},
        {1000, 0, "12 8F 87"},
        {0, 0, ""},
        {-1000, 0, ""},
        {1000000000, 30, "12 8F F7 12 8F D0 12 8F AD 5F 5C"},
        {40000000000, 1220, "12 8F FA 12 8F D8 12 8F B1 12 8F 92 57"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Ns);
        Clear();
        ASSERT_TRUE(Exec->MirrowWait(c.Ns));
        std::string expected;
        for (int i = 0; i < c.LongWaits; ++i)
            expected += (expected.empty() ? "" : " ") + std::string("12 8F FF");
        if (*c.Rest)
            expected += (expected.empty() ? "" : " ") + std::string(c.Rest);
        EXPECT_EQ(Queued(), expected);
    }
}

TEST_F(MirrowBytes, ShiftsInChunksWithAHeaderWhereTheCaptureChoiceChanges)
{
    struct TCase {
        const char* Why;
        std::string Tdi, Capture; // one character a bit, first shifted first
        bool LastTms;
        const char* Bytes;
    };
    const TCase cases[] = {
        {"3 bits, all captured", "101", "111", true, "49 81 20 DC 48 81 20 CA"},
        {"1 bit captured", "1", "1", false, "20 D8 48 81 20 CA"},
        {"1 bit not captured", "1", "0", true, "20 DC 40 81 20 CA"},
        {"8 bits, none captured", "00000000", "00000000", false, "46 80 20 D8 40 80 20 CA"},
        {"9 bits, the middle one captured", "110000001", "000010000", false, "40 81 4E 81 20 D8 40 81 20 CA"},
        {"15 bits, capture from the second chunk", "000000011111111", "000000011111111", true,
         "46 80 4E FF 20 DC 48 81 20 CA"},
        {"none", "", "", true, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Clear();
        Bytes tdi, capture;
        for (char t : c.Tdi)
            tdi.push_back(t == '1');
        for (char t : c.Capture)
            capture.push_back(t == '1');
        ASSERT_TRUE(Exec->MirrowShift(tdi.data(), capture.data(), static_cast<int32_t>(tdi.size()), c.LastTms));
        EXPECT_EQ(Queued(), c.Bytes);
    }
}

TEST_F(MirrowBytes, AReadTakesExactlyItsShiftsRepliesOrNothing)
{
    // 9 bits, the middle one captured: one reply fills positions 1..7.
    Bytes capture(9, 0), tdo(9, 9);
    capture[4] = 1;
    const uint8_t reply = 0x55;
    Exec->RxPut(&reply, 1);
    EXPECT_EQ(Exec->MirrowReadTdo(tdo.data(), capture.data(), 9), ReadResult::Ready);
    EXPECT_THAT(tdo, ElementsAre(9, 1, 0, 1, 0, 1, 0, 1, 9));
    EXPECT_EQ(Exec->RxCount(), 0);

    // 3 bits all captured: 2 bits at bits 5-6, then 1 bit at bit 6.
    const Bytes all(3, 1);
    tdo.assign(3, 9);
    const uint8_t first = 0x20;
    Exec->RxPut(&first, 1);
    EXPECT_EQ(Exec->MirrowReadTdo(tdo.data(), all.data(), 3), ReadResult::NotYet);
    EXPECT_EQ(Exec->RxCount(), 1) << "nothing taken";
    EXPECT_THAT(tdo, ElementsAre(9, 9, 9));
    const uint8_t second = 0x40;
    Exec->RxPut(&second, 1);
    EXPECT_EQ(Exec->MirrowReadTdo(tdo.data(), all.data(), 3), ReadResult::Ready);
    EXPECT_THAT(tdo, ElementsAre(1, 0, 1));

    // Nothing captured: nothing read.
    const Bytes none(8, 0);
    Exec->RxPut(&second, 1);
    EXPECT_EQ(Exec->MirrowReadTdo(tdo.data(), none.data(), 8), ReadResult::Ready);
    EXPECT_EQ(Exec->RxCount(), 1);
}

TEST_F(MirrowBytes, TmsClockStretchesEachHalfByTheRepeatCount)
{
    Exec->ClockRepeat = 2;
    ASSERT_TRUE(Exec->MirrowTmsClock(true, true));
    EXPECT_EQ(Queued(), "20 8B DC 9C 9C CF 8B 8B CB");
    Clear();
    Exec->ClockRepeat = 0;
    ASSERT_TRUE(Exec->MirrowTmsClock(false, false));
    EXPECT_EQ(Queued(), "20 8A D8 CE CA");
    Clear();
    EXPECT_TRUE(Exec->MirrowTrst(false, true));
    EXPECT_EQ(Queued(), "") << "the Mirrow has no TRST line of its own";
}

TEST_F(MirrowBytes, SetFrequencyPicksTheTableEntryAndItsMode)
{
    struct TCase {
        const char* Why;
        int32_t Hz;
        bool Apply;
        bool Ignore;
        uint8_t FreqToFast;
        int32_t Result, Index, Repeat;
        const char* Bytes;
        std::vector<TLogLine> Log;
    };
    const TLogLine spi3M{"Info: TCK frequency set to 3 000 000 Hz, using SPI MODE 0", MessageKind::Info};
    const TCase cases[] = {
        {"2.9 MHz", 2900000, false, false, 0, 2500000, 9, 10, "14 89 A2", {}},
        {"20 MHz", 20000000, false, false, 0, 15000000, 1, 1, "14 81 A2", {}},
        {"10 kHz", 10000, false, false, 0, 30000, 31, 3000, "14 9F A2", {}},
        {"1.9 MHz: the repeat from the request", 1900000, false, false, 0, 1500000, 11, 15, "14 8B A2", {}},
        {"fast from 15 MHz", 15000000, true, false, 1, 15000000, 1, 2, "14 81 B2",
         {{"Info: TCK frequency set to 15 000 000 Hz, using FAST MODE", MessageKind::Info}}},
        {"10 MHz is below that", 10000000, true, false, 1, 10000000, 2, 3, "14 82 A2",
         {{"Info: TCK frequency set to 10 000 000 Hz, using SPI MODE 0", MessageKind::Info}}},
        {"fast from 3 MHz", 3000000, false, false, 4, 3000000, 8, 10, "14 88 B2", {}},
        {"ignored, asked above", 10000000, true, true, 0, 3000000, 8, 10, "14 88 A2",
         {{"Info: Current maximum frequency 10 000 000 Hz, forced 3 000 000 Hz", MessageKind::Info}, spi3M}},
        {"ignored, asked below", 1000000, true, true, 0, 3000000, 8, 10, "14 88 A2",
         {{"Warning: Ignoring maximum frequency 1 000 000 Hz", MessageKind::Warning}, spi3M}},
        {"ignored, silently", 1000000, false, true, 0, 3000000, 8, 10, "14 88 A2", {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Clear();
        Exec->IgnoreFreqCmd = c.Ignore;
        Exec->DefFreq = 0;
        Exec->FreqToFast = c.FreqToFast;
        Exec->CurrentFrequency = 3000000;
        EXPECT_EQ(Exec->MirrowSetFrequency(c.Hz, c.Apply), c.Result);
        EXPECT_EQ(Exec->CurrentFrequency, c.Result);
        EXPECT_EQ(Exec->DesignFrequency, c.Hz);
        EXPECT_EQ(Exec->MirrowFreqIndex, c.Index);
        EXPECT_EQ(Exec->ClockRepeat, c.Repeat);
        EXPECT_EQ(Queued(), c.Bytes);
        EXPECT_EQ(Exec->Log(), c.Log);
    }
    // No frequency at all keeps the clock, and the design's.
    for (int32_t hz : {0, -5}) {
        Clear();
        EXPECT_EQ(Exec->MirrowSetFrequency(hz, true), 3000000);
        EXPECT_EQ(Exec->DesignFrequency, 1000000);
        EXPECT_EQ(Exec->MirrowFreqIndex, 8);
        EXPECT_EQ(Queued(), "");
    }
}

TEST_F(MirrowBytes, RuntestBytesHoldTmsChooseTheClockAndRestoreIt)
{
    struct TCase {
        const char* Why;
        uint8_t TimeMode, CountMode;
        int32_t InForce; // the clock in force (and its table index below)
        bool Count;
        uint32_t Value;
        const char* Bytes;
    };
    const TCase cases[] = {
        {"14 cycles", 0, 4, 3000000, true, 14, "20 D8 14 88 46 80 80 14 88"},
        {"15 cycles", 0, 4, 3000000, true, 15, "20 D8 14 88 40 80 80 80 14 88"},
        {"7 cycles", 0, 4, 3000000, true, 7, "20 D8 14 88 46 80 14 88"},
        {"no cycles: the header alone", 0, 4, 3000000, true, 0, "20 D8 14 88 46 14 88"},
        {"count at 1 MHz", 0, 2, 3000000, true, 8, "20 D8 14 8C 40 80 80 14 88"},
        {"count at the design frequency", 0, 3, 3000000, true, 1, "20 D8 14 8C 40 80 14 88"},
        {"time, clock stopped, 1 us", 0, 4, 3000000, false, 1, "20 D8 12 8F 87 14 88"},
        {"time, low clock: 100 us is 11 cycles", 1, 4, 3000000, false, 100, "20 D8 14 98 43 80 80 14 88"},
        {"time, low clock below 100 kHz: the clock in force", 1, 4, 75000, false, 100, "20 D8 41 80 80 14 99"},
        {"time, 1 MHz: 10 us is 10 cycles", 2, 4, 3000000, false, 10, "20 D8 14 8C 42 80 80 14 88"},
        {"time, design 1 MHz: 11 cycles", 3, 4, 3000000, false, 10, "20 D8 14 8C 43 80 80 14 88"},
        {"time, in force 3 MHz: 31 cycles", 4, 4, 3000000, false, 10, "20 D8 42 80 80 80 80 80 14 88"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Clear();
        Exec->DefFreqRuntestTime = c.TimeMode;
        Exec->DefFreqRuntestPuls = c.CountMode;
        Exec->MirrowSetFrequency(c.InForce, false);
        Exec->DesignFrequency = 1000000;
        Exec->OutCount = 0;
        const bool ok = c.Count ? Exec->MirrowRuntestClocks(false, c.Value, false, {})
                                : Exec->MirrowRuntestTime(false, c.Value, false, {});
        ASSERT_TRUE(ok);
        EXPECT_EQ(Queued(), c.Bytes);
    }
    // An undefined count clock raises once TMS is held.
    Clear();
    Exec->DefFreqRuntestPuls = 5;
    EXPECT_THROW(Exec->MirrowRuntestClocks(false, 10, true, {}), Exception);
    EXPECT_EQ(Queued(), "20 DC");
}

// ---- the open, on the emulated Mirrow

// Every write the device got, from the emulator's trace.
class MirrowOpen : public TExecutorTest {
protected:
    void SetUp() override
    {
        TExecutorTest::SetUp();
        Exec->SelectedCable = 0x02040001;
        Exec->MirrowVddMin = 18;
        Exec->MirrowVddMax = 55;
        Exec->MirrowVddVal = 33;
        Exec->MirrowVddDelay = 10000;
        Exec->MirrowPActive = 2;
    }
    void LoadMirrow(const std::string& Extra = "")
    {
        Load({Mirrow("A6040001", "\"trace_writes\":true" + (Extra.empty() ? "" : "," + Extra))});
        Exec->ClearLog();
    }
    sim::MirrowProtocol& Device() { return *static_cast<sim::MirrowProtocol*>(Sim->Protocol(0)); }
    std::vector<Bytes> Writes()
    {
        std::vector<Bytes> writes;
        for (const std::string& line : TraceWith("d2xx write A6040001"))
            writes.push_back(Hex(line.substr(std::string("d2xx write A6040001").size())));
        return writes;
    }
    // The writes after the image's last block and its 81 87.
    std::vector<std::string> FifoWrites()
    {
        const std::vector<Bytes> all = Writes();
        std::vector<std::string> out;
        bool fifo = false;
        for (const Bytes& w : all) {
            if (fifo)
                out.push_back(Text(w));
            if (Text(w) == "81 87")
                fifo = true;
        }
        return out;
    }
};

TEST_F(MirrowOpen, UploadsTheImageInThreeBlocksAndEndsInFifoMode)
{
    LoadMirrow();
    ASSERT_TRUE(Exec->OpenMirrow());
    const std::vector<Bytes> w = Writes();
    ASSERT_GE(w.size(), 7u);
    EXPECT_EQ(Text(w[0]), "AB");
    EXPECT_EQ(Text(w[1]), "80 01 03 82 00 80 81 87 86 00 00 8A");
    EXPECT_EQ(Text(w[2]), "82 80 80 81 87");
    const std::pair<const char*, size_t> blocks[] = {{"10 FF FF", 65539}, {"10 FF FF", 65539}, {"10 77 02", 635}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Text(Bytes(w[3 + i].begin(), w[3 + i].begin() + 3)), blocks[i].first);
        EXPECT_EQ(w[3 + i].size(), blocks[i].second);
    }
    EXPECT_EQ(Text(w[6]), "81 87");
    EXPECT_EQ(Sim->Counter("FT_ResetDevice"), 1u);
    EXPECT_EQ(Sim->Counter("FT_SetBitMode"), 4u) << "reset, MPSSE, CBUS, FIFO";
    EXPECT_EQ(Sim->Counter("FT_GetBitMode"), 1u);
    EXPECT_TRUE(Device().Configured());
    EXPECT_EQ(Device().Mode(), 0x40);
}

TEST_F(MirrowOpen, AMissingImageIsAFailedUploadThatWritesNothing)
{
    LoadMirrow();
    ASSERT_EQ(FtOpen(0, Exec->FtHandle), FT_OK);
    EXPECT_FALSE(LoadFpgaImage(Exec->FtHandle, "NO_SUCH_IMAGE"));
    EXPECT_EQ(Sim->Counter("FT_Write"), 0u);
    FtClose(Exec->FtHandle);
    Exec->FtHandle = nullptr;
}

TEST_F(MirrowOpen, ImagesOfOneBlockAndOneByteMoreGoOutWithTheirLengths)
{
    for (size_t length : {65536u, 65537u}) {
        SCOPED_TRACE(length);
        LoadMirrow();
        ASSERT_EQ(FtOpen(0, Exec->FtHandle), FT_OK);
        const Bytes image(length, 0x5A);
        EXPECT_FALSE(UploadFpgaImage(Exec->FtHandle, image.data(), image.size())) << "not the image it knows";
        std::vector<std::string> headers;
        for (const Bytes& w : Writes())
            if (w.size() > 3 && w[0] == 0x10)
                headers.push_back(Text(Bytes(w.begin(), w.begin() + 3)) + " +" + std::to_string(w.size() - 3));
        if (length == 65536)
            EXPECT_THAT(headers, ElementsAre("10 FF FF +65536"));
        else
            EXPECT_THAT(headers, ElementsAre("10 FF FF +65536", "10 00 00 +1"));
        EXPECT_EQ(Device().Mode(), 0x40);
        FtClose(Exec->FtHandle);
        Exec->FtHandle = nullptr;
    }
}

TEST_F(MirrowOpen, TheStreamWithTheTargetSupplyOffAndOn)
{
    LoadMirrow();
    Exec->MirrowVddOut = false;
    ASSERT_TRUE(Exec->OpenMirrow());
    std::vector<std::string> fifo = FifoWrites();
    ASSERT_EQ(fifo.size(), 4u);
    EXPECT_EQ(fifo[0], "21 80 80 81 90 20 E0 20 8A D8 15 91 21 84 84 81 91 11");
    EXPECT_EQ(fifo[1].size(), 216u * 3 - 1) << "36 packets and read commands";
    EXPECT_THAT(fifo[1], testing::StartsWith("21 80 80 C1 93 25 21 80 80 C3 93 25"));
    EXPECT_EQ(fifo[2], "21 80 80 C7 94 11");
    EXPECT_EQ(fifo[3], "12 8F F1 12 8F C1 12 8F A6 12 8F 85 29 80 11");
    EXPECT_THAT(Exec->Log(), ElementsAre(TLogLine{"MIRROW: UCC = 3.3V", MessageKind::Info}));
    EXPECT_FALSE(Device().Powered());

    // Supplied by the cable at 3.3 V: DAC code 2640 of 0..4000.
    Exec->CloseCable(false);
    LoadMirrow("\"target\":{\"supply\":\"cable\"}");
    Exec->MirrowVddOut = true;
    const uint64_t slept = Clock->Slept;
    ASSERT_TRUE(Exec->OpenMirrow());
    fifo = FifoWrites();
    ASSERT_EQ(fifo.size(), 4u);
    EXPECT_THAT(fifo[2], testing::StartsWith("13 94 D0 12 8F F1 12 8F C1 12 8F A6 12 8F 85 21 81 9C A1 8A 21 80 80 "
                                             "81 8B 21 80 80 85 94 12 8F"));
    EXPECT_THAT(fifo[2], testing::EndsWith(" 11"));
    EXPECT_EQ(fifo[3], "12 8F F1 12 8F C1 12 8F A6 12 8F 85 29 80 11");
    EXPECT_GE(Clock->Slept - slept, 12u + 11u) << "the settling time and the upload's pauses";
    EXPECT_THAT(Exec->Log(), ElementsAre(TLogLine{"MIRROW: UCC = 3.3V", MessageKind::Info}));
    EXPECT_TRUE(Device().Powered());
    Exec->CloseCable(false);
    EXPECT_FALSE(Device().Powered());
}

TEST_F(MirrowOpen, ANegativeSettlingTimeCountsAsNone)
{
    LoadMirrow("\"target\":{\"supply\":\"cable\"}");
    Exec->MirrowVddOut = true;
    Exec->MirrowVddDelay = -5;
    ASSERT_TRUE(Exec->OpenMirrow());
    EXPECT_THAT(TraceWith(" register r=8A "), ElementsAre(HasSubstr("value=0000")));
    EXPECT_THAT(TraceWith(" register r=8B "), ElementsAre(HasSubstr("value=0000")));
}

TEST_F(MirrowOpen, OutcomesOfTheVoltageCheck)
{
    // The advice on the limits is the front end's (none here).
    struct TCase {
        const char* Why;
        std::string Extra;
        bool VddOut;
        int32_t Min;
        bool Opened;
        std::vector<TLogLine> Log;
    };
    const TCase cases[] = {
        {"inside", "", false, 18, true, {{"MIRROW: UCC = 3.3V", MessageKind::Info}}},
        {"5 V", "\"target\":{\"volts\":5.0}", false, 18, true, {{"MIRROW: UCC = 5V", MessageKind::Info}}},
        {"1.806 V", "\"target\":{\"volts\":1.806}", false, 18, true, {{"MIRROW: UCC = 1.81V", MessageKind::Info}}},
        {"outside", "", false, 36, false, {{"MIRROW: UCC = 3.3V is out of limits.", MessageKind::Error}}},
        {"outside, supplied by the cable", "\"target\":{\"supply\":\"cable\"}", true, 36, false,
         {{"MIRROW: UCC = 3.3V is out of limits.", MessageKind::Error}}},
        {"no voltage", "\"target\":{\"supply\":\"off\"}", false, 18, false,
         {{"MIRROW: UCC = 0V is out of limits.", MessageKind::Error}}},
        // The converter at its full scale: the target may be at any higher
        // voltage, 12 V here, though the reading is within the limits.
        {"beyond the measuring range", "\"target\":{\"volts\":12.0}", false, 18, false,
         {{"MIRROW: UCC = 5.07V is out of limits.", MessageKind::Error}}},
        {"overcurrent", "\"target\":{\"supply\":\"cable\",\"overcurrent\":true}", true, 18, false,
         {{"MIRROW: VDD overcurrent condition!", MessageKind::Error}}},
        {"an error code", "\"target\":{\"supply\":\"cable\",\"error_code\":21}", true, 18, false,
         {{"MIRROW: Error condition (15)!", MessageKind::Error}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        LoadMirrow(c.Extra);
        Exec->MirrowVddOut = c.VddOut;
        Exec->MirrowVddMin = c.Min;
        EXPECT_EQ(Exec->OpenMirrow(), c.Opened);
        EXPECT_EQ(Exec->Log(), c.Log);
        EXPECT_EQ(Device().Powered(), c.Opened && c.VddOut) << "no failure leaves the target powered";
        EXPECT_NE(Exec->FtHandle, nullptr) << "open until the next close";
        if (!c.Opened && c.Log.size() == 2) {
            EXPECT_THAT(TraceWith(" register r=91 "), Contains(HasSubstr("value=8400")));
        }
        Exec->CloseCable(!c.Opened);
        EXPECT_THAT(TraceWith(" register r=91 ").back(), HasSubstr(c.Opened ? "value=8000" : "value=8200"));
        EXPECT_FALSE(Device().Powered());
        EXPECT_EQ(Exec->FtHandle, nullptr);
    }
}

TEST_F(MirrowOpen, UploadCalibrationAndSilenceFaultsNameTheirStepAndClose)
{
    struct TCase {
        const char* Why;
        std::string Extra;
        bool Configured;
        std::string Step;
    };
    const std::string fpga = "its FPGA did not configure", unreadable = "its calibration could not be read";
    const TCase cases[] = {
        {"no answer to the bad command", "\"fpga\":{\"sync\":\"silent\"}", false, fpga},
        {"a wrong answer", "\"fpga\":{\"sync\":\"wrong\"}", false, fpga},
        {"a byte too many", "\"fpga\":{\"sync\":\"extra\"}", false, fpga},
        {"configuration never done", "\"fpga\":{\"never_done\":true}", false, fpga},
        {"no reply at all", "\"faults\":{\"replies_stop_after\":0}", false, fpga},
        {"the first write fails", "\"faults\":{\"write_fail_after\":0}", false, fpga},
        {"a calibration byte with bit 7 set", "\"calibration\":{\"bad_pair\":5}", true, unreadable},
        {"too few calibration bytes", "\"calibration\":{\"replies\":40}", true, unreadable},
        {"equal ADC points", "\"calibration\":{\"adc_0v\":100,\"adc_5v\":100}", true, "its calibration measures no voltage"},
        {"no measurement", "\"faults\":{\"replies_stop_after\":77}", true, "the target's voltage could not be measured"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        LoadMirrow(c.Extra.empty() ? "" : c.Extra + ",\"target\":{\"supply\":\"cable\"}");
        Exec->MirrowVddOut = true;
        EXPECT_FALSE(Exec->OpenMirrow());
        EXPECT_THAT(Exec->Log(), ElementsAre(TLogLine{"MIRROW: Cannot open: " + c.Step + ".", MessageKind::Error}));
        EXPECT_EQ(Exec->FtHandle, nullptr);
        EXPECT_EQ(Sim->Counter("open_handles"), 0u);
        EXPECT_EQ(Device().Configured(), c.Configured);
        if (Sim->Counter("FT_SetBitMode") > 0) {
            EXPECT_EQ(Device().Mode(), 0x40) << "every failed upload ends in FIFO mode";
        }
        EXPECT_FALSE(Device().Powered());
    }
    // The ADC points are refused before the supply is switched on.
    LoadMirrow("\"calibration\":{\"adc_0v\":100,\"adc_5v\":100},\"target\":{\"supply\":\"cable\"}");
    Exec->MirrowVddOut = true;
    EXPECT_FALSE(Exec->OpenMirrow());
    EXPECT_THAT(TraceWith(" power on"), IsEmpty());
}

TEST_F(MirrowOpen, ThroughOpenAndStartEveryFailureEndsWithTheFatalLine)
{
    LoadMirrow("\"fpga\":{\"never_done\":true}");
    EXPECT_FALSE(Exec->OpenAndStart(CableOnlyFile()));
    EXPECT_THAT(Exec->Log(), ElementsAre(TLogLine{"MIRROW: Cannot open: its FPGA did not configure.", MessageKind::Error},
                                         TLogLine{"Fatal error: Cannot open any JTAG cable.", MessageKind::Error}));
    LoadMirrow();
    Exec->MirrowVddMin = 40;
    EXPECT_FALSE(Exec->OpenAndStart(CableOnlyFile()));
    EXPECT_EQ(Exec->Log().back(), (TLogLine{"Fatal error: Cannot open any JTAG cable.", MessageKind::Error}));
    EXPECT_THAT(Exec->Log().front().Text, HasSubstr("is out of limits."));
}

} // namespace
