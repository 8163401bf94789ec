#include "chain/chain.h"

#include <gtest/gtest.h>

#include <string>

#include "sim_test_util.h"

namespace {

using nlohmann::json;
using sim::Bits;
using sim::Chain;
using sim::TapState;
using simtest::Hex;
using simtest::Jtag;

// a sits at the cable's TDI, b drives the cable's TDO.
const char* TwoDevices = R"([
  {"name": "a", "ir_length": 4, "ir_capture": "0b0101", "idcode": {"opcode": 1, "value": "12345679"},
   "instructions": [{"name": "USER", "opcode": "0x8", "length": 12, "capture": "ABC", "readback": true}]},
  {"name": "b", "ir_length": 6, "idcode": {"opcode": "0x2", "value": "0x0F0F0F0F"}}
])";

class TwoDeviceChain : public testing::Test {
protected:
    TwoDeviceChain() : C(json::parse(TwoDevices), "t"), J(C)
    {
        J.Reset();
        J.Tms({0});
    }
    Chain C;
    Jtag J;
};

TEST_F(TwoDeviceChain, ResetSelectsIdcodeAndTheDeviceNearestTdoComesOutFirst)
{
    const Bits out = J.Dr(Bits(64, 0));
    EXPECT_EQ(sim::BitsToHex(out), "123456790F0F0F0F");
    EXPECT_EQ(C.At(0).Selected().Name, "IDCODE");
    EXPECT_EQ(C.At(1).Selected().Name, "IDCODE");
}

TEST_F(TwoDeviceChain, IrScanShowsEachCaptureAndLoadsEachInstruction)
{
    // Bits 0-5 end in b, 6-9 in a.
    const Bits out = J.Ir(Hex("23F", 10)); // a = 1000 (USER), b = 111111 (BYPASS)
    EXPECT_EQ(sim::BitsToHex(out), "141"); // a's 0101, b's 000001
    EXPECT_EQ(C.At(0).Instruction(), 0x8u);
    EXPECT_EQ(C.At(0).Selected().Name, "USER");
    EXPECT_EQ(C.At(1).Selected().Name, "BYPASS");
    EXPECT_EQ(C.At(0).IrUpdates(), std::vector<uint64_t>{0x8});
}

TEST_F(TwoDeviceChain, BypassIsOneBitThatCapturesZero)
{
    J.Ir(Bits(10, 1));
    const Bits in = Hex("2D", 8);
    const Bits out = J.Dr(in);
    // Two bypass bits: two zeros from the capture, then the input delayed by two.
    EXPECT_EQ(sim::BitsToHex(out), sim::BitsToHex(Hex("B4", 8)));
}

TEST_F(TwoDeviceChain, UnlistedOpcodeSelectsBypass)
{
    J.Ir(Hex("17F", 10)); // a = 0101: not listed
    EXPECT_EQ(C.At(0).Selected().Name, "BYPASS");
    EXPECT_EQ(C.At(1).Selected().Name, "BYPASS");
}

TEST_F(TwoDeviceChain, RegisterKeepsItsUpdatesAndReadsBackTheLast)
{
    J.Ir(Hex("23F", 10)); // a: USER, b: BYPASS
    // 13 bits: the last one passes a and ends in b's bypass bit.
    Bits first = Hex("123", 12);
    first.insert(first.begin(), 0); // the first bit shifted ends in b
    const Bits out1 = J.Dr(first);
    EXPECT_EQ(sim::BitsToHex(Bits(out1.begin() + 1, out1.end())), "ABC"); // the capture before any update
    const Bits out2 = J.Dr(Bits(13, 0));
    const sim::DataRegister* user = C.At(0).Register("USER");
    ASSERT_NE(user, nullptr);
    ASSERT_EQ(user->Updates.size(), 2u);
    EXPECT_EQ(sim::BitsToHex(user->Updates[0]), "123");
    EXPECT_EQ(sim::BitsToHex(Bits(out2.begin() + 1, out2.end())), "123"); // readback
}

