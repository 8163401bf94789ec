#include "cables/varnel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim_test_util.h"

namespace {

using nlohmann::json;
using sim::Bits;
using sim::TapState;
using sim::VarnelProtocol;
using namespace simtest;

// The cable's set-up after its probe: A7, 3 MHz, B8, TCK low with TDI 0,
// TMS high with the auxiliary pin driven low.
const Bytes OpenBytes = {0xA7, 0xA8, 0xB8, 0xCA, 0xEE};

class VarnelTest : public testing::Test {
protected:
    explicit VarnelTest(const char* Device = R"({"serial": "A6010001"})")
        : V(std::make_unique<VarnelProtocol>(json::parse(Device)))
    {
        sim::TraceClear();
        V->Opened();
    }
    bool Write(const Bytes& B) { return V->HostWrite(B.data(), B.size()); }
    sim::Chain& C() { return V->GetChain(); }
    // Set-up, Test-Logic-Reset, Run-Test/Idle.
    void ToIdle() { ASSERT_TRUE(Write(Cat({OpenBytes, TmsClocks({1, 1, 1, 1, 1, 0}, 2)}))); }

    std::unique_ptr<VarnelProtocol> V;
};

// Replies per command byte by its high nibble, and the bytes the cable
// defines; every other byte is a protocol error.
TEST(VarnelCommands, EveryByteRepliesByItsHighNibbleAndUndefinedOnesAreErrors)
{
    const int replies[16] = {0, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 0, 0, 1, 0, 1};
    auto defined = [](int b) {
        return b <= 0x80 || b == 0xA3 || b == 0xA7 || (b >= 0xA8 && b <= 0xAB) || b == 0xB8 ||
               (b >= 0xC0 && b <= 0xDF) || (b >= 0xE8 && b <= 0xEF);
    };
    for (int b = 0; b < 256; ++b) {
        VarnelProtocol v(json::parse(R"({"trace": false})"));
        v.Opened();
        const uint8_t byte = static_cast<uint8_t>(b);
        ASSERT_TRUE(v.HostWrite(&byte, 1));
        EXPECT_EQ(ReadAll(v).size(), static_cast<size_t>(replies[b >> 4])) << std::hex << b;
        EXPECT_EQ(v.ProtocolErrors(), defined(b) ? 0u : 1u) << std::hex << b;
    }
}

TEST_F(VarnelTest, ProbeIsAnsweredWithTheBitsTheOpenTests)
{
    ASSERT_TRUE(Write({0xC1, 0xC1, 0xD1, 0xC0, 0xD0}));
    const Bytes r = ReadAll(*V);
    ASSERT_EQ(r, (Bytes{0x18, 0x08}));
    EXPECT_EQ(r[0] & 0x90, 0x10);
    EXPECT_EQ(r[1] & 0x90, 0x00);
}

TEST_F(VarnelTest, SetupAndTmsClocksWalkTheTap)
{
    ASSERT_TRUE(Write(OpenBytes));
    EXPECT_EQ(V->AuxPin(), 2);
    EXPECT_TRUE(C().Tms());
    EXPECT_FALSE(C().Tck());
    ASSERT_TRUE(Write(TmsClocks({1, 1, 1, 1, 1, 0, 1, 0, 0}, 2)));
    EXPECT_EQ(C().State(), TapState::DRSHIFT);
    EXPECT_TRUE(ReadAll(*V).empty());
    EXPECT_EQ(V->ProtocolErrors(), 0u);
}

struct GroupCase {
    const char* Name;
    uint8_t Group;
    Bytes Replies;
};

class VarnelSixBitShift : public VarnelTest, public testing::WithParamInterface<GroupCase> {
protected:
    VarnelSixBitShift()
        : VarnelTest(R"({"chain": [{"reset_instruction": "R6",
                         "instructions": [{"name": "R6", "opcode": 2, "length": 6, "capture": "2A"}]}]})")
    {
    }
};

