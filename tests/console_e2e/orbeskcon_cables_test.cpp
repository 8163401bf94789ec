// orbeskcon as a process over one table of files and every cable kind
// there is: each file plays with status 0 and leaves the same chain
// history on each cable as on the first.
#include <gmock/gmock.h>

#include "support/cable_files.h"
#include "e2e_fixture.h"

namespace {

using namespace e2e;

struct TCable {
    const char* Name;
    std::string (*Device)(const std::string& Serial, const std::string& Extra);
    const char* Serial;
    std::vector<std::string> Args; // the kind option
};

const TCable Cables[] = {
    {"VARNEL", Varnel, "A6010001", {}},
    {"DRUVEL", Druvel, "A6123456", {"-druvel"}},
    {"MIRROW", Mirrow, "A6040001", {"-mirrow"}},
};

using OrbeskconOnEveryCable = TOrbeskconTest;

TEST_F(OrbeskconOnEveryCable, PlaysEachFileWithTheSameChainHistory)
{
    for (const TCableFile& f : CableFiles()) {
        SCOPED_TRACE(f.Svf);
        std::vector<std::string> first;
        for (const TCable& cable : Cables) {
            SCOPED_TRACE(cable.Name);
            ScenarioText = Scenario({cable.Device(cable.Serial, f.Chain)});
            std::filesystem::remove(TracePath);
            std::vector<std::string> args = cable.Args;
            args.push_back(f.Svf);
            const TRunResult r = Run(args);
            EXPECT_EQ(r.Status, 0) << r.Out;
            EXPECT_THAT(r.OutLines(), testing::Contains(std::string("Using ") + cable.Name + " S/N " + cable.Serial));
            ASSERT_FALSE(r.OutLines().empty());
            EXPECT_EQ(r.OutLines().back(), SuccessLine);
            const std::vector<std::string> history = ChainHistory(Trace());
            EXPECT_THAT(history, testing::Contains(testing::StartsWith("scan ")));
            if (&cable == &Cables[0])
                first = history;
            else
                EXPECT_EQ(history, first);
        }
    }
}

} // namespace