TEST_F(TwoDeviceChain, TmsHighFiveTimesReloadsTheResetInstruction)
{
    J.Ir(Bits(10, 1));
    J.Reset();
    EXPECT_EQ(C.At(0).Selected().Name, "IDCODE");
    EXPECT_EQ(C.At(1).Selected().Name, "IDCODE");
}

TEST(ChainEdges, TapMovesOnTheRisingEdgeAndTdoChangesOnTheFallingOne)
{
    Chain c(json::parse(R"([{"idcode": {"opcode": 1, "value": 5}}])"), "t");
    Jtag j(c);
    j.Tms({0, 1, 0, 0}); // shift-DR
    ASSERT_EQ(c.State(), TapState::DRSHIFT);
    c.SetTck(false);
    EXPECT_TRUE(c.Tdo()); // bit 0 of 0101
    c.SetTdi(false);
    c.SetTck(true); // shifts
    EXPECT_TRUE(c.Tdo()) << "TDO must hold until the falling edge";
    c.SetTms(true); // while TCK is high: sampled on no edge
    c.SetTck(false);
    EXPECT_FALSE(c.Tdo()); // bit 1
    EXPECT_EQ(c.State(), TapState::DRSHIFT);
    c.SetTck(true);
    EXPECT_EQ(c.State(), TapState::DREXIT1);
    EXPECT_FALSE(c.Tdo()) << "still driven until the falling edge";
    c.SetTck(false);
    EXPECT_TRUE(c.Tdo()) << "undriven TDO reads the pull-up";
}

TEST(ChainEdges, EmptyChainIsAWire)
{
    Chain c(json::array(), "t");
    c.SetTdi(false);
    EXPECT_FALSE(c.Tdo());
    c.SetTdi(true);
    EXPECT_TRUE(c.Tdo());
}

TEST(ChainMemory, ProgramThenVerifyThroughAddressWriteAndRead)
{
    Chain c(json::parse(R"([{"kind": "memory", "ir_length": 4,
                             "memory": {"address_bits": 4, "word_bits": 8, "words": 16}}])"),
            "t");
    Jtag j(c);
    j.Reset();
    j.Tms({0});
    j.Ir(Hex("2", 4));
    j.Dr(Hex("3", 4));
    j.Ir(Hex("3", 4));
    j.Dr(Hex("A5", 8));
    j.Dr(Hex("5A", 8)); // the address steps after each write
    const sim::Device& d = c.At(0);
    EXPECT_EQ(d.Word(3), 0xA5u);
    EXPECT_EQ(d.Word(4), 0x5Au);
    EXPECT_EQ(d.Word(5), 0xFFu); // erased
    ASSERT_EQ(d.Register("WRITE")->Updates.size(), 2u);

    j.Ir(Hex("2", 4));
    EXPECT_EQ(sim::BitsToHex(j.Dr(Hex("3", 4))), "5"); // the address captured: 3 + 2 writes
    j.Ir(Hex("4", 4));
    EXPECT_EQ(sim::BitsToHex(j.Dr(Bits(8, 0))), "A5");
    EXPECT_EQ(sim::BitsToHex(j.Dr(Bits(8, 0))), "5A");
    EXPECT_EQ(d.Address(), 5u);
}

TEST(ChainMemory, AddressesWrapAtTheWordCount)
{
    Chain c(json::parse(R"([{"kind": "memory", "memory": {"address_bits": 4, "words": 4, "contents": [1, 2, 3, 4]}}])"),
            "t");
    Jtag j(c);
    j.Reset();
    j.Tms({0});
    j.Ir(Hex("2", 4));
    j.Dr(Hex("6", 4)); // 6 mod 4
    j.Ir(Hex("4", 4));
    EXPECT_EQ(sim::BitsToHex(j.Dr(Bits(8, 0))), "03");
    EXPECT_EQ(sim::BitsToHex(j.Dr(Bits(8, 0))), "04");
    EXPECT_EQ(sim::BitsToHex(j.Dr(Bits(8, 0))), "01");
}

