// orbeskcon playing XSVF files on each emulated cable: a good file, a
// mismatching one, an XC9500-style file whose retry succeeds, and the
// chain's own clock showing every XRUNTEST wait in full. Each cable is one
// row of the table; the program itself is the same for all.
#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "e2e_fixture.h"
#include "support/xsvf_bytes.h"

namespace {

using namespace e2e;
using testing::Contains;
using testing::ElementsAre;
using xsvftest::TXsvf;

struct TCableRow {
    const char* Name;
    // The device entry of the scenario, with the chain and faults given.
    std::string (*Device)(const std::string& Members);
    std::vector<std::string> Args; // options that choose the cable
    std::string UsingLine;
};

const TCableRow Cables[] = {
    {"Varnel", [](const std::string& Members) { return Varnel("A6010001", Members); }, {}, "Using VARNEL S/N A6010001"},
    {"Mirrow", [](const std::string& Members) { return Mirrow("A6040001", Members); }, {"-mirrow"},
     "Using MIRROW S/N A6040001"},
    {"Druvel", [](const std::string& Members) { return Druvel("A6123456", Members); }, {"-druvel"},
     "Using DRUVEL S/N A6123456"},
};

// Both IDCODEs of TwoDevices (IR 4 + 8 bits, IDCODE at opcode 1 in each).
TXsvf ReadIdCodes(uint64_t Expected)
{
    return TXsvf().State(0).State(1).Sir(12, 0x101).SdrSize(64).TdoMask(~uint64_t{0}).SdrTdo(0, Expected);
}
constexpr uint64_t IdCodes = 0x123450930ABC1DEFull;

class OrbeskconPlaysXsvf : public TOrbeskconTest, public testing::WithParamInterface<TCableRow> {
protected:
    TRunResult Play(const TXsvf& File, const std::string& Faults = "")
    {
        ScenarioText =
            Scenario({GetParam().Device(TwoDevices + (Faults.empty() ? "" : ",\"faults\":{" + Faults + "}"))});
        FilePath = Write("run.xsvf", File.Bytes());
        std::vector<std::string> args = GetParam().Args;
        args.push_back(FilePath);
        return Run(args);
    }

    // The lines after "Reading file", less the cable's own notes; the
    // cable in use named before it.
    std::vector<std::string> PlayerLines(const TRunResult& Result) const
    {
        const std::vector<std::string> lines = Result.OutLines();
        const auto reading = std::find(lines.begin(), lines.end(), "Reading file " + FilePath);
        EXPECT_NE(reading, lines.end()) << Result.Out;
        EXPECT_THAT(std::vector<std::string>(lines.begin(), reading), Contains(GetParam().UsingLine));
        std::vector<std::string> rest;
        for (auto it = reading == lines.end() ? reading : reading + 1; it != lines.end(); ++it)
            if (!it->starts_with("Info: "))
                rest.push_back(*it);
        return rest;
    }

    // Device time of each stay of the chain in Run-Test/Idle, in ns.
    std::vector<unsigned long long> IdleStays() const
    {
        std::vector<unsigned long long> stays;
        for (const std::string& line : TraceWith(" stay IDLE ")) {
            unsigned long long cycles = 0, ns = 0;
            const size_t at = line.find("cycles=");
            if (at != std::string::npos && std::sscanf(line.c_str() + at, "cycles=%llu ns=%llu", &cycles, &ns) == 2)
                stays.push_back(ns);
        }
        return stays;
    }

