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
    // Without the vendor files only the examples have played.
    ORBESK_SKIP_WITHOUT_VENDOR_SAMPLES();
}

// The search lock's folder comes from the environment: every test run has
// its own (the test programs' main sets one), and a program of a test never
// meets the machine's lock.
TEST_F(OrbeskconOnEveryCable, TheSearchLockIsInTheFolderTheEnvironmentNames)
{
    ScenarioText = Scenario({Varnel("A6010001", TwoDevices)});
    const std::string svf = Write("run.svf", IdcodeSvf(true));
    const std::string absent = Folder + "/no-such-folder";
    ExtraEnvironment["ORBESK_SEARCH_LOCK_DIR"] = absent;
    TRunResult r = Run({svf});
    EXPECT_THAT(r.OutLines(),
                testing::Contains("The JTAG cable search lock " + absent + "/FTDI_KALDOR_SEARCH.lock cannot be made."));
    EXPECT_NE(r.Status, 0);

    const char* own = std::getenv("ORBESK_SEARCH_LOCK_DIR");
    ASSERT_NE(own, nullptr) << "the test program's main names no folder";
    EXPECT_NE(std::string(own), "/tmp");
    ExtraEnvironment.clear();
    r = Run({svf});
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_TRUE(std::filesystem::exists(std::string(own) + "/FTDI_KALDOR_SEARCH.lock"));
}

} // namespace