TEST(ChainTrst, AssertedTrstHoldsOnlyTheDevicesThatHaveOne)
{
    Chain c(json::parse(R"([{"trst": true, "idcode": {"opcode": 1, "value": 1}}, {"idcode": {"opcode": 1, "value": 3}}])"),
            "t");
    Jtag j(c);
    j.Reset();
    j.Tms({0, 1, 0, 0}); // both in shift-DR
    c.SetTrst(sim::Drive::Low);
    EXPECT_EQ(c.At(0).State(), TapState::RESET);
    EXPECT_EQ(c.At(1).State(), TapState::DRSHIFT);
    EXPECT_EQ(c.State(), TapState::RESET);
    EXPECT_TRUE(c.LastScan().Aborted);
    j.Tms({0, 0});
    EXPECT_EQ(c.At(0).State(), TapState::RESET) << "held while TRST is low";
    c.SetTrst(sim::Drive::High);
    j.Tms({0});
    EXPECT_EQ(c.At(0).State(), TapState::IDLE);
    c.SetTrst(sim::Drive::Released); // pulled up: no reset
    EXPECT_EQ(c.At(0).State(), TapState::IDLE);
}

class ChainStays : public testing::Test {
protected:
    ChainStays() : C(Chain::DevicesOf(json::object()), "t"), J(C) {}
    Chain C;
    Jtag J;
};

TEST_F(ChainStays, CountsCyclesAndDeviceTimeFromEntryToExit)
{
    J.Tms({1, 1, 1, 1, 1, 0});
    EXPECT_EQ(C.LastStay().State, TapState::RESET);
    EXPECT_EQ(C.LastStay().Cycles, 5u);
    EXPECT_EQ(C.LastStay().Tms, '1');
    for (int i = 0; i < 32; ++i)
        J.Clock(false);
    J.Tms({1});
    const sim::StayRecord& s = C.LastStay();
    EXPECT_EQ(s.State, TapState::IDLE);
    EXPECT_EQ(s.Cycles, 32u);
    EXPECT_EQ(s.Ticks, 33u * 3000); // one cycle is 3000 ticks, edge to edge
    EXPECT_EQ(s.Tms, '0');
}

TEST_F(ChainStays, WaitsCountTowardTheStayAndItsTmsLevel)
{
    J.Tms({0});
    C.Wait(3000000); // 1 ms with TMS low
    J.Tms({1});
    EXPECT_EQ(C.LastStay().Cycles, 0u);
    EXPECT_EQ(C.LastStay().Ticks, 3000000u + 3000);
    EXPECT_EQ(C.LastStay().Tms, '0');

    J.Tms({1, 1, 1, 1, 0});
    C.Wait(3000);
    C.SetTms(true);
    C.Wait(3000); // a wait with TMS high in Run-Test/Idle
    C.SetTck(false);
    C.SetTck(true);
    EXPECT_EQ(C.LastStay().Tms, 'x');
}

TEST_F(ChainStays, TraceLinesForScanStateAndStay)
{
    sim::TraceClear();
    J.Tms({0});
    J.Dr(Bits(32, 0));
    C.EndOfSession();
    const auto lines = sim::TraceLines();
    const auto has = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
    EXPECT_TRUE(has("t state IDLE"));
    EXPECT_TRUE(has("t scan dr n=1 bits=32 in=00000000 out=0ABC1DEF from=IDLE tck_min_ns=1000 tck_max_ns=1000"));
    EXPECT_TRUE(has("t stay IDLE cycles=0 ns=1000 tms=-"));
    EXPECT_TRUE(has("t stay IDLE cycles=0 ns=500 tms=- at=close"));
}

TEST(ChainTraceMask, FalseSilencesTheChain)
{
    sim::TraceClear();
    Chain c(Chain::DevicesOf(json::object()), "quiet", sim::TraceMask::FromJson(json::parse(R"({"trace": false})")));
    Jtag j(c);
    j.Tms({0});
    j.Dr(Bits(32, 0));
    EXPECT_TRUE(simtest::TraceWith("quiet").empty());
}

struct BadConfig {
    const char* Name;
    const char* Devices;
    const char* Message;
};

class ChainConfigErrors : public testing::TestWithParam<BadConfig> {};