// Native mode, PinBits 2, Tdi 1,0,1,1,0,1, LastTms 1: CB CF 36 CB EE CF CA;
// with bit 2 captured the group byte is 76 and answers for the whole group.
TEST_P(VarnelSixBitShift, ShiftsTheBitsAndAnswersForTheGroup)
{
    ToIdle();
    ASSERT_TRUE(Write(TmsClocks({1, 0, 0}, 2)));
    ASSERT_TRUE(Write({0xCB, 0xCF, GetParam().Group, 0xCB, 0xEE, 0xCF, 0xCA}));
    ASSERT_TRUE(Write(TmsClocks({1, 0}, 2)));
    EXPECT_EQ(C().State(), TapState::IDLE);
    EXPECT_EQ(C().LastScan().In, (Bits{1, 0, 1, 1, 0, 1}));
    EXPECT_EQ(sim::BitsToHex(C().At(0).Register("R6")->Updates.at(0)), "2D");
    EXPECT_EQ(ReadAll(*V), GetParam().Replies); // capture 101010: bits 1-4 are 1,0,1,0
    EXPECT_EQ(C().LastScan().MinPeriodTicks, VarnelProtocol::BasePeriodTicks); // 3 MHz in the group
}

INSTANTIATE_TEST_SUITE_P(Groups, VarnelSixBitShift,
                         testing::Values(GroupCase{"NotRead", 0x36, {}}, GroupCase{"Read", 0x76, {0x05}}),
                         [](const testing::TestParamInfo<GroupCase>& info) { return std::string(info.param.Name); });

TEST_F(VarnelTest, IdcodeReadsBackThroughSamplesAndNativeGroups)
{
    ToIdle();
    ASSERT_TRUE(Write(TmsClocks({1, 0, 0}, 2)));
    Bytes b = {L(0), H(0, true)};    // bit 0
    for (int g = 0; g < 7; ++g)
        b.push_back(0x70);           // bits 1-28: four cycles, read
    b.push_back(0x50);               // bits 29-30: two cycles, read
    b.insert(b.end(), {L(0), P(1, 2), H(0, true), 0xCA}); // bit 31, TMS high
    ASSERT_TRUE(Write(b));
    ASSERT_TRUE(Write(TmsClocks({1, 0}, 2)));
    const Bytes r = ReadAll(*V);
    ASSERT_EQ(r.size(), 10u);
    uint64_t id = (r[0] >> 3) & 1;
    for (int g = 0; g < 7; ++g)
        id |= uint64_t{r[1 + g] & 0x0Fu} << (1 + 4 * g);
    id |= uint64_t{r[8] & 0x03u} << 29;
    EXPECT_EQ(r[8] & 0xFC, 0) << "bits above the cycle count carry nothing";
    id |= uint64_t{(r[9] >> 3) & 1u} << 31;
    EXPECT_EQ(id, 0x0ABC1DEFu);
    EXPECT_EQ(C().CompletedScans(), 1u);
}

// Repeated mode, R = 2, Count 3, Tdi 1,0,1, LastTms 1: each half period two
// pin bytes, so TCK runs at 1 MHz / 2.
TEST_F(VarnelTest, RepeatedModeShiftRunsAtTheRateItsBytesMake)
{
    ToIdle();
    ASSERT_TRUE(Write(TmsClocks({1, 0, 0}, 2)));
    ASSERT_TRUE(Write({L(1), 0xCF, H(1), L(0), L(0), 0xCE, H(0), L(1), L(1), P(1, 2), 0xCF, H(1), 0xCA, 0xCA}));
    ASSERT_TRUE(Write(TmsClocks({1, 0}, 2)));
    EXPECT_EQ(C().LastScan().In, (Bits{1, 0, 1}));
    EXPECT_EQ(C().LastScan().MinPeriodTicks, 4 * VarnelProtocol::ByteTicks);
    EXPECT_EQ(C().State(), TapState::IDLE);
}

