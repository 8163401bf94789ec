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

} // namespace
