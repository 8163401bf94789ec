// The emulated Mirrow on its own, driven with bytes written by hand from
// the cable's protocol: the MPSSE upload and its done bit, the FPGA's
// protocol with its parser state across writes, the calibration memory, the
// target supply and measurement, waits and shifts on the device clock.
#include "cables/mirrow.h"

#include <gmock/gmock.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "sim_test_util.h"

namespace {

using nlohmann::json;
using sim::MirrowProtocol;
using namespace simtest;

Bytes StandIn()
{
#ifdef ORBESK_MIRROW_STANDIN
    std::ifstream in(ORBESK_MIRROW_STANDIN, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
#else
    return {};
#endif
}

// The register write 0x21: W = Value << 8 | Register in 7-bit groups.
Bytes Packet(uint8_t Register, uint16_t Value)
{
    const uint32_t w = uint32_t{Value} << 8 | Register;
    return {0x21, static_cast<uint8_t>(0x80 | (w >> 21 & 7)), static_cast<uint8_t>(0x80 | (w >> 14 & 0x7F)),
            static_cast<uint8_t>(0x80 | (w >> 7 & 0x7F)), static_cast<uint8_t>(0x80 | (w & 0x7F))};
}

// MPSSE's "clock data bytes out" for one block.
Bytes Block(const Bytes& Image, size_t From, size_t N)
{
    Bytes b = {0x10, static_cast<uint8_t>((N - 1) & 0xFF), static_cast<uint8_t>((N - 1) >> 8)};
    b.insert(b.end(), Image.begin() + static_cast<long>(From), Image.begin() + static_cast<long>(From + N));
    return b;
}

class MirrowTest : public testing::Test {
protected:
    void Make(const std::string& Device = "{}")
    {
        sim::TraceClear();
        M = std::make_unique<MirrowProtocol>(json::parse(Device));
        M->Opened();
    }
    bool Write(const Bytes& B) { return M->HostWrite(B.data(), B.size()); }

    // The program pulse, then Image in blocks of at most 65 536 bytes; the
    // done bit as CBUS reads it.
    uint8_t Upload(const Bytes& Image, bool Pulse = true)
    {
        M->SetBitMode(0, 0x00);
        M->SetBitMode(0, 0x02);
        EXPECT_TRUE(Write({0x80, 0x01, 0x03, 0x82, 0x00, static_cast<uint8_t>(Pulse ? 0x80 : 0x00), 0x81, 0x87}));
        EXPECT_TRUE(Write({0x82, 0x80, 0x80, 0x81, 0x87}));
        for (size_t done = 0; done < Image.size(); done += 65536)
            EXPECT_TRUE(Write(Block(Image, done, std::min<size_t>(65536, Image.size() - done))));
        EXPECT_TRUE(Write({0x81, 0x87}));
        EXPECT_EQ(ReadAll(*M).size(), 3u) << "one reply for each read of the pins";
        M->SetBitMode(0, 0x20);
        const uint8_t cbus = M->GetBitMode();
        M->SetBitMode(0, 0x40);
        return cbus;
    }
    void Configure(const std::string& Device = "{}")
    {
        Make(Device);
        ASSERT_EQ(Upload(StandIn()), 0x08);
    }

    std::unique_ptr<MirrowProtocol> M;
};

TEST_F(MirrowTest, TheDoneBitNeedsExactlyTheStandInImageAfterAProgramPulse)
{
    const Bytes image = StandIn();
    if (image.empty())
        GTEST_SKIP() << "built with another FPGA image";
    ASSERT_EQ(image.size(), MirrowProtocol::ImageLength);
    struct TCase {
        const char* Why;
        Bytes Image;
        bool Pulse;
        const char* Device;
        uint8_t Cbus;
    };
    Bytes dropped = image, added = image, garbled = image;
    dropped.erase(dropped.begin() + 70000);
    added.insert(added.begin() + 100, 0x00);
    garbled[131000] ^= 0x10;
    const TCase cases[] = {
        {"the image", image, true, "{}", 0x08},
        {"a byte dropped", dropped, true, "{}", 0x00},
        {"a byte added", added, true, "{}", 0x00},
        {"a byte garbled", garbled, true, "{}", 0x00},
        {"no program pulse", image, false, "{}", 0x00},
        {"never done", image, true, R"({"fpga": {"never_done": true}})", 0x00},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Make(c.Device);
        EXPECT_EQ(Upload(c.Image, c.Pulse), c.Cbus);
        EXPECT_EQ(M->Configured(), c.Cbus != 0);
    }
}

TEST_F(MirrowTest, AnImageSplitAnywhereAcrossWritesStillConfigures)
{
    const Bytes image = StandIn();
    if (image.empty())
        GTEST_SKIP() << "built with another FPGA image";
    Make();
    M->SetBitMode(0, 0x02);
    Bytes stream = {0x82, 0x00, 0x80, 0x82, 0x80, 0x80};
    for (size_t done = 0; done < image.size(); done += 65536) {
        const Bytes b = Block(image, done, std::min<size_t>(65536, image.size() - done));
        stream.insert(stream.end(), b.begin(), b.end());
    }
    for (size_t at = 0, n = 1; at < stream.size(); at += n, n = n * 3 % 4099 + 1)
        ASSERT_TRUE(M->HostWrite(stream.data() + at, std::min(n, stream.size() - at)));
    M->SetBitMode(0, 0x20);
    EXPECT_EQ(M->GetBitMode(), 0x08);
}

TEST_F(MirrowTest, ABadCommandIsAnsweredAsTheFaultsSay)
{
    struct TCase {
        const char* Device;
        Bytes Reply;
    };
    const TCase cases[] = {
        {"{}", {0xFA, 0xAB}},
        {R"({"fpga": {"sync": "silent"}})", {}},
        {R"({"fpga": {"sync": "wrong"}})", {0xFA, 0xAA}},
        {R"({"fpga": {"sync": "extra"}})", {0xFA, 0xAB, 0x00}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Device);
        Make(c.Device);
        M->SetBitMode(0, 0x02);
        ASSERT_TRUE(Write({0xAB}));
        EXPECT_EQ(ReadAll(*M), c.Reply);
    }
}

TEST_F(MirrowTest, AnUnconfiguredFpgaIgnoresItsProtocol)
{
    Make();
    M->SetBitMode(0, 0x40);
    ASSERT_TRUE(Write({0x29, 0x80, 0x25}));
    EXPECT_TRUE(ReadAll(*M).empty());
    EXPECT_THAT(TraceWith(" fpga unconfigured"), testing::SizeIs(1));
}

TEST_F(MirrowTest, TheSupplyMeasurementAndItsErrors)
{
    if (StandIn().empty())
        GTEST_SKIP() << "built with another FPGA image";
    struct TCase {
        const char* Why;
        const char* Device;
        Bytes Before;
        Bytes Reply;
        bool Powered;
    };
    // DAC 2640 of 0..4000 is 3.3 V; ADC 40 + 3.3 / 5 * 4000 = 2680 = 14 78.
    const Bytes on = Cat({{0x13, 0x94, 0xD0}, Packet(0x94, 2)});
    const TCase cases[] = {
        {"cable supply on", R"({"target": {"supply": "cable"}})", on, {0x14, 0x78}, true},
        {"cable supply off", R"({"target": {"supply": "cable"}})", Packet(0x94, 0x23), {0x00, 0x28}, false},
        {"the target's own 5 V", R"({"target": {"volts": 5.0}})", Packet(0x94, 0x23), {0x1F, 0x48}, false},
        {"overcurrent", R"({"target": {"supply": "cable", "overcurrent": true}})", on, {0x82, 0x00}, true},
        {"an error code", R"({"target": {"error_code": 17}})", on, {0x91, 0x00}, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Configure(c.Device);
        ASSERT_TRUE(Write(Cat({c.Before, {0x29, 0x80}})));
        EXPECT_EQ(ReadAll(*M), c.Reply);
        EXPECT_EQ(M->Powered(), c.Powered);
        ASSERT_TRUE(Write(Packet(0x94, 1)));
        EXPECT_FALSE(M->Powered());
    }
}

TEST_F(MirrowTest, ARegisterWriteSplitAcrossWritesIsOneWrite)
{
    if (StandIn().empty())
        GTEST_SKIP() << "built with another FPGA image";
    Configure(R"({"target": {"supply": "cable"}})");
    const Bytes on = Packet(0x94, 2);
    ASSERT_TRUE(Write({on[0], on[1], on[2]}));
    EXPECT_FALSE(M->Powered());
    ASSERT_TRUE(Write({on[3], on[4]}));
    EXPECT_TRUE(M->Powered());
    EXPECT_EQ(M->RegisterValue(0x94), 2);
    EXPECT_EQ(M->ProtocolErrors(), 0u);
    // A new programming pulse clears the FPGA and its supply.
    M->SetBitMode(0, 0x02);
    ASSERT_TRUE(Write({0x82, 0x00, 0x80}));
    EXPECT_FALSE(M->Powered());
}

TEST_F(MirrowTest, CalibrationBytesComeInPairsWithTheirFaults)
{
    if (StandIn().empty())
        GTEST_SKIP() << "built with another FPGA image";
    struct TCase {
        const char* Device;
        Bytes Reply;
    };
    // Bytes 16, 17 (addresses 48, 49) hold the ADC's 0 V point, 0x1A4 here.
    const TCase cases[] = {
        {R"({"calibration": {"adc_0v": 420}})", {0x24, 0x01, 0x01, 0x00}},
        {R"({"calibration": {"adc_0v": 420, "bad_pair": 16}})", {0xA4, 0x01, 0x01, 0x00}},
        {R"({"calibration": {"adc_0v": 420, "replies": 3}})", {0x24, 0x01, 0x01}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Device);
        Configure(c.Device);
        ASSERT_TRUE(Write(Cat({Packet(0x93, 48), {0x25}, Packet(0x93, 49), {0x25}})));
        EXPECT_EQ(ReadAll(*M), c.Reply);
    }
}

TEST_F(MirrowTest, WaitsLastTheirTicksOwnBytesIncluded)
{
    if (StandIn().empty())
        GTEST_SKIP() << "built with another FPGA image";
    struct TCase {
        Bytes Wait;
        uint64_t Ticks;
    };
    const TCase cases[] = {
        {{0x12, 0x8F, 0xFF}, 1966083},
        {{0x12, 0x8F, 0x87}, 63},
        {{0x12, 0x8F, 0xF1}, 9 * 4 * 16384 + 3},
        {{0x5F}, 16},
        {{0x50}, 1},
    };
    for (const TCase& c : cases) {
        Configure();
        const uint64_t before = M->GetChain().Clock().Ticks();
        ASSERT_TRUE(Write(c.Wait));
        EXPECT_EQ(M->GetChain().Clock().Ticks() - before, c.Ticks * MirrowProtocol::TickTicks);
    }
}

TEST_F(MirrowTest, ShiftRepliesHoldTheirBitsFromSevenLessTheCount)
{
    if (StandIn().empty())
        GTEST_SKIP() << "built with another FPGA image";
    // A bare wire: TDO is the TDI just set.
    Configure(R"({"chain": []})");
    // Two bits 1, 0 captured, header and data in separate writes; then one
    // bit 1; then seven bits not captured.
    ASSERT_TRUE(Write({0x49}));
    ASSERT_TRUE(Write({0x81}));
    ASSERT_TRUE(Write({0x20, 0xDC, 0x48, 0x81, 0x46, 0xFF, 0x20, 0xCA}));
    EXPECT_EQ(ReadAll(*M), (Bytes{0x20, 0x40}));
    EXPECT_FALSE(M->GetChain().Tck()) << "the shifter idles with TCK low";
    EXPECT_EQ(M->ProtocolErrors(), 0u);
}

TEST_F(MirrowTest, ShiftsRunAtTheClockOfTheTableIndex)
{
    if (StandIn().empty())
        GTEST_SKIP() << "built with another FPGA image";
    for (const auto& [index, ns] : {std::pair<uint8_t, int>{0x8C, 1000}, {0x81, 66}, {0x9F, 33333}}) {
        SCOPED_TRACE(ns);
        Configure();
        // Reset, Run-Test/Idle, Shift-DR; 32 bits of IDCODE, then Update.
        Bytes b = {0x14, index};
        for (int tms : {1, 1, 1, 1, 1, 0, 1, 0, 0})
            b.insert(b.end(), {0x20, 0x8A, static_cast<uint8_t>(0xD8 | tms << 2), 0xCE, 0xCA});
        b.insert(b.end(), {0x4A, 0x80, 0x4E, 0x80, 0x80, 0x80, 0x80, 0x20, 0xDC, 0x48, 0x80, 0x20, 0xCA});
        b.insert(b.end(), {0x20, 0x8A, 0xDC, 0xCE, 0xCA});
        ASSERT_TRUE(Write(b));
        const std::vector<std::string> scans = TraceWith(" scan dr ");
        ASSERT_EQ(scans.size(), 1u);
        EXPECT_THAT(scans[0], testing::HasSubstr("bits=32 in=00000000 out=0ABC1DEF"));
        EXPECT_THAT(scans[0], testing::HasSubstr("tck_min_ns=" + std::to_string(ns)));
        EXPECT_EQ(ReadAll(*M).size(), 6u);
    }
}

TEST_F(MirrowTest, StrayBytesAndUnknownCommandsAreErrorsThatChangeNothing)
{
    if (StandIn().empty())
        GTEST_SKIP() << "built with another FPGA image";
    Configure();
    ASSERT_TRUE(Write({0x11, 0x85, 0x33, 0x14, 0xA0}));
    EXPECT_EQ(M->ProtocolErrors(), 3u);
    EXPECT_EQ(M->ClockIndex(), 12);
    EXPECT_THAT(TraceWith(" error byte="), testing::SizeIs(3));
}

} // namespace
