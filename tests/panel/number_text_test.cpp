#include "panel/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace pts {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct FormatRow {
  double value;
  const char* text;
};

class FormatNumberTest : public ::testing::TestWithParam<FormatRow> {};

TEST_P(FormatNumberTest, WritesPlainDecimal) {
  EXPECT_EQ(FormatNumber(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FormatNumberTest,
    ::testing::Values(
        FormatRow{0, "0"}, FormatRow{-0.0, "0"}, FormatRow{123456789.3, "123456789.3"},
        FormatRow{1234567891, "1234567891"}, FormatRow{0.1 + 0.2, "0.3"},
        // The tenths knob at 3: 3 x 10^-1 in doubles is 0.30000000000000004.
        FormatRow{3 * std::pow(10.0, -1), "0.3"},
        FormatRow{123456789 + 3 * std::pow(10.0, -1), "123456789.3"}, FormatRow{-2.5, "-2.5"},
        FormatRow{1e-5, "0.00001"}, FormatRow{1e15, "1000000000000000"},
        FormatRow{999999999999999.9, "1000000000000000"}, FormatRow{9999999999.0, "9999999999"},
        // Whole numbers either side of 10^15, where rounding to 15 digits starts to bite.
        FormatRow{-7, "-7"}, FormatRow{999999999999999.0, "999999999999999"},
        FormatRow{123456789012345678.0, "123456789012346000"}, FormatRow{kInf, "0"},
        FormatRow{-kInf, "0"}, FormatRow{std::numeric_limits<double>::quiet_NaN(), "0"}));

struct ReadRow {
  const char* text;
  double value;
};

class ReadNumberTest : public ::testing::TestWithParam<ReadRow> {};

TEST_P(ReadNumberTest, ReadsTheLeadingNumber) {
  EXPECT_EQ(ReadNumber(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadNumberTest,
    ::testing::Values(ReadRow{"", 0}, ReadRow{"abc", 0}, ReadRow{".", 0}, ReadRow{"-", 0},
                      ReadRow{"1.2.3", 1.2}, ReadRow{".5", 0.5}, ReadRow{"  12 34", 1234},
                      ReadRow{"12abc", 12}, ReadRow{"1,5", 1}, ReadRow{"123456789.3", 123456789.3},
                      ReadRow{"-5", -5}, ReadRow{"+5", 5}, ReadRow{"1e5", 1e5}, ReadRow{"1D2", 100},
                      ReadRow{"1e", 1}, ReadRow{"1e-", 1}, ReadRow{"2E-1", 0.2},
                      // Leading zeros of an exponent must not crowd out its digits.
                      ReadRow{"1e0000000000000000005", 1e5}, ReadRow{"1e-000000000000000003", 1e-3},
                      ReadRow{"1e400", kInf}, ReadRow{"-1e400", -kInf}, ReadRow{"1e-400", 0},
                      ReadRow{"1e99999999999999999999", kInf}));

TEST(ReadNumberTest, LongTextOfDigits) {
  EXPECT_EQ(ReadNumber(std::string(10000, '9')), kInf);
  EXPECT_EQ(ReadNumber("0." + std::string(10000, '0') + "1"), 0);
}

TEST(FormatSignedTest, LeavesThePlaceOfTheSign) {
  EXPECT_EQ(FormatSigned(7), " 7");
  EXPECT_EQ(FormatSigned(0), " 0");
  EXPECT_EQ(FormatSigned(13), " 13");
  EXPECT_EQ(FormatSigned(-3), "-3");
}

struct SplitRow {
  double value;
  std::array<double, 10> digits;
};

class SplitDigitsTest : public ::testing::TestWithParam<SplitRow> {};

TEST_P(SplitDigitsTest, Splits) {
  EXPECT_EQ(SplitDigits(GetParam().value), GetParam().digits);
}

INSTANTIATE_TEST_SUITE_P(Rows, SplitDigitsTest,
                         ::testing::Values(SplitRow{0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
                                           SplitRow{123456789.3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 3}},
                                           SplitRow{999999999.9, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9}},
                                           SplitRow{320000000, {3, 2, 0, 0, 0, 0, 0, 0, 0, 0}},
                                           SplitRow{10.04, {0, 0, 0, 0, 0, 0, 0, 1, 0, 0}},
                                           SplitRow{10.05, {0, 0, 0, 0, 0, 0, 0, 1, 0, 1}},
                                           // The tenths are rounded without a carry.
                                           SplitRow{10.96, {0, 0, 0, 0, 0, 0, 0, 1, 0, 10}},
                                           SplitRow{99999999999, {999, 9, 9, 9, 9, 9, 9, 9, 9, 0}},
                                           SplitRow{-5, {-1, 9, 9, 9, 9, 9, 9, 9, 5, 0}}));

TEST(SplitDigitsTest, NonFiniteGivesNonFiniteDigits) {
  const auto d = SplitDigits(kInf);
  EXPECT_EQ(d[0], kInf);
  for (size_t i = 1; i < d.size(); ++i) EXPECT_TRUE(std::isnan(d[i])) << i;
}

}  // namespace
}  // namespace pts
