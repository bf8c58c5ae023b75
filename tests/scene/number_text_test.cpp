// Numbers in user text: reading with an explicit separator, normalising the
// editor's fields, and the three-decimal text of the memos.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "scene/locale_number.h"

namespace tovimar {
namespace {

TEST(ParseLocaleDouble, GrammarWithEitherSeparator) {
  for (char sep : {'.', ','}) {
    const char other = sep == '.' ? ',' : '.';
    const auto text = [sep](std::string s) {
      for (char& c : s) {
        if (c == '#') c = sep;
      }
      return s;
    };
    EXPECT_EQ(ParseLocaleDouble(text("  12#5  "), sep), 12.5);
    EXPECT_EQ(ParseLocaleDouble(text("-#5"), sep), -0.5);
    EXPECT_EQ(ParseLocaleDouble(text("5#"), sep), 5.0);
    EXPECT_EQ(ParseLocaleDouble(text("#"), sep), 0.0);
    EXPECT_EQ(ParseLocaleDouble(text("-#"), sep), 0.0);
    EXPECT_EQ(ParseLocaleDouble("0000000000000000000000000000000123", sep), 123.0);
    EXPECT_EQ(ParseLocaleDouble(text("0#1"), sep), 0.1);  // correctly rounded, like a literal

    for (const char* bad : {"", "   ", "-", "+1", "1e3", "1 2", "- 1", "--1", "1-", "#1#", "##", "\t1", "1\t"}) {
      EXPECT_FALSE(ParseLocaleDouble(text(bad), sep)) << bad;
    }
    // The other mark is not a separator here.
    EXPECT_FALSE(ParseLocaleDouble(std::string("1") + other + "5", sep));
  }
}

TEST(ParseLocaleDouble, NeverInfiniteOrNaN) {
  EXPECT_FALSE(ParseLocaleDouble("1" + std::string(309, '0'), '.'));
  EXPECT_FALSE(ParseLocaleDouble("-1" + std::string(309, '0') + ".5", '.'));
  const auto tiny = ParseLocaleDouble("0." + std::string(400, '0') + "1", '.');
  ASSERT_TRUE(tiny);
  EXPECT_EQ(*tiny, 0.0);
  const auto subnormal = ParseLocaleDouble("0." + std::string(309, '0') + "1", '.');
  ASSERT_TRUE(subnormal);
  EXPECT_GT(*subnormal, 0.0);
  const auto long_fraction = ParseLocaleDouble("1." + std::string(5000, '3'), '.');
  ASSERT_TRUE(long_fraction);
  EXPECT_DOUBLE_EQ(*long_fraction, 4.0 / 3.0);
}

TEST(NormaliseDecimalText, BothMarksBecomeTheSeparator) {
  EXPECT_EQ(NormaliseDecimalText("389,0", ','), "389,0");
  EXPECT_EQ(NormaliseDecimalText("389,0", '.'), "389.0");
  EXPECT_EQ(NormaliseDecimalText("0.12", ','), "0,12");
  EXPECT_EQ(NormaliseDecimalText("1.2,3", '.'), "1.2.3");
  EXPECT_EQ(ParseLocaleDouble(NormaliseDecimalText("0.12", ','), ','), 0.12);
}

TEST(NotValidFloatMessage, Text) {
  EXPECT_EQ(NotValidFloatMessage("1 3"), "'1 3' is not a valid floating point value");
}

struct ThreeDecimalsCase {
  double value;
  const char* text;  // with '.'
};

class FormatThreeDecimalsTest : public ::testing::TestWithParam<ThreeDecimalsCase> {};

TEST_P(FormatThreeDecimalsTest, PointAndComma) {
  const auto& c = GetParam();
  EXPECT_EQ(FormatThreeDecimals(c.value, '.'), c.text) << c.value;
  std::string comma = c.text;
  for (char& ch : comma) {
    if (ch == '.') ch = ',';
  }
  EXPECT_EQ(FormatThreeDecimals(c.value, ','), comma) << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatThreeDecimalsTest,
    ::testing::Values(
        // The documented examples.
        ThreeDecimalsCase{0.0012, "0.001"}, ThreeDecimalsCase{0.05, "0.050"}, ThreeDecimalsCase{12.345, "12.300"},
        ThreeDecimalsCase{0.25, "0.250"}, ThreeDecimalsCase{-0.25, "-0.250"}, ThreeDecimalsCase{-2.5, "-2.500"},
        ThreeDecimalsCase{5.0, "5.000"}, ThreeDecimalsCase{0.1, "0.100"}, ThreeDecimalsCase{123.456, "123.000"},
        // Rounding of the exact binary value, halves away from zero.
        ThreeDecimalsCase{0.0005, "0.001"},      // stored a little above 0.0005
        ThreeDecimalsCase{0.1235, "0.123"},      // stored a little below 0.1235
        ThreeDecimalsCase{0.0625, "0.063"},      // an exact half
        ThreeDecimalsCase{-0.0625, "-0.063"},
        ThreeDecimalsCase{2.675, "2.670"},       // 2.67499999...
        ThreeDecimalsCase{0.9995, "1.000"},      // 0.99950000000000005...
        ThreeDecimalsCase{99.95, "100.000"},
        ThreeDecimalsCase{999.5, "1000.000"},
        ThreeDecimalsCase{-999.5, "-1000.000"},
        // Three significant digits beyond 1000.
        ThreeDecimalsCase{1234.5, "1230.000"}, ThreeDecimalsCase{98765.0, "98800.000"},
        ThreeDecimalsCase{1e20, "100000000000000000000.000"},
        // Zero and what rounds to it print without a minus.
        ThreeDecimalsCase{0.0, "0.000"}, ThreeDecimalsCase{-0.0, "0.000"}, ThreeDecimalsCase{-0.0004, "0.000"},
        ThreeDecimalsCase{std::nextafter(0.0005, 0.0), "0.000"}, ThreeDecimalsCase{5e-324, "0.000"},
        ThreeDecimalsCase{-5e-324, "0.000"}));

TEST(FormatThreeDecimals, HugeAndNonFinite) {
  const std::string max = FormatThreeDecimals(std::numeric_limits<double>::max(), '.');
  EXPECT_EQ(max, "180" + std::string(306, '0') + ".000");
  EXPECT_EQ(FormatThreeDecimals(std::nan(""), ','), "NAN");
  EXPECT_EQ(FormatThreeDecimals(std::numeric_limits<double>::infinity(), ','), "INF");
  EXPECT_EQ(FormatThreeDecimals(-std::numeric_limits<double>::infinity(), ','), "-INF");
}

TEST(FormatThreeDecimals, ReadsBackAsTheRoundedValue) {
  // The text is itself valid scene-language number text.
  for (double v = -3.0; v <= 3.0; v += 0.0137) {
    const std::string text = FormatThreeDecimals(v, ',');
    const auto back = ParseLocaleDouble(text, ',');
    ASSERT_TRUE(back) << text;
    EXPECT_NEAR(*back, v, (std::fabs(v) >= 1.0 ? 0.005 : 0.0005) + 1e-12) << text;
  }
}

}  // namespace
}  // namespace tovimar
