#include "scenario/faults.h"

#include <gtest/gtest.h>

#include <thread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "sim_test_util.h"
#include "cables/varnel.h"

namespace {

using nlohmann::json;
using sim::Bits;
using sim::VarnelProtocol;
using namespace simtest;

const Bytes Probe = {0xC1, 0xC1, 0xD1, 0xC0, 0xD0};

std::unique_ptr<VarnelProtocol> Cable(const std::string& Faults)
{
    sim::TraceClear();
    auto v = std::make_unique<VarnelProtocol>(json::parse(R"({"serial": "A6010002", "faults": )" + Faults + "}"));
    v->Opened();
    return v;
}

bool Write(sim::Protocol& P, const Bytes& B)
{
    return P.HostWrite(B.data(), B.size());
}

TEST(LinkFaults, WriteFailsOncePastTheLimitAndTakesNothing)
{
    auto v = Cable(R"({"write_fail_after": 6})");
    EXPECT_TRUE(Write(*v, Probe));
    EXPECT_FALSE(Write(*v, {0xD1, 0xD0})) << "6 would be passed";
    EXPECT_EQ(v->Written(), 5u);
    EXPECT_EQ(ReadAll(*v).size(), 2u) << "the failed write made no reply";
    EXPECT_FALSE(Write(*v, {0xC1}));
    EXPECT_TRUE(v->Present());
    EXPECT_EQ(TraceWith("fault write-failed").size(), 1u);
}

TEST(LinkFaults, UnplugTakesTheBytesUpToTheLimitThenEveryCallFails)
{
    auto v = Cable(R"({"unplug_after": 4})");
    EXPECT_TRUE(Write(*v, {0xD1, 0xD0}));
    EXPECT_FALSE(Write(*v, {0xA7, 0xD1, 0xD0}));
    EXPECT_FALSE(v->Present());
    EXPECT_EQ(v->Written(), 4u);
    EXPECT_EQ(v->Available(), 0u) << "its replies went with it";
    EXPECT_FALSE(Write(*v, {0xA7}));
    EXPECT_EQ(TraceWith("fault unplugged written=4").size(), 1u);
}

TEST(LinkFaults, UnplugExactlyAtTheEndOfAWriteAcceptsThatWrite)
{
    auto v = Cable(R"({"unplug_after": 2})");
    EXPECT_TRUE(Write(*v, {0xA7, 0xA8}));
    EXPECT_FALSE(v->Present());
}

TEST(LinkFaults, ReadsFailOnceTheLimitIsRead)
{
    auto v = Cable(R"({"read_fail_after": 1})");
    ASSERT_TRUE(Write(*v, Probe));
    EXPECT_EQ(v->Available(), 1u) << "no more than the limit shows";
    uint8_t b[4];
    EXPECT_EQ(v->Read(b, 4), 1u);
    EXPECT_TRUE(v->ReadFails());
    EXPECT_EQ(v->Available(), 0u);
    EXPECT_TRUE(v->Present());
    EXPECT_TRUE(Write(*v, {0xA7})) << "writes still go";
}

TEST(LinkFaults, DelayedRepliesShowAfterTheGivenPolls)
{
    auto v = Cable(R"({"reply_delay": 3})");
    ASSERT_TRUE(Write(*v, Probe));
    EXPECT_EQ(v->Available(), 0u);
    EXPECT_EQ(v->Available(), 0u);
    EXPECT_EQ(v->Available(), 2u);
    EXPECT_EQ(ReadAll(*v), (Bytes{0x18, 0x08}));
}

TEST(LinkFaults, TricklingRepliesComeOutAFewPerPollInOrder)
{
    auto v = Cable(R"({"trickle": 1})");
    ASSERT_TRUE(Write(*v, Cat({Probe, Probe})));
    Bytes got;
    std::vector<size_t> shown;
    for (int i = 0; i < 6; ++i) {
        shown.push_back(v->Available());
        uint8_t b;
        if (i % 2 == 1 && v->Read(&b, 1) == 1)
            got.push_back(b);
    }
    EXPECT_EQ(shown, (std::vector<size_t>{1, 2, 2, 3, 2, 2}));
    for (Bytes rest = ReadAll(*v); !rest.empty(); rest = ReadAll(*v))
        got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, (Bytes{0x18, 0x08, 0x18, 0x08}));
}

TEST(LinkFaults, RepliesStopAfterTheLimitWhileWritesStillSucceed)
{
    auto v = Cable(R"({"replies_stop_after": 3})");
    ASSERT_TRUE(Write(*v, Cat({Probe, Probe})));
    EXPECT_EQ(ReadAll(*v), (Bytes{0x18, 0x08, 0x18}));
    EXPECT_TRUE(Write(*v, Probe));
    EXPECT_EQ(v->Available(), 0u);
}

