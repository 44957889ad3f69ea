// Feeds arbitrary bytes to the report-descriptor parser and checks that what it
// accepts is self-consistent; ASan and UBSan catch the rest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "hid/descriptor.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckResult(std::span<const uint8_t> bytes, const pts::hid::ParseResult& result) {
  using namespace pts::hid;
  if (!result.ok) {
    Check(!result.error.empty());
    Check(result.error_offset <= bytes.size() || result.error_offset == kMaxDescriptorSize);
    return;
  }
  Check(result.error.empty());
  const Descriptor& d = result.descriptor;
  Check(d.fields.size() <= kMaxFields);
  std::size_t listed = 0;
  for (const Report& report : d.reports) {
    Check(report.SizeBytes() + (d.uses_report_ids ? 1 : 0) <= kMaxReportBytes);
    Check(d.uses_report_ids == (report.id != 0));
    uint32_t end = 0;
    for (std::size_t index : report.fields) {
      Check(index < d.fields.size());
      const Field& f = d.fields[index];
      Check(f.type == report.type && f.report_id == report.id);
      Check(f.bit_offset == end);  // fields are contiguous, in order
      Check(f.report_size >= 1 && f.report_size <= kMaxReportSizeBits);
      Check(f.report_count >= 1 && f.report_count <= kMaxReportCount);
      if (!f.usages.empty() && (f.flags & kVariable)) Check(f.usages.size() == f.report_count);
      Check(f.usages.size() <= kMaxUsages);
      end += f.report_size * f.report_count;
      ++listed;
    }
    Check(end == report.size_bits);
  }
  Check(listed == d.fields.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  CheckResult(bytes, pts::hid::ParseDescriptor(bytes));
  return 0;
}