struct ClockCase {
    uint8_t Byte;
    uint64_t CycleTicks;
    uint64_t Hz;
};

class VarnelClocks : public VarnelTest, public testing::WithParamInterface<ClockCase> {};

TEST_P(VarnelClocks, NativeCyclesLastOnePeriodOfTheClockSelected)
{
    ToIdle();
    ASSERT_TRUE(Write({P(0, 2), GetParam().Byte}));
    EXPECT_EQ(V->NativeHz(), GetParam().Hz);
    const uint64_t before = C().Clock().Ticks();
    ASSERT_TRUE(Write({0x30})); // four cycles, TDI 0, TMS held low
    EXPECT_EQ(C().Clock().Ticks() - before, 4 * GetParam().CycleTicks);
    ASSERT_TRUE(Write(TmsClocks({1})));
    EXPECT_EQ(C().LastStay().Cycles, 4u);
}

INSTANTIATE_TEST_SUITE_P(Bytes, VarnelClocks,
                         testing::Values(ClockCase{0xA8, 1000, 3000000}, ClockCase{0xA9, 2000, 1500000},
                                         ClockCase{0xAA, 4000, 750000}, ClockCase{0xAB, 36000, 83333}),
                         [](const testing::TestParamInfo<ClockCase>& info) {
                             return "x" + std::to_string(static_cast<int>(info.param.Byte));
                         });

struct WaitCase {
    const char* Name;
    Bytes Wait;
    uint64_t Cycles;
    uint64_t AtLeastUs;
};

class VarnelWaits : public VarnelTest, public testing::WithParamInterface<WaitCase> {};

