#include "hid/descriptor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "descriptor_test_util.h"

namespace pts::hid {
namespace {

using testing::Parse;

ParseResult Parse(const std::vector<uint8_t>& bytes) {
  return ParseDescriptor(bytes);
}

// Parses and expects success.
Descriptor Ok(const std::string& hex) {
  const ParseResult r = Parse(hex);
  EXPECT_TRUE(r.ok) << r.error;
  return r.descriptor;
}

std::vector<uint32_t> Seq(uint32_t first, uint32_t last) {
  std::vector<uint32_t> out;
  for (uint32_t u = first; u <= last; ++u) out.push_back(u);
  return out;
}

// The interface board: vendor page 0xFF00, one application collection, an
// output report of 13 bytes (usages 1..13) and an input report of one byte
// (usage 14), no report ids.
std::vector<uint8_t> BoardDescriptor() {
  std::vector<uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15,
                            0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01};
  for (uint8_t usage = 1; usage <= 13; ++usage) {
    d.insert(d.end(), {0x09, usage, 0x91, 0x02});
  }
  d.insert(d.end(), {0x09, 0x0E, 0x81, 0x02, 0xC0});
  return d;
}

TEST(DescriptorTest, BoardDescriptor) {
  const ParseResult r = Parse(BoardDescriptor());
  ASSERT_TRUE(r.ok) << r.error;
  const Descriptor& d = r.descriptor;
  EXPECT_FALSE(d.uses_report_ids);
  ASSERT_EQ(d.fields.size(), 14u);
  ASSERT_EQ(d.reports.size(), 2u);
  EXPECT_EQ(d.reports[0].type, ReportType::Output);
  EXPECT_EQ(d.reports[0].id, 0);
  EXPECT_EQ(d.reports[0].size_bits, 13u * 8);
  EXPECT_EQ(d.reports[0].SizeBytes(), 13u);
  ASSERT_EQ(d.reports[0].fields.size(), 13u);
  EXPECT_EQ(d.reports[1].type, ReportType::Input);
  EXPECT_EQ(d.reports[1].size_bits, 8u);
  ASSERT_EQ(d.reports[1].fields.size(), 1u);
  for (uint32_t i = 0; i < 14; ++i) {
    const Field& f = d.fields[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(f.type, i < 13 ? ReportType::Output : ReportType::Input);
    EXPECT_EQ(f.report_id, 0);
    EXPECT_EQ(f.bit_offset, i < 13 ? i * 8 : 0u);
    EXPECT_EQ(f.report_size, 8u);
    EXPECT_EQ(f.report_count, 1u);
    EXPECT_EQ(f.flags, kVariable);
    EXPECT_EQ(f.usages, std::vector<uint32_t>{0xFF000000u | (i + 1)});
    EXPECT_EQ(f.logical_minimum, 0);
    EXPECT_EQ(f.logical_maximum, 255);
    EXPECT_EQ(f.collection_usage, 0xFF000001u);
    EXPECT_FALSE(f.IsPadding());
  }
  EXPECT_EQ(d.reports[1].fields[0], 13u);
}

// Logical and physical maxima are signed only when their minimum is negative,
// whichever of the two items comes first.
struct LimitCase {
  std::string name;
  std::string items;
  int32_t logical_minimum, logical_maximum, physical_minimum, physical_maximum;
};

void PrintTo(const LimitCase& c, std::ostream* os) {
  *os << c.name << ": " << c.items;
}

class DescriptorLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(DescriptorLimitTest, SignRule) {
  const LimitCase& c = GetParam();
  const Descriptor d = Ok(c.items + " 09 01 75 08 95 01 81 02");
  ASSERT_EQ(d.fields.size(), 1u);
  const Field& f = d.fields[0];
  EXPECT_EQ(f.logical_minimum, c.logical_minimum);
  EXPECT_EQ(f.logical_maximum, c.logical_maximum);
  EXPECT_EQ(f.physical_minimum, c.physical_minimum);
  EXPECT_EQ(f.physical_maximum, c.physical_maximum);
}

const LimitCase kLimitCases[] = {
    {"ByteMaxUnsigned", "15 00 25 FF", 0, 255, 0, 0},
    {"ByteMaxSignedWhenMinNegative", "15 81 25 7F", -127, 127, 0, 0},
    {"ByteFFSignedWhenMinNegative", "15 80 25 FF", -128, -1, 0, 0},
    {"MaxBeforeMin", "25 FF 15 81", -127, -1, 0, 0},
    {"MaxBeforeNonNegativeMin", "25 FF 15 01", 1, 255, 0, 0},
    {"WordMaxUnsigned", "15 00 26 FF FF", 0, 65535, 0, 0},
    {"WordMinNegative", "16 00 80 26 FF 7F", -32768, 32767, 0, 0},
    {"DwordExtremes", "17 00 00 00 80 27 FF FF FF 7F", INT32_MIN, INT32_MAX, 0, 0},
    // Unsigned 32-bit beyond INT32_MAX wraps into the signed field.
    {"DwordUnsignedWraps", "15 00 27 FF FF FF FF", 0, -1, 0, 0},
    {"ZeroSizeItemsAreZero", "14 24 34 44", 0, 0, 0, 0},
    {"PhysicalUnsigned", "15 00 25 0A 35 00 46 E8 03", 0, 10, 0, 1000},
    {"PhysicalSigned", "35 F6 45 0A", 0, 0, -10, 10},
    {"PhysicalFFSignedWhenMinNegative", "35 FF 45 FF", 0, 0, -1, -1},
    {"PhysicalBothZeroStayZero", "15 00 25 64 35 00 45 00", 0, 100, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Limits, DescriptorLimitTest, ::testing::ValuesIn(kLimitCases),
                         [](const auto& info) { return info.param.name; });

// Usages per field: variable fields get one per element, arrays keep the list.
struct UsageCase {
  std::string name;
  std::string items;  // locals and globals before an Input item with flags `flags`
  std::vector<uint32_t> usages;
};

void PrintTo(const UsageCase& c, std::ostream* os) {
  *os << c.name << ": " << c.items;
}

class DescriptorUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(DescriptorUsageTest, Usages) {
  const Descriptor d = Ok(GetParam().items);
  ASSERT_EQ(d.fields.size(), 1u);
  EXPECT_EQ(d.fields[0].usages, GetParam().usages);
}

const UsageCase kUsageCases[] = {
    {"RangeFillsElements", "05 09 19 01 29 03 75 01 95 03 81 02", Seq(0x90001, 0x90003)},
    {"RangeLongerThanCount", "05 09 19 01 29 08 75 01 95 03 81 02", Seq(0x90001, 0x90003)},
    {"LastUsageRepeats",
     "05 01 09 30 09 31 75 08 95 04 81 02",
     {0x10030, 0x10031, 0x10031, 0x10031}},
    {"RangeThenUsage",
     "05 01 19 30 29 31 09 38 75 08 95 04 81 02",
     {0x10030, 0x10031, 0x10038, 0x10038}},
    {"MaximumBeforeMinimum", "05 09 29 03 19 01 75 01 95 03 81 02", Seq(0x90001, 0x90003)},
    {"ExtendedUsageIgnoresPage",
     "05 01 0B 38 02 0C 00 09 30 75 08 95 02 81 02",
     {0xC0238, 0x10030}},
    {"ExtendedRange", "1B 01 00 00 FF 2B 03 00 00 FF 75 08 95 03 81 02",
     Seq(0xFF000001, 0xFF000003)},
    {"ExtendedMinimumShortMaximum", "05 07 1B E0 00 07 00 29 E2 75 01 95 03 81 02",
     Seq(0x700E0, 0x700E2)},
    // The page in force at the main item applies, even when it follows the usage.
    {"PageAfterUsage", "09 30 05 01 75 08 95 01 81 02", {0x10030}},
    {"ArrayKeepsRangeAsGiven", "05 07 19 00 29 65 75 08 95 06 81 00", Seq(0x70000, 0x70065)},
    {"ArrayShorterThanCount", "05 07 09 04 09 05 75 08 95 06 81 00", {0x70004, 0x70005}},
    {"DelimiterTakesFirstUsage", "05 01 A9 01 09 30 09 31 A9 00 75 08 95 01 81 02", {0x10030}},
    {"StringIndexIgnoredForUsages", "05 01 79 04 09 30 75 08 95 01 81 02", {0x10030}},
};

INSTANTIATE_TEST_SUITE_P(Usages, DescriptorUsageTest, ::testing::ValuesIn(kUsageCases),
                         [](const auto& info) { return info.param.name; });

TEST(DescriptorTest, BitOffsetsCountPerReportTypeAndId) {
  const Descriptor d =
      Ok("05 01 75 08 95 01 "
         "85 01 09 30 81 02 "        // input 1 @0
         "09 31 91 02 "              // output 1 @0
         "85 02 09 32 95 02 81 02 "  // input 2 @0, two bytes
         "85 01 09 33 95 01 81 02 "  // input 1 @8
         "75 04 09 34 B1 02");       // feature 1 @0, 4 bits
  EXPECT_TRUE(d.uses_report_ids);
  ASSERT_EQ(d.fields.size(), 5u);
  const std::vector<uint32_t> offsets = {0, 0, 0, 8, 0};
  const std::vector<uint8_t> ids = {1, 1, 2, 1, 1};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(d.fields[i].bit_offset, offsets[i]) << i;
    EXPECT_EQ(d.fields[i].report_id, ids[i]) << i;
  }
  ASSERT_EQ(d.reports.size(), 4u);  // in order of first appearance
  EXPECT_EQ(d.reports[0].type, ReportType::Input);
  EXPECT_EQ(d.reports[0].id, 1);
  EXPECT_EQ(d.reports[0].size_bits, 16u);
  EXPECT_EQ(d.reports[0].fields, (std::vector<std::size_t>{0, 3}));
  EXPECT_EQ(d.reports[1].type, ReportType::Output);
  EXPECT_EQ(d.reports[1].id, 1);
  EXPECT_EQ(d.reports[2].id, 2);
  EXPECT_EQ(d.reports[2].size_bits, 16u);
  EXPECT_EQ(d.reports[3].type, ReportType::Feature);
  EXPECT_EQ(d.reports[3].size_bits, 4u);
  EXPECT_EQ(d.reports[3].SizeBytes(), 1u);
}

TEST(DescriptorTest, PaddingTakesBitsButHasNoUsages) {
  const Descriptor d =
      Ok("05 09 19 01 29 03 15 00 25 01 75 01 95 03 81 02 "  // three buttons
         "75 05 95 01 81 03 "                                // constant padding
         "09 04 75 08 81 01 "                                // constant, with a usage
         "75 02 81 02");                                     // data, but no usage
  ASSERT_EQ(d.fields.size(), 4u);
  EXPECT_FALSE(d.fields[0].IsPadding());
  EXPECT_TRUE(d.fields[1].IsPadding());
  EXPECT_EQ(d.fields[1].bit_offset, 3u);
  EXPECT_EQ(d.fields[1].flags, kConstant | kVariable);
  EXPECT_TRUE(d.fields[2].IsPadding());
  EXPECT_EQ(d.fields[2].bit_offset, 8u);
  EXPECT_TRUE(d.fields[3].IsPadding());
  EXPECT_EQ(d.fields[3].bit_offset, 16u);
  ASSERT_EQ(d.reports.size(), 1u);
  EXPECT_EQ(d.reports[0].size_bits, 18u);
  EXPECT_EQ(d.reports[0].SizeBytes(), 3u);
}

TEST(DescriptorTest, PushPopRestoresEveryGlobal) {
  const Descriptor d =
      Ok("05 01 15 81 25 7F 35 00 45 0A 65 11 55 0E 75 08 95 02 85 03 "
         "A4 05 09 15 00 25 01 35 01 45 02 65 00 55 00 75 01 95 08 85 04 "
         "19 01 29 08 81 02 B4 "
         "09 30 09 31 81 02");
  ASSERT_EQ(d.fields.size(), 2u);
  const Field& pushed = d.fields[0];
  EXPECT_EQ(pushed.report_id, 4);
  EXPECT_EQ(pushed.report_size, 1u);
  EXPECT_EQ(pushed.usages.front(), 0x90001u);
  const Field& f = d.fields[1];
  EXPECT_EQ(f.report_id, 3);
  EXPECT_EQ(f.usages, (std::vector<uint32_t>{0x10030, 0x10031}));
  EXPECT_EQ(f.logical_minimum, -127);
  EXPECT_EQ(f.logical_maximum, 127);
  EXPECT_EQ(f.physical_minimum, 0);
  EXPECT_EQ(f.physical_maximum, 10);
  EXPECT_EQ(f.unit, 0x11u);
  EXPECT_EQ(f.unit_exponent, -2);
  EXPECT_EQ(f.report_size, 8u);
  EXPECT_EQ(f.report_count, 2u);
  EXPECT_EQ(f.bit_offset, 0u);  // report 3 is new
}

TEST(DescriptorTest, LocalsAreClearedByEveryMainItem) {
  const Descriptor d =
      Ok("05 01 09 02 A1 01 79 05 09 30 75 08 95 01 81 02 "  // usage 0x30, string 5
         "81 02 "                                            // nothing left: padding
         "09 31 A1 00 C0 81 02 C0");                         // consumed by the collection
  ASSERT_EQ(d.fields.size(), 3u);
  EXPECT_EQ(d.fields[0].usages, std::vector<uint32_t>{0x10030});
  EXPECT_EQ(d.fields[0].string_index, 5u);
  EXPECT_TRUE(d.fields[1].IsPadding());
  EXPECT_EQ(d.fields[1].string_index, 0u);
  EXPECT_TRUE(d.fields[2].IsPadding());
}

TEST(DescriptorTest, FlagsUnitsAndCollectionUsage) {
  const Descriptor d =
      Ok("05 01 09 02 A1 01 09 01 A1 00 "
         "09 30 75 08 95 01 66 01 10 55 0D B1 FE "  // all nine flag bits but constant
         "C0 09 38 55 FD 92 FE 01 C0");             // 2-byte data: buffered bytes too
  ASSERT_EQ(d.fields.size(), 2u);
  EXPECT_EQ(d.fields[0].flags, 0xFEu);
  EXPECT_EQ(d.fields[0].type, ReportType::Feature);
  EXPECT_EQ(d.fields[0].unit, 0x1001u);
  EXPECT_EQ(d.fields[0].unit_exponent, -3);           // nibble 0xD
  EXPECT_EQ(d.fields[0].collection_usage, 0x10001u);  // innermost: pointer
  EXPECT_EQ(d.fields[1].flags, 0x1FFu & ~kConstant);
  EXPECT_EQ(d.fields[1].unit_exponent, -3);           // a whole signed byte
  EXPECT_EQ(d.fields[1].collection_usage, 0x10002u);  // back in the mouse collection
}

TEST(DescriptorTest, SkipsLongAndReservedItemsAndEmptyFields) {
  const Descriptor d =
      Ok("FE 02 F0 AA BB "                 // long item
         "FD 01 "                          // reserved item type
         "05 01 09 30 75 08 95 00 81 02 "  // Report Count 0: no field
         "09 31 95 01 81 02 FE 00 00");
  ASSERT_EQ(d.fields.size(), 1u);
  EXPECT_EQ(d.fields[0].usages, std::vector<uint32_t>{0x10031});
  EXPECT_TRUE(Ok("").fields.empty());
}

}  // namespace
}  // namespace pts::hid
