// Fast mode of the emulated cables: no chain behind them, every command
// answered with the reply bytes its protocol gives it and every read bit 1;
// the link's faults still apply, and the chain sees nothing.
#include <gtest/gtest.h>

#include <memory>

#include "cables/druvel.h"
#include "cables/varnel.h"
#include "sim_test_util.h"

namespace {

using nlohmann::json;
using namespace simtest;

TEST(FastVarnel, EveryByteGetsItsRepliesWithEveryReadBitOne)
{
    const int replies[16] = {0, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 0, 0, 1, 0, 1};
    for (int b = 0; b < 256; ++b) {
        sim::VarnelProtocol v(json::parse(R"({"fast": true})"));
        v.Opened();
        const uint8_t byte = static_cast<uint8_t>(b);
        ASSERT_TRUE(v.HostWrite(&byte, 1));
        const Bytes got = ReadAll(v);
        ASSERT_EQ(got.size(), static_cast<size_t>(replies[b >> 4])) << std::hex << b;
        if (got.empty())
            continue;
        // A native shift reads one bit a cycle; a pin read has TDO in bit 3
        // and the TDI line in bit 4, as the open's probe wants them.
        const uint8_t want = b < 0x80 ? static_cast<uint8_t>((1 << (((b >> 4) & 3) + 1)) - 1)
                             : (b & 0xF0) == 0xD0 ? static_cast<uint8_t>(0x08 | (b & 1 ? 0x10 : 0))
                                                  : 0;
        EXPECT_EQ(got[0], want) << std::hex << b;
    }
}

TEST(FastVarnel, TheChainSeesNothingAndTheLinkFaultsStillApply)
{
    sim::VarnelProtocol v(json::parse(R"({"fast": true, "faults": {"replies_stop_after": 2}})"));
    v.Opened();
    const Bytes probe = {0xC1, 0xC1, 0xD1, 0xC0, 0xD0, 0x7F, 0x7F};
    ASSERT_TRUE(v.HostWrite(probe.data(), probe.size()));
    EXPECT_EQ(ReadAll(v), (Bytes{0x18, 0x08}));
    EXPECT_EQ(v.GetChain().State(), sim::TapState::RESET);
    EXPECT_EQ(v.GetChain().At(0).State(), sim::TapState::RESET);
}

TEST(FastDruvel, CommandsAreGatheredAcrossWritesAndReadsAnswerOnes)
{
    struct {
        const char* why;
        std::vector<Bytes> writes;
        Bytes replies;
    } cases[] = {
        {"pins, divisor, send immediate: no reply", {{0x80, 0x08, 0xDB, 0x86, 0x01, 0x00, 0x87, 0x8A, 0x8B}}, {}},
        {"bytes out and in: one reply a byte", {{0x31, 0x02, 0x00, 0x12, 0x34, 0x56}}, {0xFF, 0xFF, 0xFF}},
        {"bits out and in: the bits in the low end", {{0x33, 0x04, 0x00, 0x33, 0x07, 0x00}}, {0x1F, 0xFF}},
        // Data that look like opcodes are data.
        {"bytes out only", {{0x11, 0x02, 0x00, 0x31, 0x33, 0xAA}, {0x13, 0x00, 0x31}}, {}},
        {"split anywhere", {{0x31}, {0x01}, {0x00, 0x31}, {0x33}, {0x33, 0x02}, {0x00}}, {0xFF, 0xFF, 0x07}},
        {"an unknown opcode is a bad command", {{0xAA, 0x87}}, {0xFA, 0xAA}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        sim::DruvelProtocol d(json::parse(R"({"fast": true})"));
        d.Opened();
        d.SetBitMode(0, sim::DruvelProtocol::MpsseMode);
        for (const Bytes& w : c.writes)
            ASSERT_TRUE(d.HostWrite(w.data(), w.size()));
        EXPECT_EQ(ReadAll(d), c.replies);
        EXPECT_EQ(d.ProtocolErrors(), 0u);
    }
}

TEST(FastMode, AKeyThatIsNotABooleanIsRefused)
{
    EXPECT_THROW(sim::VarnelProtocol(json::parse(R"({"fast": 1})")), sim::ConfigError);
}

} // namespace
