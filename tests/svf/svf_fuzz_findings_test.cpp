// Every input that the player fuzz targets ever found a fault with, kept in
// fuzz/regressions/, played again and judged as the fuzz targets judge it.
// The faults themselves are cases of the tests of their part.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "support/svf_playcheck.h"
#include "xsvf/xsvf.h"

namespace {

namespace fs = std::filesystem;

// Judges every file of the kept findings' folders; the number judged.
int JudgeFolders(std::initializer_list<const char*> Folders,
                 const std::function<std::unique_ptr<TJtagFile>(const std::string&)>& Open, bool EndStable)
{
    int judged = 0;
    for (const char* folder : Folders) {
        const fs::path dir = fs::path(ORBESK_FUZZ_REGRESSIONS) / folder;
        if (!fs::is_directory(dir))
            continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            ++judged;
            std::unique_ptr<TJtagFile> player;
            try {
                player = Open(entry.path().string());
            } catch (const Exception&) {
                continue; // refused before any cable call
            }
            svftest::TFakeCable cable;
            EXPECT_EQ(svftest::JudgeStarted(*player, entry.path().string(), cable, svftest::JudgeBudget, EndStable), "") << entry.path();
        }
    }
    return judged;
}

TEST(SvfFuzzFindings, PlayOrFailCleanly)
{
    const int judged = JudgeFolders(
        {"svf_lexer", "svf_parser", "svf_player"},
        [](const std::string& Path) { return std::make_unique<TSVFFile>(Path); }, true);
    EXPECT_GT(judged, 0) << "no kept findings in " << ORBESK_FUZZ_REGRESSIONS;
}

TEST(SvfFuzzFindings, XsvfFilesPlayOrFailCleanly)
{
    const int judged = JudgeFolders(
        {"xsvf_decoder", "xsvf_player"},
        [](const std::string& Path) { return std::make_unique<TXSVFFile>(Path); }, false);
    EXPECT_GT(judged, 0) << "no kept findings in " << ORBESK_FUZZ_REGRESSIONS;
}

} // namespace
