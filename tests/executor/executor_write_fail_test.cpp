// A write that fails, at every point of a short run, on every cable kind:
// the run ends as failed and never hangs, and it succeeds only when every
// scan reached the chain. Each run fails one write of the emulated cable
// ("write_fail_after"); the sweep goes from the first write to the last by
// the emulator's own account of the write that failed.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstdio>

#include "support/xsvf_bytes.h"
#include "svf_play_fixture.h"
#include "xsvf/xsvf.h"

namespace {

using namespace exectest;
using xsvftest::TXsvf;

testing::Environment* const Svf = testing::AddGlobalTestEnvironment(new TRegisterSvf);

testing::Environment* const Xsvf = testing::AddGlobalTestEnvironment(new TRegisterXsvf);

const char* const Chain = R"("chain":[{"name":"only","ir_length":8,"idcode":{"opcode":1,"value":"0xF6E5F093"}}])";

struct TFile {
    const char* Why;
    const char* Name;
    std::string Text;
};

// An IDCODE read, a wait, and an instruction that nobody reads back at the
// end, as programming files end.
std::vector<TFile> ShortFiles()
{
    const TXsvf idcode = TXsvf().Sir(8, 1).SdrSize(32).TdoMask(0xFFFFFFFF).SdrTdo(0, 0xF6E5F093);
    return {
        {"SVF", "run.svf",
         "STATE RESET;\nSTATE IDLE;\nSIR 8 TDI (01);\nSDR 32 TDI (00000000) TDO (F6E5F093);\n"
         "RUNTEST 1000 TCK;\nSIR 8 TDI (FF);\nSTATE IDLE;\n"},
        {"XSVF pipelined", "run.xsvf",
         TXsvf().State(0).Then(idcode).RunTest(1000).Sir(8, 0xFF).Complete().Bytes()},
        {"XSVF by the XC9500 method", "run.xsvf",
         TXsvf().Repeat(3).State(0).Then(idcode).RunTest(1000).Sir(8, 0xFF).Complete().Bytes()},
        {"XSVF without a read-back", "run.xsvf", TXsvf().State(0).RunTest(1000).Sir(8, 0xFF).Complete().Bytes()},
    };
}

class WriteFail : public TSvfPlayTest {
protected:
    void LoadCable(const std::string& Members) override
    {
        Load({Cable->Device(std::string(Chain) + (Members.empty() ? "" : "," + Members))});
        Exec->ClearLog();
        Exec->SelectedCable = Cable->Selected;
        Exec->DefFreq = 15; // few filler bytes on the Mirrow
        Exec->DefFreqRuntestTime = 2;
        Exec->DefFreqRuntestPuls = 3;
        Exec->RuntestRecalculate = 1;
        Exec->MirrowVddMin = 18;
        Exec->MirrowVddMax = 55;
    }

    // The scans that reached the chain, without their clock.
    std::vector<std::string> Scans()
    {
        std::vector<std::string> scans;
        for (std::string line : TraceWith(" scan ")) {
            line.erase(0, line.find(" scan ") + 1);
            line.erase(std::min(line.find(" tck_min_ns="), line.size()));
            scans.push_back(line);
        }
        return scans;
    }

    // Plays Text as PlayToEnd does; FailedInRun: a write failed before
    // the run ended (not the closing bytes after it).
    FileStatus PlayFile(const TFile& File, bool& FailedInRun)
    {
        const std::string path = (Folder / File.Name).string();
        std::ofstream(path) << File.Text;
        FailedInRun = false;
        if (!Exec->OpenAndStart(path)) {
            FailedInRun = !TraceWith(" fault write-failed ").empty();
            return FileStatus::Failed;
        }
        const FileStatus status = WaitToEnd(std::chrono::seconds(30));
        FailedInRun = !TraceWith(" fault write-failed ").empty();
        Exec->CloseCable(status != FileStatus::Succeeded);
        Exec->CurrentFile.reset();
        return status;
    }

