// HID 1.11 report-descriptor parser.
//
// Choices worth knowing when reading the result:
// - Long items (prefix 0xFE) are skipped whole; no long item tags are defined.
//   Reserved item types and unknown local or main tags are ignored, as the
//   Linux kernel does; unknown global tags are an error.
// - A 1- or 2-byte Usage (or Usage Minimum/Maximum) takes the Usage Page in
//   force at the main item that consumes it, so a Usage Page that follows the
//   Usage in the same local list still applies. A 4-byte one is page << 16 | id.
// - Logical and Physical Maximum are read as signed only when the matching
//   minimum is negative, otherwise as unsigned; the decision is made at the
//   main item, so the order of the two items does not matter. Unsigned 32-bit
//   values above INT32_MAX wrap into the int32_t fields (two's complement).
//   Physical minimum and maximum are stored as given: both 0 conventionally
//   means "same as logical", which is for the consumer to apply.
// - Unit Exponent: a value 0..15 is the 4-bit two's-complement nibble of the
//   HID tables (0x0E is -2); anything wider is read as a signed number.
// - Usages of a variable field: one per element; extra usages are dropped and
//   the last one repeats when there are fewer. An array field keeps the usage
//   list (ranges expanded) exactly as given, whatever its length.
// - Padding: a field without usages, or any constant field, gets no usages.
//   Padding fields are listed like the others and take bits in their report.
// - A main item with Report Size or Report Count 0 adds nothing.
// - kMaxFields bounds the number of fields in the whole descriptor.
// - Inside a delimiter set only the first usage (or range) counts.
#include "hid/descriptor.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace pts::hid {
namespace {

enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

enum MainTag : uint8_t {
  kInput = 8,
  kOutput = 9,
  kCollection = 10,
  kFeature = 11,
  kEndCollection = 12
};

enum GlobalTag : uint8_t {
  kUsagePage = 0,
  kLogicalMinimum = 1,
  kLogicalMaximum = 2,
  kPhysicalMinimum = 3,
  kPhysicalMaximum = 4,
  kUnitExponent = 5,
  kUnit = 6,
  kReportSize = 7,
  kReportId = 8,
  kReportCount = 9,
  kPush = 10,
  kPop = 11
};

enum LocalTag : uint8_t {
  kUsage = 0,
  kUsageMinimum = 1,
  kUsageMaximum = 2,
  kStringIndex = 7,
  kDelimiter = 10
};

constexpr uint8_t kLongItemPrefix = 0xFE;

// One short item as found in the bytes.
struct Item {
  std::size_t offset = 0;  // of the prefix byte
  uint8_t prefix = 0;
  uint8_t type = 0;
  uint8_t tag = 0;
  uint8_t size = 0;  // data bytes: 0, 1, 2 or 4
  uint32_t udata = 0;

  int32_t SignedData() const {
    switch (size) {
      case 1:
        return static_cast<int8_t>(udata);
      case 2:
        return static_cast<int16_t>(udata);
      case 4:
        return static_cast<int32_t>(udata);
      default:
        return 0;
    }
  }
};

// A limit whose signedness is settled at the main item.
struct RawValue {
  uint32_t udata = 0;
  uint8_t size = 0;

  int32_t Resolve(bool as_signed) const {
    if (!as_signed) return static_cast<int32_t>(udata);
    Item item;
    item.size = size;
    item.udata = udata;
    return item.SignedData();
  }
};

struct GlobalState {
  uint32_t usage_page = 0;
  int32_t logical_minimum = 0;
  RawValue logical_maximum;
  int32_t physical_minimum = 0;
  RawValue physical_maximum;
  int32_t unit_exponent = 0;
  uint32_t unit = 0;
  uint32_t report_size = 0;
  uint32_t report_count = 0;
  uint8_t report_id = 0;
};

// A usage or a usage-range bound as written: 1- and 2-byte values wait for the
// usage page of the main item.
struct UsageRef {
  uint32_t value = 0;
  bool extended = false;

