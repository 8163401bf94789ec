// One table of files over every cable kind there is: each file, played
// through OpenAndStart on each emulated cable, leaves the same chain
// history (scans, the stable states passed, register updates) as on the
// first cable. The timing of the scans and of the waits is each cable's own.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

#include "support/cable_files.h"
#include "support/xsvf_bytes.h"
#include "svf_play_fixture.h"
#include "xsvf/xsvf.h"

namespace {

using namespace exectest;

testing::Environment* const Svf = testing::AddGlobalTestEnvironment(new TRegisterSvf);

testing::Environment* const Xsvf = testing::AddGlobalTestEnvironment(new TRegisterXsvf);

class EveryCable : public TSvfPlayTest {
protected:
    void LoadCable(const std::string& Members) override
    {
        Load({Cable->Device(Members)});
        Exec->ClearLog();
        Exec->SelectedCable = Cable->Selected;
    }
    const TCable* Cable = nullptr;
};

TEST_F(EveryCable, PlaysEachFileWithTheSameChainHistory)
{
    for (const TCableFile& f : CableFiles()) {
        SCOPED_TRACE(f.Svf);
        std::vector<std::string> first;
        for (const TCable& cable : Cables) {
            SCOPED_TRACE(cable.Name);
            Cable = &cable;
            LoadCable(f.Chain);
            // The settings readers' defaults: every kind takes these waits.
            Exec->DefFreqRuntestTime = 2;
            Exec->DefFreqRuntestPuls = 3;
            Exec->RuntestRecalculate = 1;
            Exec->MirrowVddMin = 18;
            Exec->MirrowVddMax = 55;
            EXPECT_EQ(PlayToEnd(f.Svf), FileStatus::Succeeded) << testing::PrintToString(LogOf(MessageKind::Error));
            const std::vector<std::string> history = ChainHistory(Sim->Trace());
            EXPECT_THAT(history, testing::Contains(testing::StartsWith("scan ")));
            if (&cable == &Cables[0])
                first = history;
            else
                EXPECT_EQ(history, first);
            EXPECT_THAT(TraceWith(" error "), testing::IsEmpty());
        }
    }
    // Without the vendor files only the examples have played.
    ORBESK_SKIP_WITHOUT_VENDOR_SAMPLES();
}

// The writes a long run makes on each cable: one per full output buffer and
// one per flush the player asks for (in SVF each in-loop ENDLOOP), beyond
// what a run of an empty file of the same kind writes (the open, the opening
// reset, the end), however many statements there are.
TEST_F(EveryCable, WritesOncePerFullBufferAndOncePerFlushAskedFor)
{
    constexpr int Passes = 40;
    std::string svf = "LOOP " + std::to_string(Passes) + ";\nSIR 4 TDI (E) TDO (F);\nRUNTEST 10 TCK;\nENDLOOP;\n";
    for (int i = 0; i < 3000; ++i)
        svf += "SIR 4 TDI (1);\nSDR 32 TDI (0000" + std::to_string(1000 + i) + ") TDO (FFFFFFFF);\nRUNTEST 10 TCK;\n";
    svf += "SDR 200000 TDI (5) TDO (1) MASK (1);\n";
    xsvftest::TXsvf xsvf;
    xsvf.RunTest(10).SdrSize(32).TdoMask(0xFFFFFFFF);
    for (uint32_t i = 0; i < 3000; ++i)
        xsvf.Sir(4, 1).SdrTdo(1000 + i, 0xFFFFFFFF);
    xsvf.Complete();
    const struct {
        const char* Name;
        std::string Empty;
        std::string Long;
        uint64_t Flushes; // asked for by the long file, beyond the empty one's
    } files[] = {
        {"run.svf", "", svf, Passes - 1},
        {"run.xsvf", xsvftest::TXsvf().Complete().Bytes(), xsvf.Bytes(), 0},
    };
    for (const auto& f : files) {
        for (const TCable& cable : Cables) {
            SCOPED_TRACE(std::string(f.Name) + " on " + cable.Name);
            Cable = &cable;
            // FT_Write calls and bytes written by a run of the text.
            const auto run = [&](const std::string& Text) -> std::pair<uint64_t, uint64_t> {
                LoadCable("\"fast\":true");
                Exec->DefFreqRuntestTime = 2;
                Exec->DefFreqRuntestPuls = 3;
                Exec->MirrowVddMin = 18;
                Exec->MirrowVddMax = 55;
                EXPECT_EQ(Play(Text, f.Name), FileStatus::Succeeded) << testing::PrintToString(LogOf(MessageKind::Error));
                // The run's close is the last (the search opens the device too).
                const std::vector<std::string> close = TraceWith(" close written=");
                EXPECT_FALSE(close.empty());
                const uint64_t written =
                    close.empty() ? 0 : std::stoull(close.back().substr(close.back().find("written=") + 8));
                return {Sim->Counter("FT_Write"), written};
            };
            const auto [emptyWrites, emptyBytes] = run(f.Empty);
            const auto [writes, bytes] = run(f.Long);
            const uint64_t fullBuffers = (bytes - emptyBytes) / OutBufferSize;
            EXPECT_GT(fullBuffers, 10u) << "the file fills the buffer many times";
            EXPECT_LE(writes - emptyWrites, fullBuffers + 1 + f.Flushes) << bytes << " bytes";
        }
    }
}

// A file replaced or written between its check and its run (a long cable
// search leaves seconds for it) is refused before anything of it reaches
// the chain: what played would not be what was checked.
TEST_F(EveryCable, AFileChangedAfterItsCheckIsRefusedAndNothingPlays)
{
    const std::string goodSvf = "STATE RESET;\nSIR 8 TDI (01);\nSDR 32 TDI (00000000);\n";
    const std::string goodXsvf = xsvftest::TXsvf().Sir(8, 1).SdrSize(32).Sdr(0).Complete().Bytes();
    struct TCase {
        const char* Why;
        const char* Name;
        const std::string* Good;
        bool Replace; // by another file under the name, else written in place
    };
    const TCase cases[] = {
        {"SVF replaced", "run.svf", &goodSvf, true},
        {"SVF written in place", "run.svf", &goodSvf, false},
        {"XSVF replaced", "run.xsvf", &goodXsvf, true},
        {"XSVF written in place", "run.xsvf", &goodXsvf, false},
    };
    Cable = &Cables[0];
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        LoadCable("");
        const std::filesystem::path path = Folder / c.Name;
        std::ofstream(path, std::ios::binary) << *c.Good;
        ASSERT_TRUE(Exec->PrepareFile(path.string()));
        if (c.Replace) {
            const std::filesystem::path other = Folder / "other";
            std::ofstream(other, std::ios::binary) << *c.Good;
            std::filesystem::rename(other, path);
        } else {
            std::ofstream(path, std::ios::binary | std::ios::app) << *c.Good;
        }
        EXPECT_FALSE(Exec->OpenAndStart(path.string()));
        Exec->CloseCable(true);
        EXPECT_THAT(LogOf(MessageKind::Error),
                    testing::Contains(testing::HasSubstr("changed after it was checked")));
        EXPECT_THAT(TraceWith(" scan "), testing::IsEmpty());
        EXPECT_EQ(Exec->CurrentFile, nullptr);
    }
}

} // namespace