    std::string FilePath;
};

TEST_P(OrbeskconPlaysXsvf, AGoodFileEndsWithStatusZeroAndAMismatchWithOne)
{
    const TRunResult good = Play(TXsvf(ReadIdCodes(IdCodes)).Complete());
    EXPECT_THAT(PlayerLines(good), ElementsAre(SuccessLine));
    EXPECT_EQ(good.Err, "");
    EXPECT_EQ(good.Status, 0);

    const TRunResult bad = Play(TXsvf(ReadIdCodes(IdCodes ^ 1)).Complete());
    // The failure says why: the scan, its expected and its read bits.
    const std::vector<std::string> lines = PlayerLines(bad);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Error on SD instruction: ");
    EXPECT_EQ(lines[1].rfind("Expected: 0111 ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("Read:     1111 ", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3], FailureLine);
    EXPECT_EQ(bad.Status, 1);
}

TEST_P(OrbeskconPlaysXsvf, AnXc9500FileWhoseFirstAttemptFailsSucceedsOnTheRetry)
{
    // The chain inverts what the first DR scan sends out; the retry is a
    // new scan through Capture-DR and reads the right value.
    const TRunResult r = Play(TXsvf().Repeat(8).RunTest(1000).Then(ReadIdCodes(IdCodes)).Complete(),
                              "\"wrong_tdo\":{\"scan\":1,\"register\":\"dr\"}");
    EXPECT_THAT(PlayerLines(r), ElementsAre("Warning: Using XC9500/XL/XV programming method.",
                                            "SD instruction: retry #1 with 1500us", SuccessLine));
    EXPECT_EQ(r.Status, 0);
    const std::vector<std::string> scans = TraceWith(" scan dr ");
    ASSERT_EQ(scans.size(), 2u);
    EXPECT_THAT(scans[0], testing::HasSubstr("fault=tdo"));
    EXPECT_THAT(scans[1], testing::Not(testing::HasSubstr("fault=tdo")));
}

TEST_P(OrbeskconPlaysXsvf, TheChainWaitsAtLeastEachRunTestTimeOnItsOwnClock)
{
    const TRunResult r = Play(TXsvf()
                                  .RunTest(2000)
                                  .Sir(12, 0x101)
                                  .RunTest(50000)
                                  .SdrSize(64)
                                  .Sdr(0)
                                  .RunTest(0)
                                  .Sdr(0)
                                  .Complete());
    EXPECT_EQ(r.Status, 0) << r.Out;
    const std::vector<unsigned long long> stays = IdleStays();
    EXPECT_THAT(stays, Contains(testing::Ge(2000000ull)));
    unsigned long long longest = 0;
    for (unsigned long long ns : stays)
        longest = std::max(longest, ns);
    EXPECT_GE(longest, 50000000ull);
    // The waits in the order of the file: the one after XSIR, then XSDR's.
    std::vector<unsigned long long> waits;
    for (unsigned long long ns : stays)
        if (ns >= 1000000ull)
            waits.push_back(ns);
    ASSERT_EQ(waits.size(), 2u) << testing::PrintToString(stays);
    EXPECT_GE(waits[0], 2000000ull);
    EXPECT_GE(waits[1], 50000000ull);
}

TEST_P(OrbeskconPlaysXsvf, AFileThePreScanRefusesNeverTouchesTheChain)
{
    const TRunResult r = Play(TXsvf().Sir(12, 0x101).Raw({0x17}));
    EXPECT_THAT(r.OutLines(), ElementsAre("Fatal error \"Unknown command 17\""));
    EXPECT_EQ(r.Status, 2);
    // Refused before any cable was looked for.
    EXPECT_THAT(TraceWith("d2xx open"), testing::IsEmpty());
}

TEST_P(OrbeskconPlaysXsvf, AFailingLastWriteEndsTheRunAsFailedAtOnce)
{
    // Files end with commands nobody reads back (the instruction after the
    // wait), or with a scan whose read-back waits for the last write.
    const struct {
        const char* Why;
        TXsvf File;
    } files[] = {
        {"nothing read back", TXsvf().State(0).RunTest(1000).Sir(12, 0xFFF).Complete()},
        {"a read-back owed", TXsvf(ReadIdCodes(IdCodes)).Complete()},
        {"by the XC9500 method", TXsvf().Repeat(2).Then(ReadIdCodes(IdCodes)).RunTest(1000).Sir(12, 0xFFF).Complete()},
    };
    // The bytes each kind writes at its close, after the run.
    const std::string kind = GetParam().Name;
    const uint64_t closing = kind == "Varnel" ? 4 : kind == "Mirrow" ? 15 : 0;
    for (const auto& f : files) {
        SCOPED_TRACE(f.Why);
        auto started = std::chrono::steady_clock::now();
        const TRunResult clean = Play(f.File);
        const auto cleanTime = std::chrono::steady_clock::now() - started;
        ASSERT_EQ(clean.Status, 0) << clean.Out;
        const std::vector<std::string> closes = TraceWith(" close written=");
        ASSERT_FALSE(closes.empty());
        const uint64_t written = std::stoull(closes.back().substr(closes.back().find("written=") + 8));

        // The run's last write, the one that XCOMPLETE asks for, fails.
        const size_t faultsBefore = TraceWith(" fault write-failed ").size();
        started = std::chrono::steady_clock::now();
        const TRunResult r = Play(f.File, "\"write_fail_after\":" + std::to_string(written - closing - 1));
        const auto failedTime = std::chrono::steady_clock::now() - started;
        EXPECT_THAT(TraceWith(" fault write-failed "), testing::SizeIs(faultsBefore + 1));
        const std::vector<std::string> lines = PlayerLines(r);
        EXPECT_THAT(lines, Contains(testing::StartsWith("USB ")));
        EXPECT_THAT(lines, testing::Not(Contains(SuccessLine)));
        EXPECT_EQ(lines.back(), FailureLine);
        EXPECT_EQ(r.Status, 1);
        // Generous: the failed run ends about as soon as the good one.
        EXPECT_LT(failedTime, cleanTime + std::chrono::seconds(3));
    }
}

INSTANTIATE_TEST_SUITE_P(Cables, OrbeskconPlaysXsvf, testing::ValuesIn(Cables),
                         [](const testing::TestParamInfo<TCableRow>& Info) { return std::string(Info.param.Name); });

} // namespace