  uint32_t Resolve(uint32_t usage_page) const {
    return extended ? value : (usage_page << 16) | (value & 0xFFFF);
  }
};

struct LocalEntry {
  UsageRef first;
  UsageRef last;  // equals first for a single usage
  bool range = false;
};

struct LocalState {
  std::vector<LocalEntry> entries;
  std::optional<UsageRef> pending_minimum;
  std::optional<UsageRef> pending_maximum;
  std::size_t pending_offset = 0;
  uint32_t string_index = 0;
  bool in_delimiter = false;
  bool delimiter_taken = false;  // the set already gave its usage
};

class Parser {
 public:
  explicit Parser(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  ParseResult Run() {
    if (bytes_.size() > kMaxDescriptorSize) {
      Fail(kMaxDescriptorSize, "descriptor is " + std::to_string(bytes_.size()) +
                                   " bytes long; at most " + std::to_string(kMaxDescriptorSize) +
                                   " are accepted");
      return std::move(result_);
    }
    std::size_t pos = 0;
    while (pos < bytes_.size() && !failed_) {
      const uint8_t prefix = bytes_[pos];
      if (prefix == kLongItemPrefix) {
        pos = SkipLongItem(pos);
        continue;
      }
      Item item;
      item.offset = pos;
      item.prefix = prefix;
      item.type = (prefix >> 2) & 0x3;
      item.tag = prefix >> 4;
      static constexpr std::array<uint8_t, 4> kSizes = {0, 1, 2, 4};
      item.size = kSizes[prefix & 0x3];
      const std::size_t left = bytes_.size() - pos - 1;
      if (left < item.size) {
        Fail(pos, "item 0x" + Hex(prefix) + " needs " + std::to_string(item.size) +
                      " data bytes but only " + std::to_string(left) + " remain");
        break;
      }
      for (uint8_t i = 0; i < item.size; ++i) {
        item.udata |= static_cast<uint32_t>(bytes_[pos + 1 + i]) << (8 * i);
      }
      pos += 1 + item.size;
      switch (item.type) {
        case kMain:
          ParseMain(item);
          break;
        case kGlobal:
          ParseGlobal(item);
          break;
        case kLocal:
          ParseLocal(item);
          break;
        default:
          break;  // reserved item type: ignored
      }
    }
    if (!failed_ && !collections_.empty()) {
      Fail(collections_.back(), "Collection opened here is never closed (" +
                                    std::to_string(collections_.size()) +
                                    " open at the end of the descriptor)");
    }
    if (failed_) return std::move(result_);
    result_.ok = true;
    return std::move(result_);
  }

 private:
  // Upper-case hex, whole bytes, at least min_digits digits.
  static std::string Hex(uint32_t value, std::size_t min_digits = 2) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    do {
      out.insert(out.begin(), kDigits[value & 0xF]);
      value >>= 4;
    } while (value != 0);
    while (out.size() < min_digits || out.size() % 2 != 0) out.insert(out.begin(), '0');
    return out;
  }
  static std::string UsageHex(uint32_t usage) { return "0x" + Hex(usage, 8); }

  void Fail(std::size_t offset, const std::string& problem) {
    if (failed_) return;
    failed_ = true;
    result_ = ParseResult{};
    result_.error = "byte " + std::to_string(offset) + ": " + problem;
    result_.error_offset = offset;
  }

  std::size_t SkipLongItem(std::size_t pos) {
    // 0xFE, bDataSize, bLongItemTag, data...
    const std::size_t left = bytes_.size() - pos - 1;
    if (left < 2) {
      Fail(pos, "long item header truncated");
      return bytes_.size();
    }
    const std::size_t data_size = bytes_[pos + 1];
    if (left - 2 < data_size) {
      Fail(pos, "long item needs " + std::to_string(data_size) + " data bytes but only " +
                    std::to_string(left - 2) + " remain");
      return bytes_.size();
    }
    return pos + 3 + data_size;
  }

  void ParseGlobal(const Item& item) {
    switch (item.tag) {
      case kUsagePage:
        if (item.udata > 0xFFFF) {
          Fail(item.offset, "Usage Page 0x" + Hex(item.udata) + " does not fit 16 bits");
          return;
        }
        global_.usage_page = item.udata;
        break;
      case kLogicalMinimum:
        global_.logical_minimum = item.SignedData();
        break;
      case kLogicalMaximum:
        global_.logical_maximum = {item.udata, item.size};
        break;
      case kPhysicalMinimum:
        global_.physical_minimum = item.SignedData();
        break;
      case kPhysicalMaximum:
        global_.physical_maximum = {item.udata, item.size};
        break;
      case kUnitExponent:
        if (item.udata <= 0xF) {
          global_.unit_exponent = static_cast<int32_t>(item.udata) - (item.udata >= 8 ? 16 : 0);
        } else {
          global_.unit_exponent = item.SignedData();
        }
        break;
      case kUnit:
        global_.unit = item.udata;
        break;
      case kReportSize:
        if (item.udata > kMaxReportSizeBits) {
          Fail(item.offset, "Report Size " + std::to_string(item.udata) + " exceeds " +
                                std::to_string(kMaxReportSizeBits) + " bits");
          return;
        }
        global_.report_size = item.udata;
        break;
      case kReportId:
        ParseReportId(item);
        break;
      case kReportCount:
        if (item.udata > kMaxReportCount) {
          Fail(item.offset, "Report Count " + std::to_string(item.udata) + " exceeds " +
                                std::to_string(kMaxReportCount));
          return;
        }
        global_.report_count = item.udata;
        break;
      case kPush:
        if (stack_.size() >= static_cast<std::size_t>(kMaxPushDepth)) {
          Fail(item.offset,
               "Push exceeds the global stack depth of " + std::to_string(kMaxPushDepth));
          return;
        }
        stack_.push_back(global_);
        break;
      case kPop:
        if (stack_.empty()) {
          Fail(item.offset, "Pop with an empty global stack");
          return;
        }
        global_ = stack_.back();
        stack_.pop_back();
        break;
      default:
        Fail(item.offset, "unknown global item tag " + std::to_string(item.tag) + " (prefix 0x" +
                              Hex(item.prefix) + ")");
        break;
    }
  }