TEST_P(ChainConfigErrors, AreRefusedWithAMessageNamingTheEntry)
{
    try {
        Chain c(json::parse(GetParam().Devices), "t");
        FAIL() << "accepted";
    } catch (const sim::ConfigError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().Message), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChainConfigErrors,
    testing::Values(BadConfig{"NotAList", R"({"kind": "generic"})", "a list of devices"},
                    BadConfig{"UnknownKey", R"([{"irlength": 4}])", "unknown key \"irlength\""},
                    BadConfig{"IrLengthZero", R"([{"ir_length": 0}])", "ir_length"},
                    BadConfig{"IrLengthTooLong", R"([{"ir_length": 65}])", "ir_length"},
                    BadConfig{"CaptureTooWide", R"([{"ir_length": 2, "ir_capture": "0x5"}])", "wider than 2 bits"},
                    BadConfig{"BadDigit", R"([{"ir_capture": "0xG"}])", "bad digit"},
                    BadConfig{"OpcodeReused",
                              R"([{"idcode": {"opcode": 1, "value": 1}, "instructions": [{"name": "X", "opcode": 1}]}])",
                              "reuses an opcode"},
                    BadConfig{"AllOnesTaken", R"([{"instructions": [{"name": "X", "opcode": "F"}]}])", "all-ones"},
                    BadConfig{"MemoryOnGeneric", R"([{"memory": {}}])", "only a \"memory\" device"},
                    BadConfig{"NoSuchResetInstruction", R"([{"reset_instruction": "NONE"}])", "reset_instruction"},
                    BadConfig{"SameName", R"([{"name": "x"}, {"name": "x"}])", "two devices"},
                    BadConfig{"IdcodeWithoutValue", R"([{"idcode": {"opcode": 1}}])", "\"value\""},
                    BadConfig{"NegativeLength", R"([{"instructions": [{"name": "X", "opcode": 2, "length": -1}]}])",
                              "negative"}),
    [](const testing::TestParamInfo<BadConfig>& info) { return std::string(info.param.Name); });

// The chains in chains/ answer the vendor-written sample files: their
// statements, step by step.
TEST(SampleChains, CoolRunnerAnswersIdcodeUnderMaskAndIrCaptureEndingIn01)
{
    Chain c(Chain::DevicesOf(simtest::ChainFile("coolrunner2_idcode.json")), "t");
    Jtag j(c);
    j.Reset();
    j.Tms({0});
    j.Ir(Hex("01", 8));
    const uint64_t id = sim::BitsToUint(j.Dr(Bits(32, 0)));
    EXPECT_EQ(id & 0x0fff8fff, 0xf6e5f093u & 0x0fff8fff);
    EXPECT_EQ(sim::BitsToUint(j.Ir(Hex("ff", 8))) & 0x03, 0x01u);
    EXPECT_EQ(sim::BitsToUint(j.Dr(Hex("00", 1))), 0u); // bypass
}

TEST(SampleChains, Ecp5AnswersA8InTheTopByteAfterTheSixteenBitWrite)
{
    Chain c(Chain::DevicesOf(simtest::ChainFile("ecp5_passthru_idcode.json")), "t");
    Jtag j(c);
    j.Reset();
    j.Tms({0});
    // ENDIR IRPAUSE, ENDDR DRPAUSE, each followed by RUNTEST IDLE.
    auto scanToPause = [&](bool Ir, const Bits& In) {
        j.Tms({1});
        if (Ir)
            j.Tms({1});
        j.Tms({0, 0});
        Bits out;
        for (size_t i = 0; i < In.size(); ++i)
            out.push_back(j.Clock(i + 1 == In.size(), In[i]));
        j.Tms({0});          // pause
        j.Tms({1, 1, 0});    // exit2, update, idle
        for (int i = 0; i < 32; ++i)
            j.Clock(false);
        return out;
    };
    scanToPause(true, Hex("FF", 8));
    scanToPause(true, Hex("3A", 8));
    scanToPause(false, Hex("68FE", 16));
    const Bits out = scanToPause(false, Hex("00000000D5", 40));
    EXPECT_EQ(sim::BitsToUint(out) >> 32, 0xA8u);
    const sim::DataRegister* r = c.At(0).Register("PROG_SPI");
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->Updates.size(), 2u);
    EXPECT_EQ(c.LastStay().Cycles, 32u);
}

} // namespace