// Run-test byte streams of the cable: the stay in Run-Test/Idle sees the
// cycles and at least the time they were made for.
TEST_P(VarnelWaits, StayInIdleHoldsTheCyclesAndTimeAsked)
{
    ToIdle();
    ASSERT_TRUE(Write(GetParam().Wait));
    ASSERT_TRUE(Write(TmsClocks({1}, 2)));
    const sim::StayRecord& s = C().LastStay();
    EXPECT_EQ(s.State, TapState::IDLE);
    EXPECT_EQ(s.Cycles, GetParam().Cycles);
    EXPECT_GE(s.Ticks, GetParam().AtLeastUs * sim::DeviceClock::TicksPerUs);
    EXPECT_LT(s.Ticks, (GetParam().AtLeastUs + 250) * sim::DeviceClock::TicksPerUs);
    EXPECT_EQ(s.Tms, '0');
    EXPECT_EQ(V->ProtocolErrors(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, VarnelWaits,
    testing::Values(
        // 1000 us with the clock stopped: ceil(3000 / 512) + 1 device-timed waits.
        WaitCase{"Timed1000us", Cat({{0xEA}, Bytes(7, 0x80), {0xA8}}), 0, 1000},
        // 10 us at 750 kHz: ten cycles.
        WaitCase{"Cycles750kHz", {0xEA, 0xEA, 0xAA, 0x30, 0x30, 0x10, 0xA8}, 10, 10},
        // 100 us at the low run-test clock: 3 * 100 div 36 + 1 cycles.
        WaitCase{"CyclesLowClock", {0xEA, 0xEA, 0xAB, 0x30, 0x30, 0x00, 0xA8}, 9, 100},
        // Repeated mode, three bytes a half period: two cycles of 3 us.
        WaitCase{"RepeatedCycles", {0xEA, 0xCE, 0xCE, 0xCE, 0xCA, 0xCA, 0xCA, 0xCE, 0xCE, 0xCE, 0xCA, 0xCA, 0xCA},
                 2, 6}),
    [](const testing::TestParamInfo<WaitCase>& info) { return std::string(info.param.Name); });

TEST_F(VarnelTest, WaitRunIsTracedOnceWithItsDeviceTime)
{
    ToIdle();
    ASSERT_TRUE(Write(Cat({{0xEA}, Bytes(7, 0x80), {0xA8}})));
    EXPECT_EQ(TraceWith("wait "), std::vector<std::string>{"varnel:A6010001 wait bytes=7 ns=1194666 tms=0"});
    EXPECT_EQ(TraceWith("stay IDLE").size(), 0u) << "the stay is still open";
}

class VarnelVpp : public VarnelTest {
protected:
    VarnelVpp() : VarnelTest(R"({"vpp": "trst", "chain": [{"trst": true}]})") {}
};

TEST_F(VarnelVpp, AuxPinDrivenLowResetsTheChainThroughTrst)
{
    ToIdle(); // aux 2 (driven low) held the chain in reset all along
    EXPECT_EQ(C().State(), TapState::RESET);
    ASSERT_TRUE(Write(TmsClocks({0}, 3)));
    EXPECT_EQ(C().State(), TapState::IDLE);
    ASSERT_TRUE(Write({P(0, 2)}));
    EXPECT_EQ(C().State(), TapState::RESET);
    EXPECT_EQ(C().Trst(), sim::Drive::Low);
    ASSERT_TRUE(Write({P(0, 0)}));
    EXPECT_EQ(C().Trst(), sim::Drive::Released);
    EXPECT_FALSE(TraceWith("pin vpp=z").empty());
    EXPECT_FALSE(TraceWith("pin trst=0").empty());
}

TEST_F(VarnelTest, AuxPinWiredToNothingLeavesTheChainAlone)
{
    ToIdle();
    ASSERT_TRUE(Write({P(0, 2), P(0, 0), P(0, 3)}));
    EXPECT_EQ(C().State(), TapState::IDLE);
    EXPECT_EQ(C().Trst(), sim::Drive::Released);
}

TEST_F(VarnelTest, UndefinedByteIsTracedWithItsPosition)
{
    ASSERT_TRUE(Write({0xA7, 0x81, 0xF0}));
    EXPECT_EQ(TraceWith("error"), (std::vector<std::string>{"varnel:A6010001 error byte=81 at=1 undefined command",
                                                            "varnel:A6010001 error byte=F0 at=2 undefined command"}));
    EXPECT_EQ(ReadAll(*V), Bytes{0x00}); // F0 still answers
}

TEST_F(VarnelTest, CloseTracesTheParkBytes)
{
    ToIdle();
    ASSERT_TRUE(Write({0xA3, 0xA8, 0xEE, 0xC8}));
    V->Closed();
    const auto close = TraceWith(" close ");
    ASSERT_EQ(close.size(), 1u);
    EXPECT_NE(close[0].find("bytes=4 last=A3 A8 EE C8"), std::string::npos) << close[0];
    EXPECT_FALSE(TraceWith("stay IDLE cycles=0").empty()) << "the stay open at close is traced";
    EXPECT_FALSE(TraceWith("setup byte=A3").empty());
}

TEST_F(VarnelTest, RepliesLeftAtCloseWaitForTheNextOpenUntilPurged)
{
    ASSERT_TRUE(Write({0xC1, 0xD1, 0xD0}));
    V->Closed();
    V->Opened();
    EXPECT_EQ(V->Available(), 2u);
    V->Purge();
    EXPECT_EQ(V->Available(), 0u);
}

TEST(VarnelFactory, CreatesTheVarnelWithItsChainAndRefusesABadChain)
{
    auto v = sim::CreateProtocol("varnel", json::parse(R"({"chain": [{}, {}]})"));
    ASSERT_NE(v->JtagChain(), nullptr);
    EXPECT_EQ(v->JtagChain()->Size(), 2u);
    EXPECT_EQ(sim::CreateProtocol("other", json::object())->JtagChain(), nullptr);
    EXPECT_THROW(sim::CreateProtocol("varnel", json::parse(R"({"chain": [{"ir_length": 0}]})")), sim::ConfigError);
    EXPECT_THROW(sim::CreateProtocol("varnel", json::parse(R"({"vpp": "reset"})")), sim::ConfigError);
}

} // namespace
