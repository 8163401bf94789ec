#include "base/sysconv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace {

std::string IntRefusal(const std::string& text)
{
    try {
        StrToInt(text);
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return "(converted)";
}

TEST(StrToIntTest, AcceptsDecimalAndTheHexadecimalPrefixes)
{
    const struct {
        const char* text;
        std::optional<int32_t> value; // none: refused
    } cases[] = {
        {"0", 0},
        {"123", 123},
        {"+7", 7},
        {"-123", -123},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"$FF", 255},
        {"$ff", 255},
        {"0x10", 16},
        {"0X10", 16},
        {"x1f", 31},
        {"X1F", 31},
        {"-$10", -16},
        // Hexadecimal takes the whole unsigned width and wraps, as the
        // class library does.
        {"$FFFFFFFF", -1},
        {"$80000000", INT32_MIN},
        {"$100000000", std::nullopt},
        {"", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"\t1", std::nullopt},
        {"1a", std::nullopt},
        {"1.0", std::nullopt},
        {"1e3", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"00x10", std::nullopt},
        {"$G", std::nullopt},
        {"++1", std::nullopt},
    };
    for (const auto& c : cases) {
        int32_t value = 12345;
        const bool ok = TryStrToInt(c.text, value);
        EXPECT_EQ(ok, c.value.has_value()) << '"' << c.text << '"';
        if (ok && c.value) {
            EXPECT_EQ(value, *c.value) << c.text;
        }
        if (!ok) {
            EXPECT_EQ(value, 12345) << "a refusal leaves the output alone: " << c.text;
        }
    }
}

TEST(StrToIntTest, RefusalNamesTheText)
{
    EXPECT_EQ(IntRefusal("ABC"), "'ABC' is not a valid integer value");
    EXPECT_EQ(IntRefusal(""), "'' is not a valid integer value");
    EXPECT_EQ(IntRefusal("2147483648"), "'2147483648' is not a valid integer value");
    EXPECT_THROW(StrToInt64("9223372036854775808"), Exception);
}

TEST(StrToIntTest, SixtyFourBitRange)
{
    const struct {
        const char* text;
        std::optional<int64_t> value;
    } cases[] = {
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"4294967296", 4294967296LL},
        {"$FFFFFFFF", 4294967295LL},
        {"$FFFFFFFFFFFFFFFF", -1},
        {"$10000000000000000", std::nullopt},
        {"-0x1", -1},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        int64_t value = 0;
        EXPECT_EQ(TryStrToInt64(c.text, value), c.value.has_value()) << c.text;
        if (c.value) {
            EXPECT_EQ(value, *c.value) << c.text;
        }
    }
    EXPECT_EQ(StrToInt64("-42"), -42);
}

class StrToFloatTest : public testing::Test {
protected:
    void TearDown() override { FormatSettings = TFormatSettings{}; }
};

TEST_F(StrToFloatTest, AcceptsTheDocumentedForms)
{
    const struct {
        const char* text;
        long double value;
    } cases[] = {
        {"100", 100.0L},
        {"1E-3", 0.001L},
        {"1e-3", 0.001L},
        {"1.00E+06", 1000000.0L},
        {"1.00e+006", 1000000.0L},
        {"2.00E-002", 0.02L},
        {".5", 0.5L},
        {"1.", 1.0L},
        {".", 0.0L},
        {".E5", 0.0L},  // the lone '.' is the number part
        {"-2.5", -2.5L},
        {"+3", 3.0L},
        {"1E", 1.0L},   // no exponent digits: exponent 0
        {"1E+", 1.0L},
        {"25E-1", 2.5L},
        {"0.000", 0.0L},
        {"123456789012345678", 123456789012345678.0L},
        {"0.1", 0.1L},
    };
    for (const auto& c : cases) {
        long double value = -1;
        ASSERT_TRUE(TryStrToFloat(c.text, value)) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST_F(StrToFloatTest, CoversTheExtendedRange)
{
    // Beyond a double's range, inside the 80-bit one; exact to a few units
    // in the last place.
    EXPECT_NEAR(StrToFloat("1E4000") / 1E4000L, 1.0L, 1E-17L);
    EXPECT_NEAR(StrToFloat("1E-4000") / 1E-4000L, 1.0L, 1E-17L);
    EXPECT_NEAR(StrToFloat("1.18E4932") / 1.18E4932L, 1.0L, 1E-17L);
    EXPECT_THROW(StrToFloat("1.19E4933"), EConvertError);
    EXPECT_EQ(StrToFloat("1E-5000"), 0.0L); // too small for the type: 0
}

TEST_F(StrToFloatTest, RefusesEverythingElse)
{
    const char* const refused[] = {
        "",     "+",    "-",       "E5",   "E",    "inf",   "INF", "nan",       "0x1p3",     " 1",
        "1 ",   "1,5",  "--1",     "1.2.3", "1E5.0", "1EE5", "$10", "1E1000000", "1E5000",   "-1E5000",
        "1e+-3", "1x",
    };
    for (const char* text : refused) {
        long double value = 7;
        EXPECT_FALSE(TryStrToFloat(text, value)) << '"' << text << '"';
        EXPECT_EQ(value, 7) << text;
    }
    try {
        StrToFloat("1,5");
        FAIL() << "converted";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'1,5' is not a valid floating point value");
    }
}

TEST_F(StrToFloatTest, ReadsTheProcessDecimalSeparator)
{
    FormatSettings.DecimalSeparator = ',';
    EXPECT_EQ(StrToFloat("1,5"), 1.5L);
    EXPECT_THROW(StrToFloat("1.5"), EConvertError);
    EXPECT_EQ(StrToFloat("1.5", '.'), 1.5L);
}

} // namespace