TEST(LinkFaults, StaleBytesWaitAtEveryOpen)
{
    auto v = Cable(R"({"stale_bytes": [18, "0x34"]})");
    EXPECT_EQ(ReadAll(*v), (Bytes{0x12, 0x34}));
    v->Closed();
    v->Opened();
    EXPECT_EQ(ReadAll(*v), (Bytes{0x12, 0x34}));
    auto n = Cable(R"({"stale_bytes": 3})");
    EXPECT_EQ(ReadAll(*n), (Bytes{0xFF, 0xFF, 0xFF}));
}

struct ProbeCase {
    const char* Fault;
    Bytes Replies;
};

class ProbeFaults : public testing::TestWithParam<ProbeCase> {};

// Only the probe bytes (bits 1 and 3 clear) are touched; a read of the
// pins in a scan still answers.
TEST_P(ProbeFaults, TouchOnlyTheProbe)
{
    auto v = Cable(std::string(R"({"probe": ")") + GetParam().Fault + "\"}");
    ASSERT_TRUE(Write(*v, Cat({Probe, {0xDE}})));
    EXPECT_EQ(ReadAll(*v), GetParam().Replies);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ProbeFaults,
                         testing::Values(ProbeCase{"silent", {0x08}}, ProbeCase{"wrong", {0x08, 0x18, 0x08}}),
                         [](const testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.Fault); });

TEST(ProbeFaults, WrongProbeFailsTheTestTheOpenMakes)
{
    auto v = Cable(R"({"probe": "wrong"})");
    ASSERT_TRUE(Write(*v, Probe));
    const Bytes r = ReadAll(*v);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_FALSE((r[0] & 0x90) == 0x10 && (r[1] & 0x90) == 0);
}

struct TdoCase {
    const char* Name;
    const char* Fault;
    int FlippedScan; // 1-based among the three DR reads below; 0: none
    Bits Flipped;    // bits of that read's IDCODE flipped
};

class TdoFaults : public testing::TestWithParam<TdoCase> {};

// An IR scan, then three IDCODE reads, pin by pin on the chain.
TEST_P(TdoFaults, FlipTheBitsOfTheScanNamed)
{
    auto v = Cable(GetParam().Fault);
    sim::Chain& c = v->GetChain();
    Jtag j(c);
    j.Reset();
    j.Tms({0});
    j.Ir(Bits{1, 0, 0, 0}); // IDCODE
    const uint64_t good = 0x0ABC1DEF;
    for (int scan = 1; scan <= 3; ++scan) {
        uint64_t want = good;
        if (scan == GetParam().FlippedScan)
            want ^= sim::BitsToUint(GetParam().Flipped);
        EXPECT_EQ(sim::BitsToUint(j.Dr(Bits(32, 0))), want) << "read " << scan;
        EXPECT_EQ(c.LastScan().Faulty, scan == GetParam().FlippedScan);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TdoFaults,
    testing::Values(TdoCase{"ThirdScanOfAny", R"({"wrong_tdo": 3})", 2, sim::BitsFromUint(0xFFFFFFFF, 32)},
                    TdoCase{"SecondDrScanBitZero", R"({"wrong_tdo": {"scan": 2, "register": "dr", "bit": 0}})", 2,
                            sim::BitsFromUint(1, 32)},
                    TdoCase{"FirstDrScanLastBit", R"({"wrong_tdo": {"scan": 1, "register": "dr", "bit": 31}})", 1,
                            sim::BitsFromUint(0x80000000, 32)},
                    TdoCase{"IrScanOnly", R"({"wrong_tdo": {"scan": 2, "register": "ir"}})", 0, {}}),
    [](const testing::TestParamInfo<TdoCase>& info) { return std::string(info.param.Name); });

// The fault shows on the wire the way the cable reads it: through the
// Varnel's own sampling bytes.
TEST(TdoFaults, ReachTheHostThroughTheCableReplies)
{
    auto v = Cable(R"({"wrong_tdo": {"scan": 1, "bit": 0}})");
    ASSERT_TRUE(Write(*v, Cat({{0xA7, 0xA8, 0xB8, 0xCA, 0xEC}, TmsClocks({1, 1, 1, 1, 1, 0, 1, 0, 0})})));
    ASSERT_TRUE(Write(*v, {0xCA, 0xDE, 0x70}));
    const Bytes r = ReadAll(*v);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0] & 0x08, 0) << "bit 0 of 0x0ABC1DEF is 1, flipped";
    EXPECT_EQ(r[1] & 0x0F, 0x07) << "bits 1-4 untouched";
}

