#include "hid/descriptor.h"

#include <gtest/gtest.h>

#include <vector>

namespace pts::hid {
namespace {

ParseResult Parse(const std::vector<uint8_t>& bytes) {
  return ParseDescriptor(bytes);
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

}  // namespace
}  // namespace pts::hid
