#include "cables/druvel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim_test_util.h"

namespace {

using nlohmann::json;
using sim::Bits;
using sim::DruvelProtocol;
using sim::TapState;
using namespace simtest;

// MPSSE commands spelt out from FTDI's command set, with the cable's
// wiring: bit 0 TCK, bit 1 TDI, bit 3 TMS, direction DB, bit 7 high.
Bytes Pins(bool Tms, bool Tdi = false)
{
    return {0x80, static_cast<uint8_t>(0x80 | (Tdi ? 0x02 : 0) | (Tms ? 0x08 : 0)), 0xDB};
}
// One TCK pulse with TMS set first: the pins, then one bit out.
Bytes TmsWalk(std::initializer_list<int> Levels)
{
    Bytes b;
    for (int t : Levels)
        b = Cat({b, Pins(t != 0), {0x13, 0x00, 0x00}});
    return b;
}
// 3 MHz (divisor 1), TCK low, every line low but bit 7.
const Bytes OpenBytes = {0x86, 0x01, 0x00, 0x80, 0x80, 0xDB};

class DruvelTest : public testing::Test {
protected:
    explicit DruvelTest(const char* Device = R"({"serial": "A6123456"})")
        : D(std::make_unique<DruvelProtocol>(json::parse(Device)))
    {
        sim::TraceClear();
        D->Opened();
        D->SetBitMode(0, DruvelProtocol::MpsseMode);
    }
    bool Write(const Bytes& B) { return D->HostWrite(B.data(), B.size()); }
    sim::Chain& C() { return D->GetChain(); }
    void ToIdle() { ASSERT_TRUE(Write(Cat({OpenBytes, TmsWalk({1, 1, 1, 1, 1, 0})}))); }