struct BadFaults {
    const char* Name;
    const char* Faults;
    const char* Message;
};

class FaultConfigErrors : public testing::TestWithParam<BadFaults> {};

TEST_P(FaultConfigErrors, AreRefused)
{
    try {
        sim::Faults::FromJson(json::parse(std::string(R"({"faults": )") + GetParam().Faults + "}"));
        FAIL() << "accepted";
    } catch (const sim::ConfigError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().Message), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FaultConfigErrors,
    testing::Values(BadFaults{"UnknownKey", R"({"unplugafter": 3})", "unknown key \"unplugafter\""},
                    BadFaults{"NotAnObject", R"([1])", "an object"},
                    BadFaults{"Negative", R"({"trickle": -1})", "negative"},
                    BadFaults{"BadProbe", R"({"probe": "late"})", "\"silent\" or \"wrong\""},
                    BadFaults{"ScanZero", R"({"wrong_tdo": 0})", "from 1"},
                    BadFaults{"BadRegister", R"({"wrong_tdo": {"scan": 1, "register": "bsr"}})", "\"ir\""},
                    BadFaults{"StaleByteTooLarge", R"({"stale_bytes": [256]})", "0 to 255"},
                    BadFaults{"HexTooLarge", R"({"reply_delay": "0x1FFFFFFFFFFFFFFFF"})", "too large"}),
    [](const testing::TestParamInfo<BadFaults>& info) { return std::string(info.param.Name); });

TEST(FaultConfig, NumbersComeAsIntegersOrHexText)
{
    const sim::Faults f = sim::Faults::FromJson(
        json::parse(R"({"faults": {"write_fail_after": "0x10", "unplug_after": "0b101", "reply_delay": 7}})"));
    EXPECT_EQ(f.WriteFailAfter.value_or(0), 16u);
    EXPECT_EQ(f.UnplugAfter.value_or(0), 5u);
    EXPECT_EQ(f.ReplyDelay, 7u);
    EXPECT_FALSE(f.ReadFailAfter.has_value());
    EXPECT_FALSE(sim::Faults::FromJson(json::object()).WriteFailAfter.has_value());
}

// A paced cable is busy with what it was written for the device time of
// it, each write queued behind the one before; FT_Write waits for that.
TEST(PacedCable, IsBusyForTheDeviceTimeOfEveryWriteQueuedBehindTheOneBefore)
{
    using namespace std::chrono;
    const Bytes wait(586, 0x80); // 586 waits of 512 periods of 3 MHz: 100 ms
    const nanoseconds waitTime(586LL * 512 * 1000 / 3);
    for (const char* members : {R"("paced": true)", R"("paced": false)", R"("paced": true, "fast": true)"}) {
        SCOPED_TRACE(members);
        VarnelProtocol v(json::parse(std::string(R"({"serial": "A6010002", )") + members + "}"));
        v.Opened();
        const auto before = steady_clock::now();
        ASSERT_TRUE(Write(v, wait));
        const auto first = v.BusyUntil();
        ASSERT_TRUE(Write(v, wait));
        const auto second = v.BusyUntil();
        if (std::string(members) != R"("paced": true)") {
            // Unpaced, or fast with no device time kept: never busy.
            EXPECT_EQ(first, steady_clock::time_point{});
            EXPECT_EQ(second, steady_clock::time_point{});
            continue;
        }
        EXPECT_GE(first - before, waitTime);
        EXPECT_LT(first - before, waitTime + seconds(1));
        EXPECT_GE(second - first, waitTime) << "queued behind the first";
    }
}

// As a real chip: a write returns once what the device has still to run
// fits into its input buffer, and a reply shows once the device has run
// the command that makes it.
TEST(PacedCable, TakesAWriteOnceItFitsIntoTheBufferAndRepliesAtTheDeviceTime)
{
    using namespace std::chrono;
    struct TCase {
        const char* Members;
        size_t Buffer;
    } const cases[] = {{"", 4096}, {R"(, "device_buffer": 1000)", 1000}, {R"(, "device_buffer": 0)", 0}};
    // 2000 waits of 512 periods of 3 MHz, each 170.7 us.
    const Bytes wait(2000, 0x80);
    const nanoseconds waitByte(512LL * 1000 / 3);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Members);
        VarnelProtocol v(json::parse(std::string(R"({"serial": "A6010002", "paced": true)") + c.Members + "}"));
        v.Opened();
        ASSERT_TRUE(Write(v, wait));
        const auto written = steady_clock::now();
        const auto returns = v.WriteReturnsAt();
        const auto done = v.BusyUntil();
        if (c.Buffer >= wait.size()) {
            EXPECT_EQ(returns, steady_clock::time_point{}) << "all of it fits";
        } else {
            // Within a piece of the bytes that leave Buffer to run.
            const auto runFirst = (wait.size() - c.Buffer) * waitByte;
            EXPECT_GE(returns - written + milliseconds(15), runFirst);
            EXPECT_LE(returns - written, runFirst + milliseconds(15));
            EXPECT_LE(returns, done);
        }
        // A probe's reply behind the waits: not there before they are run.
        ASSERT_TRUE(Write(v, {0xD1}));
        EXPECT_EQ(v.Available(), 0u);
        EXPECT_EQ(v.Unread(), 1u);
        std::this_thread::sleep_until(v.BusyUntil() + milliseconds(1));
        EXPECT_EQ(v.Available(), 1u);
    }
}

