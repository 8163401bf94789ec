// One table of files over every cable kind there is: each file, played
// through OpenAndStart on each emulated cable, leaves the same chain
// history (scans, the stable states passed, register updates) as on the
// first cable. The timing of the scans and of the waits is each cable's own.
#include <gmock/gmock.h>

#include <fstream>
#include <functional>

#include <nlohmann/json.hpp>

#include "support/vendor_samples.h"
#include "svf_play_fixture.h"

namespace {

using namespace exectest;
using nlohmann::json;

testing::Environment* const Svf = testing::AddGlobalTestEnvironment(new TRegisterSvf);

struct TCable {
    const char* Name;
    std::function<std::string(const std::string& Members)> Device;
    int32_t Selected;
};

const TCable Cables[] = {
    {"Varnel", [](const std::string& M) { return Varnel("A6010001", M); }, 0x00010001},
    {"Druvel", [](const std::string& M) { return Druvel("A6123456", M); }, 0x7B123456},
};

json ReadJson(const std::string& Path)
{
    std::ifstream in(Path);
    EXPECT_TRUE(in.good()) << Path;
    return json::parse(in);
}

// The members of a chain file (tests/sim/chains), or of the one device of
// an example's scenario without its USB identity, as text for a device.
std::string ChainMembers(json Object)
{
    if (Object.contains("devices"))
        Object = Object.at("devices").at(0);
    for (const char* key : {"vid", "pid", "serial", "description", "kind"})
        Object.erase(key);
    const std::string text = Object.dump();
    return text.substr(1, text.size() - 2);
}

struct TFile {
    std::string Svf;
    std::string Chain;
};

std::vector<TFile> Files()
{
    std::vector<TFile> files;
    for (const char* example : {"read_idcodes", "program_memory"}) {
        const std::string base = std::string(ORBESK_EXAMPLES_DIR) + "/" + example;
        files.push_back({base + ".svf", ChainMembers(ReadJson(base + ".json"))});
    }
    for (const TVendorSample& s : VendorSamples)
        files.push_back({std::string(ORBESK_SAMPLES_DIR) + "/" + s.Sample,
                         ChainMembers(ReadJson(std::string(ORBESK_SIM_CHAINS_DIR) + "/" + s.Chain))});
    return files;
}

class EveryCable : public TSvfPlayTest {
protected:
    // The chain's own lines without the cable's name and the scans' TCK
    // periods.
    std::vector<std::string> History()
    {
        std::vector<std::string> history;
        for (std::string line : Sim->Trace()) {
            const size_t space = line.find(' ');
            if (space == std::string::npos)
                continue;
            line = line.substr(space + 1);
            if (!line.starts_with("scan ") && !line.starts_with("state ") && !line.starts_with("dev="))
                continue;
            if (const size_t tck = line.find(" tck_min_ns="); tck != std::string::npos) {
                const size_t end = line.find(' ', line.find(" tck_max_ns=") + 1);
                line.erase(tck, end == std::string::npos ? std::string::npos : end - tck);
            }
            history.push_back(line);
        }
        return history;
    }
};

TEST_F(EveryCable, PlaysEachFileWithTheSameChainHistory)
{
    for (const TFile& f : Files()) {
        SCOPED_TRACE(f.Svf);
        std::vector<std::string> first;
        for (const TCable& cable : Cables) {
            SCOPED_TRACE(cable.Name);
            Load({cable.Device(f.Chain)});
            Exec->ClearLog();
            Exec->SelectedCable = cable.Selected;
            // The settings readers' defaults: every kind takes these waits.
            Exec->DefFreqRuntestTime = 2;
            Exec->DefFreqRuntestPuls = 3;
            Exec->RuntestRecalculate = 1;
            EXPECT_EQ(PlayToEnd(f.Svf), FileStatus::Succeeded) << testing::PrintToString(LogOf(MessageKind::Error));
            const std::vector<std::string> history = History();
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