    const TCable* Cable = nullptr;
};

TEST_F(WriteFail, AtEveryWriteTheRunFailsAndSucceedsOnlyWhenEveryScanGotThere)
{
    for (const TFile& f : ShortFiles()) {
        for (const TCable& cable : Cables) {
            SCOPED_TRACE(std::string(f.Why) + " on " + cable.Name);
            Cable = &cable;
            LoadCable("");
            ASSERT_EQ(Play(f.Text, f.Name), FileStatus::Succeeded) << testing::PrintToString(LogOf(MessageKind::Error));
            const std::vector<std::string> clean = Scans();
            ASSERT_FALSE(clean.empty());

            int runs = 0;
            int runsThatPlayed = 0;
            for (uint64_t after = 0;; ++runs) {
                SCOPED_TRACE("write_fail_after " + std::to_string(after));
                ASSERT_LT(runs, 2000) << "the sweep does not end";
                LoadCable("\"faults\":{\"write_fail_after\":" + std::to_string(after) + "}");
                bool failedInRun = false;
                const FileStatus status = PlayFile(f, failedInRun);
                const std::vector<std::string> failed = TraceWith(" fault write-failed ");
                if (status == FileStatus::Succeeded) {
                    EXPECT_EQ(Scans(), clean) << "a run that succeeded put every scan on the chain";
                }
                if (failed.empty())
                    break;
                // The next sweep point lets this write through.
                unsigned long long written = 0, count = 0;
                const std::string& line = failed.front();
                ASSERT_EQ(std::sscanf(line.c_str() + line.find("written="), "written=%llu count=%llu", &written,
                                      &count),
                          2)
                    << line;
                ASSERT_GT(written + count, after);
                after = written + count;
                if (!failedInRun)
                    continue; // the closing bytes, after the run had ended
                EXPECT_EQ(status, FileStatus::Failed);
                if (testing::Value(LogOf(MessageKind::Info), testing::Contains(testing::StartsWith("Using ")))) {
                    // Past the open: the run itself says why it failed.
                    ++runsThatPlayed;
                    EXPECT_THAT(LogOf(MessageKind::Error), testing::Contains(testing::StartsWith("USB ")));
                }
            }
            EXPECT_GT(runsThatPlayed, 0) << "some write of the run itself failed";
        }
    }
}

TEST_F(WriteFail, AnXc9500CommandThatFailsLeavesTheChainAtRest)
{
    // The device never matches: after the last attempt the command's walk
    // out and wait still reach the chain before the cable closes.
    const std::string file =
        TXsvf().Repeat(2).State(0).Sir(8, 1).SdrSize(32).TdoMask(0xFFFFFFFF).SdrTdo(0, 0x12345678).Complete().Bytes();
    for (const TCable& cable : Cables) {
        SCOPED_TRACE(cable.Name);
        Cable = &cable;
        LoadCable("");
        EXPECT_EQ(Play(file, "run.xsvf"), FileStatus::Failed);
        EXPECT_THAT(LogOf(MessageKind::Error), testing::Contains("XSDRTDO operation failed after maximum retries"));
        EXPECT_EQ(TraceWith(" scan dr ").size(), 3u) << "both attempts and the walk out updated the register";
        const std::vector<std::string> closed = TraceWith(" at=close");
        ASSERT_FALSE(closed.empty());
        EXPECT_THAT(closed.back(), testing::HasSubstr(" stay IDLE ")) << "the run's session closed in Run-Test/Idle";
    }
}

// A write that fails anywhere in a retry run is the cable's failure, said
// once: never read as the device's failure to verify.
TEST_F(WriteFail, AWriteFailingInAnXc9500RetryRunIsOneUsbErrorAndNoFailedVerification)
{
    const auto neverMatches = [](uint32_t WaitUs) {
        return TXsvf().Repeat(3).State(0).Sir(8, 1).SdrSize(32).TdoMask(0xFFFFFFFF).RunTest(WaitUs)
            .SdrTdo(0, 0x12345678).Complete().Bytes();
    };
    const TFile files[] = {
        {"a device that never matches", "run.xsvf", neverMatches(1000)},
        // A retry's wait grown past 100 ms of device time is written in the
        // walk between attempts, not only by an attempt's own flush.
        {"retry waits written in the walk", "run.xsvf", neverMatches(60000)},
    };
    const std::string retries = "XSDRTDO operation failed after maximum retries";
    for (const TFile& f : files)
    for (const TCable& cable : Cables) {
        SCOPED_TRACE(std::string(f.Why) + " on " + cable.Name);
        Cable = &cable;
        int cut = 0;
        for (uint64_t after = 0;;) {
            SCOPED_TRACE("write_fail_after " + std::to_string(after));
            ASSERT_LT(cut, 2000) << "the sweep does not end";
            LoadCable("\"faults\":{\"write_fail_after\":" + std::to_string(after) + "}");
            bool failedInRun = false;
            EXPECT_EQ(PlayFile(f, failedInRun), FileStatus::Failed);
            const std::vector<std::string> failed = TraceWith(" fault write-failed ");
            if (failed.empty())
                break;
            const std::vector<std::string> errors = LogOf(MessageKind::Error);
            const auto isUsb = [](const std::string& Line) { return Line.starts_with("USB communication error"); };
            EXPECT_LE(std::count_if(errors.begin(), errors.end(), isUsb), 1) << testing::PrintToString(errors);
            const auto usb = std::find_if(errors.begin(), errors.end(), isUsb);
            EXPECT_EQ(std::find(usb, errors.end(), retries), errors.end()) << "a cable failure read as a mismatch";
            unsigned long long written = 0, count = 0;
            const std::string& line = failed.front();
            ASSERT_EQ(std::sscanf(line.c_str() + line.find("written="), "written=%llu count=%llu", &written, &count),
                      2)
                << line;
            ASSERT_GT(written + count, after);
            after = written + count;
            ++cut;
        }
        EXPECT_GT(cut, 3) << "writes of the run itself failed";
    }
}

} // namespace