// The close says how busy the host kept the device: the device time run,
// and the time it had run everything and waited for the next write, from
// the open's first write to the close. Each bound is taken around the
// call that ends a gap, so a slow machine moves both.
TEST(PacedCable, CountsTheDeviceBusyAndIdleFromTheFirstWriteToTheClose)
{
    using namespace std::chrono;
    using dms = duration<double, std::milli>;
    // 300 waits of 512 periods of 3 MHz: 51.2 ms.
    const Bytes wait(300, 0x80);
    struct TCase {
        const char* Name;
        milliseconds BeforeFirst; // after the open: not idle yet
        milliseconds Gap;         // after the first write is run
    } const cases[] = {
        {"second write queued behind the first", milliseconds(0), milliseconds(-1)},
        {"second write 40 ms after the first is run", milliseconds(30), milliseconds(40)},
    };
    // One device opened once a case: each open counts only its own.
    VarnelProtocol v(json::parse(R"({"serial": "A6010002", "paced": true})"));
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        sim::TraceClear();
        v.Opened();
        std::this_thread::sleep_for(c.BeforeFirst);
        const uint64_t clockBefore = v.JtagChain()->Clock().Ns();
        ASSERT_TRUE(Write(v, wait));
        dms idleMin{0}, idleMax{0};
        if (c.Gap >= milliseconds(0))
            std::this_thread::sleep_until(v.BusyUntil() + c.Gap);
        const auto firstDone = v.BusyUntil();
        const auto beforeSecond = steady_clock::now();
        ASSERT_TRUE(Write(v, wait));
        const auto afterSecond = steady_clock::now();
        idleMin += std::max(dms(beforeSecond - firstDone), dms(0));
        idleMax += std::max(dms(afterSecond - firstDone), dms(0));
        std::this_thread::sleep_until(v.BusyUntil() + milliseconds(10));
        const auto secondDone = v.BusyUntil();
        const dms busy(nanoseconds(v.JtagChain()->Clock().Ns() - clockBefore));
        idleMin += dms(steady_clock::now() - secondDone);
        v.Closed();
        idleMax += dms(steady_clock::now() - secondDone);

        const std::vector<std::string> lines = TraceWith("varnel:A6010002 paced ");
        ASSERT_EQ(lines.size(), 1u);
        double busyMs = -1, idleMs = -1;
        ASSERT_EQ(std::sscanf(lines[0].c_str(), "varnel:A6010002 paced busy_ms=%lf idle_ms=%lf", &busyMs, &idleMs), 2)
            << lines[0];
        EXPECT_NEAR(busy.count(), 102.4, 0.5) << "the two writes' device time";
        EXPECT_NEAR(busyMs, busy.count(), 0.06);
        EXPECT_GE(idleMs, idleMin.count() - 0.06);
        EXPECT_LE(idleMs, idleMax.count() + 0.06);
        // The close line itself stays as it was, and comes last.
        ASSERT_FALSE(sim::TraceLines().empty());
        EXPECT_EQ(sim::TraceLines().back().rfind("varnel:A6010002 close written=", 0), 0u) << sim::TraceLines().back();
    }
    // No such line for an open that wrote nothing, nor when not paced.
    sim::TraceClear();
    v.Opened();
    v.Closed();
    VarnelProtocol plain(json::parse(R"({"serial": "A6010002"})"));
    plain.Opened();
    ASSERT_TRUE(Write(plain, wait));
    plain.Closed();
    EXPECT_TRUE(TraceWith(" paced ").empty());
}

TEST(PacedCable, TakesOnlyTrueOrFalse)
{
    EXPECT_THROW(VarnelProtocol(json::parse(R"({"paced": 1})")), sim::ConfigError);
    EXPECT_THROW(VarnelProtocol(json::parse(R"({"paced": true, "device_buffer": -1})")), sim::ConfigError);
}

} // namespace
