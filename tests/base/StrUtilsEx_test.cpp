#include "base/StrUtilsEx.h"

#include <gtest/gtest.h>

#include <limits>

#include "base/sysutils.h"

namespace {

class GroupedText : public testing::Test {
protected:
    void SetUp() override { FormatSettings.ThousandSeparator = ' '; }
    void TearDown() override { FormatSettings = TFormatSettings{}; }
};

TEST_F(GroupedText, GroupsThreeDigitsFromTheRight)
{
    const struct {
        int64_t value;
        const char* text;
    } cases[] = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1 000"},
        {100000, "100 000"},
        {1234567, "1 234 567"},
        {-1, "-1"},
        {-999, "-999"},
        {-1000, "-1 000"},
        {-1500, "-1 500"},
        {std::numeric_limits<int64_t>::max(), "9 223 372 036 854 775 807"},
        {std::numeric_limits<int64_t>::min(), "-9 223 372 036 854 775 808"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IntToStrGrouped(c.value), c.text) << c.value;
}

TEST_F(GroupedText, ReadsTheSeparatorAtEachCall)
{
    FormatSettings.ThousandSeparator = '.';
    EXPECT_EQ(IntToStrGrouped(-1234567), "-1.234.567");
    FormatSettings.ThousandSeparator = '\'';
    EXPECT_EQ(IntToStrGrouped(1000), "1'000");
}

} // namespace