  void ParseReportId(const Item& item) {
    if (item.udata == 0) {
      Fail(item.offset, "Report ID 0 is reserved");
      return;
    }
    if (item.udata > 0xFF) {
      Fail(item.offset, "Report ID " + std::to_string(item.udata) + " does not fit one byte");
      return;
    }
    for (const Report& report : result_.descriptor.reports) {
      if (report.id == 0) {
        Fail(item.offset, "Report ID after data items that had none");
        return;
      }
    }
    global_.report_id = static_cast<uint8_t>(item.udata);
    result_.descriptor.uses_report_ids = true;
  }

  void ParseLocal(const Item& item) {
    const UsageRef ref{item.udata, item.size == 4};
    switch (item.tag) {
      case kUsage:
        if (TakeDelimited()) local_.entries.push_back({ref, ref, false});
        break;
      case kUsageMinimum:
      case kUsageMaximum: {
        auto& slot = item.tag == kUsageMinimum ? local_.pending_minimum : local_.pending_maximum;
        if (slot) {
          Fail(item.offset,
               std::string(item.tag == kUsageMinimum ? "Usage Minimum" : "Usage Maximum") +
                   " repeated before the range was complete");
          return;
        }
        if (!local_.pending_minimum && !local_.pending_maximum) local_.pending_offset = item.offset;
        slot = ref;
        if (local_.pending_minimum && local_.pending_maximum) {
          if (TakeDelimited()) {
            local_.entries.push_back({*local_.pending_minimum, *local_.pending_maximum, true});
          }
          local_.pending_minimum.reset();
          local_.pending_maximum.reset();
        }
        break;
      }
      case kStringIndex:
        local_.string_index = item.udata;
        break;
      case kDelimiter:
        if (item.udata == 1) {
          if (local_.in_delimiter) {
            Fail(item.offset, "nested delimiter set");
            return;
          }
          local_.in_delimiter = true;
          local_.delimiter_taken = false;
        } else if (item.udata == 0) {
          if (!local_.in_delimiter) {
            Fail(item.offset, "delimiter close without an open set");
            return;
          }
          local_.in_delimiter = false;
        } else {
          Fail(item.offset,
               "delimiter value " + std::to_string(item.udata) + " is neither 0 nor 1");
        }
        break;
      default:
        break;  // designators, string ranges, reserved: not used here
    }
  }

  // In a delimiter set only the first usage counts.
  bool TakeDelimited() {
    if (!local_.in_delimiter) return true;
    if (local_.delimiter_taken) return false;
    local_.delimiter_taken = true;
    return true;
  }

  // Expands the local usages with the page in force now.
  bool ResolveUsages(const Item& item, std::vector<uint32_t>& out) {
    if (local_.pending_minimum || local_.pending_maximum) {
      Fail(local_.pending_offset,
           std::string(local_.pending_minimum ? "Usage Minimum without Usage Maximum"
                                              : "Usage Maximum without Usage Minimum"));
      return false;
    }
    if (local_.in_delimiter) {
      Fail(item.offset, "main item inside an open delimiter set");
      return false;
    }
    uint64_t total = 0;
    for (const LocalEntry& entry : local_.entries) {
      const uint32_t first = entry.first.Resolve(global_.usage_page);
      const uint32_t last = entry.last.Resolve(global_.usage_page);
      if (entry.range) {
        if ((first >> 16) != (last >> 16)) {
          Fail(item.offset,
               "usage range " + UsageHex(first) + ".." + UsageHex(last) + " spans two usage pages");
          return false;
        }
        if (last < first) {
          Fail(item.offset,
               "usage range " + UsageHex(first) + ".." + UsageHex(last) + " is reversed");
          return false;
        }
      }
      total += static_cast<uint64_t>(last - first) + 1;
      if (total > kMaxUsages) {
        Fail(item.offset, "more than " + std::to_string(kMaxUsages) + " usages for one main item");
        return false;
      }
    }
    out.reserve(static_cast<std::size_t>(total));
    for (const LocalEntry& entry : local_.entries) {
      const uint32_t first = entry.first.Resolve(global_.usage_page);
      const uint32_t last = entry.last.Resolve(global_.usage_page);
      for (uint32_t usage = first;; ++usage) {
        out.push_back(usage);
        if (usage == last) break;
      }
    }
    return true;
  }

