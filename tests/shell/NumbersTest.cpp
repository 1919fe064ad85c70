#include "shell/Numbers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <limits>
#include <tuple>

#include "support/ProcessLocale.h"

namespace ostrelo {
namespace {

struct RoundCase {
  double in;
  double out;
};
class RoundHalfEvenTest : public ::testing::TestWithParam<RoundCase> {};
TEST_P(RoundHalfEvenTest, GoesToEvenNeighbourOnExactHalf) { EXPECT_EQ(RoundHalfEven(GetParam().in), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(Examples, RoundHalfEvenTest,
                         ::testing::Values(RoundCase{0.5, 0}, RoundCase{1.5, 2}, RoundCase{2.5, 2}, RoundCase{3.5, 4},
                                           RoundCase{59.5, 60}, RoundCase{90.5, 90}, RoundCase{-0.5, 0},
                                           RoundCase{-1.5, -2}, RoundCase{-2.5, -2}, RoundCase{2.4999, 2},
                                           RoundCase{2.5001, 3}, RoundCase{12.5, 12}));

TEST(RoundToInt32, SaturatesInsteadOfOverflowing) {
  EXPECT_EQ(RoundToInt32(1e300), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(RoundToInt32(-1e300), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(RoundToInt32(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(RoundToInt32(2147483646.5), 2147483646);
}

struct ReadCase {
  const char* text;
  double value;
};
class LeadingNumberTest : public ::testing::TestWithParam<ReadCase> {};
TEST_P(LeadingNumberTest, ReadsTheNumberTheTextBeginsWith) {
  EXPECT_DOUBLE_EQ(LeadingNumber(GetParam().text), GetParam().value);
}
INSTANTIATE_TEST_SUITE_P(Examples, LeadingNumberTest,
                         ::testing::Values(ReadCase{"", 0}, ReadCase{"abc", 0}, ReadCase{"0.5", 0.5},
                                           ReadCase{"0,5", 0.5}, ReadCase{"2,5", 2.5}, ReadCase{"  12.5xyz", 12.5},
                                           ReadCase{"1 2 3", 123}, ReadCase{"-3", -3}, ReadCase{"+7", 7},
                                           ReadCase{".25", 0.25}, ReadCase{"1e3", 1000}, ReadCase{"1E+2x", 100},
                                           ReadCase{"2e", 2}, ReadCase{"12dB", 12}, ReadCase{"-", 0}, ReadCase{".", 0},
                                           ReadCase{"86400", 86400}, ReadCase{"1D2", 100}, ReadCase{"1,5.3", 1.5}));

TEST(LeadingNumber, HugeValuesSaturateToFiniteRange) {
  EXPECT_EQ(LeadingNumber("1e999"), DBL_MAX);
  EXPECT_EQ(LeadingNumber("-1e99999999999"), -DBL_MAX);
  EXPECT_EQ(LeadingNumber(std::string(400, '9')), DBL_MAX);
}

struct LocaleCase {
  const char* text;
  char sep;
  std::optional<double> value;
};
class LocaleNumberTest : public ::testing::TestWithParam<LocaleCase> {};
TEST_P(LocaleNumberTest, AcceptsOnlyAWholeNumberInTheLocale) {
  EXPECT_EQ(LocaleNumber(GetParam().text, GetParam().sep), GetParam().value);
}
INSTANTIATE_TEST_SUITE_P(Examples, LocaleNumberTest,
                         ::testing::Values(LocaleCase{"1.5", '.', 1.5}, LocaleCase{"1,5", ',', 1.5},
                                           LocaleCase{"1.5", ',', 1.5}, LocaleCase{"12dB", '.', std::nullopt},
                                           LocaleCase{" -3 ", '.', -3.0}, LocaleCase{"", '.', std::nullopt},
                                           LocaleCase{"1e2", '.', 100.0}, LocaleCase{"abc", '.', std::nullopt}));

struct FormatCase {
  double value;
  const char* pattern;
  char sep;
  const char* text;
};
class FormatNumberTest : public ::testing::TestWithParam<std::tuple<FormatCase, const char*>> {};
TEST_P(FormatNumberTest, WritesThePattern) {
  const auto& [c, locale] = GetParam();
  const testing::ProcessLocale inLocale(locale);
  EXPECT_EQ(FormatNumber(c.value, c.pattern, c.sep), c.text);
}
INSTANTIATE_TEST_SUITE_P(
    Examples, FormatNumberTest,
    ::testing::Combine(
        ::testing::Values(
            FormatCase{0, "0000", '.', "0000"}, FormatCase{1280, "0000", '.', "1280"},
            FormatCase{512, "0000", '.', "0512"}, FormatCase{10240, "0000", '.', "10240"},
            FormatCase{10000, "0000", '.', "10000"}, FormatCase{3, "00", '.', "03"}, FormatCase{25, "00", '.', "25"},
            FormatCase{45296.53f, "00000.00", '.', "45296.53"}, FormatCase{5.5, "00000.00", '.', "00005.50"},
            FormatCase{5.5, "00000.00", ',', "00005,50"}, FormatCase{1.5, "-00.000;00.000", '.', "-01.500"},
            FormatCase{-1.5, "-00.000;00.000", '.', "01.500"}, FormatCase{0, "-00.000;00.000", '.', "-00.000"},
            FormatCase{123.4567, "-00.000;00.000", '.', "-123.457"},
            FormatCase{-123.4, "-00.000;00.000", '.', "123.400"}, FormatCase{2.25, "-00.000;00.000", '.', "-02.250"},
            FormatCase{-0.5, "-00.000;00.000", '.', "00.500"}, FormatCase{-12.3456, "-00.000;00.000", ',', "12,346"}),
        ::testing::ValuesIn(testing::kOperatorLocales)),
    [](const auto& info) { return testing::NameInLocale(info); });

TEST(FormatYymmdd, TwoDigitsEachThenDash) {
  EXPECT_EQ(FormatYymmdd(2011, 3, 25), "110325-");
  EXPECT_EQ(FormatYymmdd(2000, 1, 5), "000105-");
  EXPECT_EQ(FormatYymmdd(2026, 12, 31), "261231-");
}

TEST(GeneralNumber, FifteenDigitsNoTrailingZerosLocaleSeparator) {
  EXPECT_EQ(GeneralNumber(0, '.'), "0");
  EXPECT_EQ(GeneralNumber(12, '.'), "12");
  EXPECT_EQ(GeneralNumber(1.5, ','), "1,5");
  EXPECT_EQ(GeneralNumber(0.1 + 0.2, '.'), "0.3");
  EXPECT_EQ(GeneralNumber(-3.25, '.'), "-3.25");
  EXPECT_EQ(GeneralNumber(1e16, '.'), "1E+16");
}

}  // namespace
}  // namespace ostrelo

namespace ostrelo {
namespace {

TEST(FormatNumber, NegativeZeroIsWrittenAsZero) {
  EXPECT_EQ(FormatNumber(-0.0, "-00.000;00.000", '.'), "-00.000");
  EXPECT_EQ(FormatNumber(-0.0, "0000", '.'), "0000");
}

}  // namespace
}  // namespace ostrelo
