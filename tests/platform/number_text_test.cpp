#include <clocale>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <limits>
#include <string>

#include "platform/number_text.h"

using platform::ParseDouble;
using platform::ParseUnsigned32;

struct DoubleCase {
    const char* text;
    bool valid;
    double value;
};

class ParseDoubleTest : public testing::TestWithParam<DoubleCase> {};

TEST_P(ParseDoubleTest, AcceptsWholeFiniteDecimalsOnly) {
    const auto [text, valid, value] = GetParam();
    const auto parsed = ParseDouble(text);
    ASSERT_EQ(parsed.has_value(), valid) << text;
    if (valid) {
        EXPECT_EQ(*parsed, value) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ParseDoubleTest,
                         testing::Values(DoubleCase{"30", true, 30.0}, DoubleCase{"  0.95\t", true, 0.95},
                                         DoubleCase{"-12.5", true, -12.5}, DoubleCase{"+3", true, 3.0},
                                         DoubleCase{"1e3", true, 1000.0}, DoubleCase{".5", true, 0.5},
                                         DoubleCase{"", false, 0}, DoubleCase{"   ", false, 0},
                                         DoubleCase{"abc", false, 0}, DoubleCase{"12abc", false, 0},
                                         DoubleCase{"1,5", false, 0}, DoubleCase{"nan", false, 0},
                                         DoubleCase{"inf", false, 0}, DoubleCase{"-infinity", false, 0},
                                         DoubleCase{"1e400", false, 0}, DoubleCase{"0x10", false, 0},
                                         DoubleCase{"+-1", false, 0}, DoubleCase{"+", false, 0},
                                         DoubleCase{"1 2", false, 0}));

TEST(ParseUnsigned32, TakesWholeNumbersThatFit) {
    EXPECT_EQ(ParseUnsigned32("44100"), 44100u);
    EXPECT_EQ(ParseUnsigned32(" 0 "), 0u);
    EXPECT_EQ(ParseUnsigned32("4294967295"), 4294967295u);
    for (const char* bad : {"4294967296", "-1", "44100.5", "1e3", "", "x", "nan"}) {
        EXPECT_FALSE(ParseUnsigned32(bad).has_value()) << bad;
    }
}

TEST(Format, GeneralAndFixedMatchTheDisplayRules) {
    EXPECT_EQ(platform::FormatGeneral15(30.0), "30");
    EXPECT_EQ(platform::FormatGeneral15(0.95), "0.95");
    EXPECT_EQ(platform::FormatGeneral15(0.1 + 0.2), "0.3");
    EXPECT_EQ(platform::FormatGeneral15(1e-20), "1e-20");
    EXPECT_EQ(platform::FormatFixed6(32767.2), " 32767");
    EXPECT_EQ(platform::FormatFixed6(40000.0), " 40000");
    EXPECT_EQ(platform::FormatFixed6(1234567.0), "1234567");
}

// Measured figures: a value that rounds to zero has no minus sign, whatever side it came from.
TEST(Format, FiguresNeverReadMinusZero) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        int decimals;
        bool plus;
        const char* text;
    } cases[] = {{-0.004, 2, true, "+0.00"}, {-0.0, 2, false, "0.00"},  {-0.4, 0, false, "0"},
                 {-0.006, 2, true, "-0.01"}, {0.004, 2, true, "+0.00"}, {-2.27552, 4, false, "-2.2755"},
                 {inf, 2, true, "inf"},      {-inf, 1, false, "-inf"},  {std::nan(""), 2, true, "n/a"}};
    for (const auto& c : cases) {
        EXPECT_EQ(platform::FormatFigure(c.value, c.decimals, c.plus), c.text) << c.value;
    }
}

TEST(Format, DecimalCommaIsRecognisedForTheMessage) {
    EXPECT_TRUE(platform::HasDecimalComma("0,95"));
    EXPECT_TRUE(platform::HasDecimalComma(" 1,5e3 "));
    for (const char* text : {"0.95", "1,2,3", "abc,", ",", "1.5,5", ""}) {
        EXPECT_FALSE(platform::HasDecimalComma(text)) << text;
    }
}

// A program whose locale comes from a German desktop still formats and parses with a point.
TEST(Format, ProcessLocaleWithADecimalCommaChangesNothing) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "the de_DE.UTF-8 locale is missing; scripts/bootstrap.sh generates it";
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.2f", 0.5);
    const std::string localePrinted = printed;
    const std::string general = platform::FormatGeneral15(0.95);
    const std::string fixed = platform::FormatFixed6(-1234.6);
    const auto parsed = ParseDouble("0.95");
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(localePrinted, "0,50") << "the locale really uses a decimal comma";
    EXPECT_EQ(general, "0.95");
    EXPECT_EQ(fixed, " -1235");
    EXPECT_EQ(parsed, 0.95);
}