  void ParseMain(const Item& item) {
    switch (item.tag) {
      case kInput:
        AddField(item, ReportType::Input);
        break;
      case kOutput:
        AddField(item, ReportType::Output);
        break;
      case kFeature:
        AddField(item, ReportType::Feature);
        break;
      case kCollection:
        OpenCollection(item);
        break;
      case kEndCollection:
        if (collections_.empty()) {
          Fail(item.offset, "End Collection without an open Collection");
          return;
        }
        collections_.pop_back();
        collection_usages_.pop_back();
        break;
      default:
        break;  // reserved main tag: ignored
    }
    local_ = LocalState{};
  }

  void OpenCollection(const Item& item) {
    if (collections_.size() >= static_cast<std::size_t>(kMaxCollectionDepth)) {
      Fail(item.offset,
           "Collection nesting exceeds " + std::to_string(kMaxCollectionDepth) + " levels");
      return;
    }
    std::vector<uint32_t> usages;
    if (!ResolveUsages(item, usages)) return;
    collections_.push_back(item.offset);
    collection_usages_.push_back(usages.empty() ? 0 : usages.front());
  }

  Report& FindOrAddReport(ReportType type, uint8_t id) {
    auto& reports = result_.descriptor.reports;
    for (Report& report : reports) {
      if (report.type == type && report.id == id) return report;
    }
    Report report;
    report.type = type;
    report.id = id;
    reports.push_back(report);
    return reports.back();
  }

  void AddField(const Item& item, ReportType type) {
    std::vector<uint32_t> usages;
    if (!ResolveUsages(item, usages)) return;
    if (global_.report_size == 0 || global_.report_count == 0) return;
    if (result_.descriptor.uses_report_ids && global_.report_id == 0) {
      Fail(item.offset, "data item without a Report ID in a descriptor that uses Report IDs");
      return;
    }
    Descriptor& descriptor = result_.descriptor;
    if (descriptor.fields.size() >= kMaxFields) {
      Fail(item.offset, "more than " + std::to_string(kMaxFields) + " fields");
      return;
    }
    // Check the length before creating the report entry so a failure leaves
    // nothing half-made (not that a failed result is used).
    uint32_t current_bits = 0;
    for (const Report& report : descriptor.reports) {
      if (report.type == type && report.id == global_.report_id) current_bits = report.size_bits;
    }
    const uint64_t bits = static_cast<uint64_t>(current_bits) +
                          static_cast<uint64_t>(global_.report_size) * global_.report_count;
    const uint64_t bytes = (bits + 7) / 8 + (descriptor.uses_report_ids ? 1 : 0);
    if (bytes > kMaxReportBytes) {
      Fail(item.offset, "report is " + std::to_string(bytes) + " bytes long; at most " +
                            std::to_string(kMaxReportBytes) + " are accepted");
      return;
    }

    Field field;
    field.type = type;
    field.report_id = global_.report_id;
    field.bit_offset = current_bits;
    field.report_size = global_.report_size;
    field.report_count = global_.report_count;
    field.flags = item.udata & 0x1FF;
    field.logical_minimum = global_.logical_minimum;
    field.logical_maximum = global_.logical_maximum.Resolve(global_.logical_minimum < 0);
    field.physical_minimum = global_.physical_minimum;
    field.physical_maximum = global_.physical_maximum.Resolve(global_.physical_minimum < 0);
    field.unit_exponent = global_.unit_exponent;
    field.unit = global_.unit;
    field.string_index = local_.string_index;
    field.collection_usage = collection_usages_.empty() ? 0 : collection_usages_.back();
    const bool constant = (field.flags & kConstant) != 0;
    if (!constant && !usages.empty()) {
      if (field.flags & kVariable) {
        field.usages.reserve(field.report_count);
        for (uint32_t i = 0; i < field.report_count; ++i) {
          field.usages.push_back(usages[std::min<std::size_t>(i, usages.size() - 1)]);
        }
      } else {
        field.usages = std::move(usages);
      }
    }

    Report& report = FindOrAddReport(type, global_.report_id);
    report.size_bits = static_cast<uint32_t>(bits);
    report.fields.push_back(descriptor.fields.size());
    descriptor.fields.push_back(std::move(field));
  }

  std::span<const uint8_t> bytes_;
  ParseResult result_;
  bool failed_ = false;
  GlobalState global_;
  std::vector<GlobalState> stack_;
  LocalState local_;
  std::vector<std::size_t> collections_;  // offsets of the open Collection items
  std::vector<uint32_t> collection_usages_;
};

}  // namespace

ParseResult ParseDescriptor(std::span<const uint8_t> bytes) {
  return Parser(bytes).Run();
}

}  // namespace pts::hid
