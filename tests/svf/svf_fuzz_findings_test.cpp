// Every input that the fuzz targets ever found a fault with, kept in
// fuzz/regressions/, played again and judged as the fuzz target judges it.
// The faults themselves are cases of the tests of their part.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/svf_playcheck.h"

namespace {

TEST(SvfFuzzFindings, PlayOrFailCleanly)
{
    namespace fs = std::filesystem;
    int played = 0;
    for (const char* folder : {"svf_lexer", "svf_parser", "svf_player"}) {
        const fs::path dir = fs::path(ORBESK_FUZZ_REGRESSIONS) / folder;
        if (!fs::is_directory(dir))
            continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            svftest::TFakeCable cable;
            EXPECT_EQ(svftest::JudgePlay(entry.path().string(), cable), "") << entry.path();
            ++played;
        }
    }
    EXPECT_GT(played, 0) << "no kept findings in " << ORBESK_FUZZ_REGRESSIONS;
}

} // namespace
