// HID 1.11 report-descriptor parser. The bytes come from a device and are
// untrusted: every limit below is enforced and malformed input yields an
// error message instead of a partial result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pts::hid {

// Report types as the agent numbers them (0 = Input, 1 = Output, 2 = Feature).
enum class ReportType : int16_t { Input = 0, Output = 1, Feature = 2 };

// Limits, in the spirit of the Linux kernel's hid-core.
inline constexpr std::size_t kMaxDescriptorSize = 4096;
inline constexpr int kMaxPushDepth = 4;              // HID_GLOBAL_STACK_SIZE
inline constexpr int kMaxCollectionDepth = 256;      // HID_COLLECTION_STACK_SIZE-ish
inline constexpr uint32_t kMaxReportSizeBits = 256;  // per field element (kernel: 256)
inline constexpr uint32_t kMaxReportCount = 12288;   // HID_MAX_USAGES
inline constexpr std::size_t kMaxFields = 256;       // HID_MAX_FIELDS
inline constexpr uint32_t kMaxReportBytes = 16384;   // HID_MAX_BUFFER_SIZE
inline constexpr std::size_t kMaxUsages = 12288;     // local usages per main item

// Main-item data bits (Input/Output/Feature items).
enum MainFlag : uint32_t {
  kConstant = 1u << 0,  // else data
  kVariable = 1u << 1,  // else array
  kRelative = 1u << 2,  // else absolute
  kWrap = 1u << 3,
  kNonLinear = 1u << 4,
  kNoPreferred = 1u << 5,
  kNullState = 1u << 6,
  kVolatile = 1u << 7,
  kBufferedBytes = 1u << 8,  // else bit field
};

// One Input/Output/Feature main item: report_count elements of report_size bits.
struct Field {
  ReportType type = ReportType::Input;
  uint8_t report_id = 0;     // 0 when the descriptor declares no report ids
  uint32_t bit_offset = 0;   // offset in the report, after the report id byte
  uint32_t report_size = 0;  // bits per element
  uint32_t report_count = 0;
  uint32_t flags = 0;  // MainFlag bits
  // Extended (page << 16 | id) usages, one per element when the descriptor gave
  // enough; the last one repeats for the rest. Empty for padding (no usages, or
  // a constant field). Array fields keep the usage list as given instead.
  std::vector<uint32_t> usages;
  int32_t logical_minimum = 0;
  int32_t logical_maximum = 0;
  int32_t physical_minimum = 0;
  int32_t physical_maximum = 0;  // both physical limits 0: same as logical
  int32_t unit_exponent = 0;
  uint32_t unit = 0;
  uint32_t collection_usage = 0;  // extended usage of the innermost collection
  uint32_t string_index = 0;      // String Index local item; 0 when none
  bool IsPadding() const { return usages.empty(); }
};

// One report: all fields of one (type, id), in descriptor order.
struct Report {
  ReportType type = ReportType::Input;
  uint8_t id = 0;
  uint32_t size_bits = 0;           // without the report id byte
  std::vector<std::size_t> fields;  // indexes into Descriptor::fields
  std::size_t SizeBytes() const { return (size_bits + 7) / 8; }
};

struct Descriptor {
  std::vector<Field> fields;
  std::vector<Report> reports;  // in order of first appearance
  bool uses_report_ids = false;
};

struct ParseResult {
  bool ok = false;
  Descriptor descriptor;
  std::string error;  // empty when ok; names the problem and the byte offset
  std::size_t error_offset = 0;
};

ParseResult ParseDescriptor(std::span<const uint8_t> bytes);

}  // namespace pts::hid
