// One table of files over every cable kind there is: each file, played
// through OpenAndStart on each emulated cable, leaves the same chain
// history (scans, the stable states passed, register updates) as on the
// first cable. The timing of the scans and of the waits is each cable's own.
#include <gmock/gmock.h>

#include <functional>

#include "support/cable_files.h"
#include "svf_play_fixture.h"

namespace {

using namespace exectest;

testing::Environment* const Svf = testing::AddGlobalTestEnvironment(new TRegisterSvf);

struct TCable {
    const char* Name;
    std::function<std::string(const std::string& Members)> Device;
    int32_t Selected;
};

const TCable Cables[] = {
    {"Varnel", [](const std::string& M) { return Varnel("A6010001", M); }, 0x00010001},
    {"Druvel", [](const std::string& M) { return Druvel("A6123456", M); }, 0x7B123456},
    {"Mirrow", [](const std::string& M) { return Mirrow("A6040001", M); }, 0x02040001},
};

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
}

// The writes a long run makes on each cable: one per full output buffer and
// one per flush the player asks for (each in-loop ENDLOOP), beyond what a
// run of an empty file writes (the open, the opening reset, the end),
// however many statements there are.
TEST_F(EveryCable, WritesOncePerFullBufferAndOncePerFlushAskedFor)
{
    constexpr int Passes = 40;
    std::string svf = "LOOP " + std::to_string(Passes) + ";\nSIR 4 TDI (E) TDO (F);\nRUNTEST 10 TCK;\nENDLOOP;\n";
    for (int i = 0; i < 3000; ++i)
        svf += "SIR 4 TDI (1);\nSDR 32 TDI (0000" + std::to_string(1000 + i) + ") TDO (FFFFFFFF);\nRUNTEST 10 TCK;\n";
    svf += "SDR 200000 TDI (5) TDO (1) MASK (1);\n";
    for (const TCable& cable : Cables) {
        SCOPED_TRACE(cable.Name);
        Cable = &cable;
        // FT_Write calls and bytes written by a run of the text.
        const auto run = [&](const std::string& Text) -> std::pair<uint64_t, uint64_t> {
            LoadCable("\"fast\":true");
            Exec->DefFreqRuntestTime = 2;
            Exec->DefFreqRuntestPuls = 3;
            Exec->MirrowVddMin = 18;
            Exec->MirrowVddMax = 55;
            EXPECT_EQ(Play(Text), FileStatus::Succeeded) << testing::PrintToString(LogOf(MessageKind::Error));
            // The run's close is the last (the search opens the device too).
            const std::vector<std::string> close = TraceWith(" close written=");
            EXPECT_FALSE(close.empty());
            const uint64_t written =
                close.empty() ? 0 : std::stoull(close.back().substr(close.back().find("written=") + 8));
            return {Sim->Counter("FT_Write"), written};
        };
        const auto [emptyWrites, emptyBytes] = run("");
        const auto [writes, bytes] = run(svf);
        const uint64_t fullBuffers = (bytes - emptyBytes) / OutBufferSize;
        EXPECT_GT(fullBuffers, 10u) << "the file fills the buffer many times";
        EXPECT_LE(writes - emptyWrites, fullBuffers + 1 + (Passes - 1)) << bytes << " bytes";
    }
}

} // namespace
