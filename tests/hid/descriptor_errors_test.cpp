// Malformed descriptors: each is rejected with a message naming the problem and
// the byte offset of the offending item. Also every input the fuzzer ever
// crashed on, and the seed corpus, must go through the parser cleanly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "descriptor_test_util.h"

namespace pts::hid {
namespace {

using testing::Hex;
using testing::Parse;
using testing::Repeat;

// One 8-bit field of one element, without usage.
constexpr char kByteField[] = "75 08 95 01 ";

struct ErrorCase {
  std::string name;
  std::string hex;
  std::string message;  // part of the error text
  std::size_t offset;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
  *os << c.name << ": " << c.hex;
}

class DescriptorErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(DescriptorErrorTest, RejectsWithOffset) {
  const ErrorCase& c = GetParam();
  const ParseResult r = Parse(c.hex);
  ASSERT_FALSE(r.ok);
  EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
  EXPECT_EQ(r.error_offset, c.offset) << r.error;
  EXPECT_EQ(r.error.rfind("byte " + std::to_string(c.offset) + ": ", 0), 0u) << r.error;
  EXPECT_TRUE(r.descriptor.fields.empty());
  EXPECT_TRUE(r.descriptor.reports.empty());
}

const ErrorCase kErrorCases[] = {
    {"TruncatedTwoByteItem", "05 01 26 FF", "needs 2 data bytes but only 1 remain", 2},
    {"TruncatedFourByteItem", "05 01 27 01 02", "needs 4 data bytes but only 2 remain", 2},
    {"TruncatedOneByteItem", "05", "needs 1 data bytes but only 0 remain", 0},
    {"LongItemHeaderTruncated", "05 01 FE 05", "long item header truncated", 2},
    {"LongItemDataTruncated", "FE 05 10 01 02", "long item needs 5 data bytes", 0},
    {"ReportIdZero", "05 01 85 00", "Report ID 0 is reserved", 2},
    {"ReportIdWiderThanByte", "86 00 01", "Report ID 256 does not fit one byte", 0},
    {"ReportIdAfterFieldsWithout", std::string(kByteField) + "81 03 85 01",
     "Report ID after data items that had none", 6},
    {"FieldWithoutIdAfterPop", std::string(kByteField) + "A4 85 01 81 03 B4 81 03",
     "data item without a Report ID", 10},
    {"PopOnEmptyStack", "05 01 B4", "Pop with an empty global stack", 2},
    {"PopMoreThanPushed", "A4 B4 B4", "Pop with an empty global stack", 2},
    {"PushOverflow", Repeat("A4", kMaxPushDepth + 1), "Push exceeds the global stack depth", 4},
    {"EndCollectionWithoutCollection", "C0", "End Collection without an open Collection", 0},
    {"EndCollectionTooMany", "A1 01 C0 C0", "End Collection without an open Collection", 3},
    {"CollectionNeverClosed", "A1 01 A1 00 C0", "Collection opened here is never closed", 0},
    {"CollectionTooDeep", Repeat("A1 00", kMaxCollectionDepth + 1),
     "Collection nesting exceeds 256 levels", 2 * kMaxCollectionDepth},
    {"ReportSizeTooBig", "76 01 01", "Report Size 257 exceeds 256 bits", 0},
    {"ReportCountTooBig", "96 01 30", "Report Count 12289 exceeds 12288", 0},
    {"ReportCountHuge", "97 FF FF FF FF", "Report Count 4294967295 exceeds", 0},
    {"TooManyFields", std::string("75 01 95 01 ") + Repeat("81 03", kMaxFields + 1),
     "more than 256 fields", 4 + 2 * kMaxFields},
    {"ReportTooLong", "75 08 96 00 30 81 03 81 03", "report is 24576 bytes long", 7},
    {"ReportTooLongWithIdByte", "85 01 75 80 96 00 04 81 03", "report is 16385 bytes long", 7},
    {"UnknownGlobalTag", "05 01 C4", "unknown global item tag 12", 2},
    {"UsagePageWiderThan16Bits", "07 00 00 01 00", "Usage Page 0x010000 does not fit 16 bits", 0},
    {"UsageMinimumAlone", std::string("05 01 19 01 ") + kByteField + "81 02",
     "Usage Minimum without Usage Maximum", 2},
    {"UsageMaximumAlone", std::string("29 05 ") + kByteField + "81 02",
     "Usage Maximum without Usage Minimum", 0},
    {"UsageMinimumTwice", "19 01 19 02", "Usage Minimum repeated", 2},
    {"UsageRangeReversed", std::string("05 01 19 05 29 01 ") + kByteField + "81 02",
     "usage range 0x00010005..0x00010001 is reversed", 10},
    {"UsageRangeAcrossPages", std::string("1B 01 00 01 00 2B 01 00 02 00 ") + kByteField + "81 02",
     "spans two usage pages", 14},
    {"TooManyUsages", std::string("19 00 2A FF FF ") + kByteField + "81 00",
     "more than 12288 usages", 9},
    {"TooManyUsagesOnCollection", "19 00 2A FF FF A1 01", "more than 12288 usages", 5},
    {"NestedDelimiter", "A9 01 A9 01", "nested delimiter set", 2},
    {"DelimiterCloseWithoutOpen", "A9 00", "delimiter close without an open set", 0},
    {"MainItemInsideDelimiter", std::string("A9 01 09 01 ") + kByteField + "81 02",
     "main item inside an open delimiter set", 8},
};

INSTANTIATE_TEST_SUITE_P(Malformed, DescriptorErrorTest, ::testing::ValuesIn(kErrorCases),
                         [](const auto& info) { return info.param.name; });

TEST(DescriptorLimitsTest, DescriptorSizeLimit) {
  // Item 0x00 is a reserved main item without data: harmless filler.
  std::vector<uint8_t> bytes(kMaxDescriptorSize, 0x00);
  EXPECT_TRUE(ParseDescriptor(bytes).ok);
  bytes.push_back(0x00);
  const ParseResult r = ParseDescriptor(bytes);
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.error, "byte 4096: descriptor is 4097 bytes long; at most 4096 are accepted");
}

TEST(DescriptorLimitsTest, LimitsThemselvesAreAccepted) {
  EXPECT_TRUE(Parse(Repeat("A4", kMaxPushDepth) + Repeat("B4", kMaxPushDepth)).ok);
  EXPECT_TRUE(Parse(Repeat("A1 00", kMaxCollectionDepth) + Repeat("C0", kMaxCollectionDepth)).ok);
  EXPECT_TRUE(Parse("76 00 01 95 01 81 03").ok);  // 256-bit elements
  EXPECT_TRUE(Parse("75 01 96 00 30 81 03").ok);  // 12288 elements
  EXPECT_TRUE(Parse("75 80 96 00 04 81 03").ok);  // 16384 bytes, no report id byte
  EXPECT_TRUE(Parse("75 01 95 01 " + Repeat("81 03", kMaxFields)).ok);
  EXPECT_TRUE(Parse(std::string("19 00 2A FF 2F ") + kByteField + "81 00").ok);
}

// Every input that ever crashed the fuzzer, plus the seed corpus.
TEST(DescriptorFuzzInputsTest, ParseCleanly) {
  namespace fs = std::filesystem;
  int files = 0;
  for (const char* folder : {"fuzz/regressions", "fuzz/corpus"}) {
    const fs::path dir = fs::path(PTS_SOURCE_DIR) / folder;
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
      SCOPED_TRACE(entry.path().string());
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
      const ParseResult r = ParseDescriptor(bytes);
      EXPECT_EQ(r.ok, r.error.empty());
      ++files;
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace pts::hid