    std::unique_ptr<DruvelProtocol> D;
};

TEST(DruvelCommands, AnOpcodeOutsideTheCommandSetIsABadCommand)
{
    const auto known = [](int b) {
        return b == 0x80 || b == 0x86 || b == 0x87 || b == 0x8A || b == 0x8B || b == 0x11 || b == 0x13 || b == 0x31 ||
               b == 0x33;
    };
    for (int b = 0; b < 256; ++b) {
        DruvelProtocol d(json::parse(R"({"trace": false})"));
        d.Opened();
        d.SetBitMode(0, DruvelProtocol::MpsseMode);
        const uint8_t byte = static_cast<uint8_t>(b);
        ASSERT_TRUE(d.HostWrite(&byte, 1));
        EXPECT_EQ(ReadAll(d), known(b) ? Bytes{} : Bytes({0xFA, byte})) << std::hex << b;
        EXPECT_EQ(d.ProtocolErrors(), known(b) ? 0u : 1u) << std::hex << b;
    }
}

TEST(DruvelCommands, BytesOutsideMpsseModeAreErrorsAndMoveNothing)
{
    DruvelProtocol d(json::parse("{}"));
    d.Opened();
    const Bytes walk = Cat({OpenBytes, TmsWalk({1, 1, 1, 1, 1, 0})});
    ASSERT_TRUE(d.HostWrite(walk.data(), walk.size()));
    EXPECT_EQ(d.ProtocolErrors(), 1u);
    EXPECT_EQ(d.GetChain().Clock().Ticks(), 0u);
    // In MPSSE mode the same bytes walk the TAP; reset mode stops that again.
    d.SetBitMode(0, DruvelProtocol::MpsseMode);
    ASSERT_TRUE(d.HostWrite(walk.data(), walk.size()));
    EXPECT_EQ(d.GetChain().State(), TapState::IDLE);
    d.SetBitMode(0, 0);
    EXPECT_FALSE(d.InMpsse());
    ASSERT_TRUE(d.HostWrite(walk.data(), walk.size()));
    EXPECT_EQ(d.ProtocolErrors(), 2u);
    EXPECT_EQ(TraceWith(" mode ").size(), 2u);
}

TEST_F(DruvelTest, APinCommandWithAnotherDirectionOrTckHighIsRefused)
{
    ASSERT_TRUE(Write(OpenBytes));
    struct TCase {
        Bytes Command;
        const char* Why;
    };
    const TCase cases[] = {
        {{0x80, 0x88, 0xDF}, "wrong direction"}, // TDO driven
        {{0x80, 0x88, 0x0B}, "wrong direction"},
        {{0x80, 0x89, 0xDB}, "tck high"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        const uint64_t before = D->ProtocolErrors();
        sim::TraceClear();
        ASSERT_TRUE(Write(c.Command));
        EXPECT_EQ(D->ProtocolErrors(), before + 1);
        EXPECT_FALSE(C().Tms()) << "no pin changed";
        EXPECT_EQ(TraceWith(c.Why).size(), 1u);
    }
    ASSERT_TRUE(Write(Pins(true, true)));
    EXPECT_TRUE(C().Tms());
    EXPECT_TRUE(C().Tdi());
    EXPECT_EQ(D->ProtocolErrors(), 3u);
}

TEST_F(DruvelTest, ClocksBeforeThePinsAreSetReachNoDevice)
{
    ASSERT_TRUE(Write({0x86, 0x01, 0x00, 0x13, 0x04, 0x00, 0x33, 0x00, 0x00}));
    EXPECT_EQ(D->ProtocolErrors(), 2u);
    EXPECT_EQ(C().State(), TapState::RESET);
    EXPECT_EQ(ReadAll(*D), Bytes{0x01}) << "the reply still comes: the TDO line, pulled up";
}

// The default device's IDCODE 0x0ABC1DEF, read from Run-Test/Idle: three
// bytes in and out, seven bits, then the last with TMS high.
const Bytes ReadIdcode = Cat({TmsWalk({1, 0, 0}), {0x31, 0x02, 0x00, 0x00, 0x00, 0x00}, {0x33, 0x06, 0x00},
                              Pins(true), {0x33, 0x00, 0x00}, TmsWalk({1, 0})});
// Bit 0 first, each reply byte with its first bit in bit 7; the bit
// command's seven (bits 24-30: 0,1,0,1,0,0,0) in bits 6-0; bit 31 alone.
const Bytes IdcodeReplies = {0xF7, 0xB8, 0x3D, 0x28, 0x00};

TEST_F(DruvelTest, ReadsAnIdcodeWithTheReplyLayoutsOfByteAndBitCommands)
{
    ToIdle();
    ASSERT_TRUE(Write(ReadIdcode));
    EXPECT_EQ(ReadAll(*D), IdcodeReplies);
    EXPECT_EQ(C().State(), TapState::IDLE);
    EXPECT_EQ(sim::BitsToHex(C().LastScan().Out), "0ABC1DEF");
    EXPECT_EQ(C().LastScan().MinPeriodTicks, 1000u) << "3 MHz";
    EXPECT_EQ(D->ProtocolErrors(), 0u);
}

TEST_F(DruvelTest, ACommandSplitAcrossWritesActsAsOneWrite)
{
    ToIdle();
    for (uint8_t b : ReadIdcode)
        ASSERT_TRUE(Write({b}));
    EXPECT_EQ(ReadAll(*D), IdcodeReplies);
    EXPECT_EQ(sim::BitsToHex(C().LastScan().Out), "0ABC1DEF");
}

TEST_F(DruvelTest, ShiftsOutMsbFirstAndHoldsTmsFromThePinCommand)
{
    ToIdle();
    // Into Shift-IR of the 4-bit IR: bits 1,0,1 then 1 with TMS high: 1101
    // (bit 0 first) is opcode 0xD.
    ASSERT_TRUE(Write(Cat({TmsWalk({1, 1, 0, 0}), {0x13, 0x02, 0xA0}, Pins(true), {0x13, 0x00, 0x80}, TmsWalk({1, 0})})));
    EXPECT_EQ(C().State(), TapState::IDLE);
    EXPECT_TRUE(C().LastScan().Ir);
    EXPECT_EQ(C().LastScan().In, (Bits{1, 0, 1, 1}));
    EXPECT_EQ(C().At(0).Instruction(), 0xDu);
    EXPECT_TRUE(ReadAll(*D).empty()) << "out-only commands answer nothing";
}

TEST_F(DruvelTest, TheDivisorAndDivideByFiveSetTheTck)
{
    struct TCase {
        Bytes Clock;
        uint64_t Hz;
        uint64_t PeriodTicks; // thirds of a ns
    };
    const TCase cases[] = {
        {{0x86, 0x05, 0x00}, 1000000, 3000},
        {{0x86, 0x00, 0x00}, 6000000, 500},
        {{0x86, 0xE8, 0xFD}, 92, 32500500}, // divisor 65 000
        {{0x86, 0x3B, 0x00}, 100000, 30000},
        {{0x86, 0x05, 0x00, 0x8A}, 5000000, 600},
        {{0x86, 0x05, 0x00, 0x8A, 0x8B}, 1000000, 3000},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Hz);
        ToIdle();
        ASSERT_TRUE(Write(c.Clock));
        EXPECT_EQ(D->TckHz(), c.Hz);
        const uint64_t before = C().Clock().Ticks();
        ASSERT_TRUE(Write({0x11, 0x00, 0x00, 0x00, 0x13, 0x01, 0x00})); // ten cycles
        EXPECT_EQ(C().Clock().Ticks() - before, 10 * c.PeriodTicks);
        ASSERT_TRUE(Write(TmsWalk({1, 0, 0})));
        ASSERT_TRUE(Write(Cat({{0x13, 0x06, 0x00}, Pins(true), {0x13, 0x00, 0x00}, TmsWalk({1, 0})})));
        EXPECT_EQ(C().LastScan().MinPeriodTicks, c.PeriodTicks);
        EXPECT_EQ(C().LastScan().MaxPeriodTicks, c.PeriodTicks);
    }
    EXPECT_FALSE(TraceWith(" clock divisor=65000 tck_hz=92").empty());
}

TEST_F(DruvelTest, SendImmediateIsAcceptedAndRepliesAreThereAtOnce)
{
    ToIdle();
    ASSERT_TRUE(Write(Cat({Pins(false), {0x33, 0x00, 0x00}})));
    EXPECT_EQ(ReadAll(*D).size(), 1u);
    ASSERT_TRUE(Write({0x87}));
    EXPECT_EQ(D->SendImmediates(), 1u);
    EXPECT_EQ(D->ProtocolErrors(), 0u);
}

class DruvelWithFaults : public DruvelTest {
protected:
    DruvelWithFaults() : DruvelTest(R"({"faults": {"wrong_tdo": {"scan": 1, "bit": 0}, "replies_stop_after": 4}})") {}
};

TEST_F(DruvelWithFaults, TheSharedFaultsApply)
{
    ToIdle();
    ASSERT_TRUE(Write(ReadIdcode));
    // Bit 0 inverted (bit 7 of the first reply), and the fifth reply withheld.
    EXPECT_EQ(ReadAll(*D), (Bytes{0x77, 0xB8, 0x3D, 0x28}));
    EXPECT_TRUE(C().LastScan().Faulty);
}

} // namespace
