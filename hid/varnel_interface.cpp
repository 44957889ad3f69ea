#include "hid/varnel_interface.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace pts::hid {

namespace {

// The packing goes a byte at a time: a sweep packs 13 fields per board per step.
uint64_t ReadBits(const std::vector<uint8_t>& buf, uint32_t pos, uint32_t count) {
  uint64_t v = 0;
  for (uint32_t i = 0; i < count;) {
    const uint32_t bit = pos + i;
    const uint32_t shift = bit % 8;
    const uint32_t n = std::min(8 - shift, count - i);
    const uint64_t chunk = (buf[bit / 8] >> shift) & ((1u << n) - 1);
    v |= chunk << i;
    i += n;
  }
  return v;
}

// Writes `count` bits of `value` from bit `pos` on; bits past 64 are `fill`.
void WriteBits(std::vector<uint8_t>& buf, uint32_t pos, uint32_t count, uint64_t value, bool fill) {
  for (uint32_t i = 0; i < count;) {
    const uint32_t bit = pos + i;
    const uint32_t shift = bit % 8;
    const uint32_t n = std::min(8 - shift, count - i);
    uint64_t chunk = fill ? ~uint64_t{0} : 0;
    if (i < 64) chunk = (value >> i) | (i > 0 ? chunk << (64 - i) : 0);
    const auto mask = static_cast<uint8_t>(((1u << n) - 1) << shift);
    uint8_t& byte = buf[bit / 8];
    byte = static_cast<uint8_t>((byte & ~mask) | ((static_cast<uint32_t>(chunk) << shift) & mask));
    i += n;
  }
}

int32_t ClampToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (v <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(std::lround(v));
}

void PhysicalRange(const Field& f, double* pmin, double* pmax) {
  if (f.physical_minimum == 0 && f.physical_maximum == 0) {
    *pmin = f.logical_minimum;
    *pmax = f.logical_maximum;
  } else {
    *pmin = f.physical_minimum;
    *pmax = f.physical_maximum;
  }
}

}  // namespace

bool BuildInterface(AgentInterface& in, std::span<const uint8_t> descriptor, std::string* why) {
  ParseResult pr = ParseDescriptor(descriptor);
  if (!pr.ok) {
    *why = pr.error;
    return false;
  }
  in.desc = std::move(pr.descriptor);
  std::size_t largest = 0;
  for (const auto& r : in.desc.reports) {
    in.reports.emplace_back(r.SizeBytes(), uint8_t{0});
    largest = std::max(largest, r.SizeBytes());
  }
  in.scratch.assign(largest + 1, 0);
  for (std::size_t fi = 0; fi < in.desc.fields.size(); ++fi) {
    const Field& f = in.desc.fields[fi];
    if (f.flags & kConstant) continue;
    std::size_t ri = in.desc.reports.size();
    for (std::size_t r = 0; r < in.desc.reports.size(); ++r) {
      if (in.desc.reports[r].type == f.type && in.desc.reports[r].id == f.report_id) {
        ri = r;
        break;
      }
    }
    if (ri == in.desc.reports.size()) {
      *why = "field " + std::to_string(fi) + " belongs to no report";
      return false;
    }
    // The parser bounds the report; checked again because the packing relies on it.
    const uint64_t end = uint64_t{f.bit_offset} + uint64_t{f.report_count} * f.report_size;
    if (end > uint64_t{in.reports[ri].size()} * 8) {
      *why = "field " + std::to_string(fi) + " lies outside its report";
      return false;
    }
    for (uint32_t e = 0; e < f.report_count; ++e) {
      AgentVar v;
      v.field = fi;
      v.report = ri;
      v.bit_pos = f.bit_offset + e * f.report_size;
      v.bits = f.report_size;
      v.is_signed = f.logical_minimum < 0;
      v.usage = f.usages.empty() ? 0 : f.usages[std::min<std::size_t>(e, f.usages.size() - 1)];
      in.vars.push_back(std::move(v));
    }
  }
  return true;
}

int32_t GetUnscaledValue(const AgentInterface& in, const AgentVar& v) {
  const uint32_t bits = std::min<uint32_t>(v.bits, 32);
  if (bits == 0) return 0;
  const uint64_t raw = ReadBits(in.reports[v.report], v.bit_pos, bits);
  if (v.is_signed && (raw & (uint64_t{1} << (bits - 1)))) {
    return static_cast<int32_t>(static_cast<int64_t>(raw) - (int64_t{1} << bits));
  }
  return static_cast<int32_t>(static_cast<uint32_t>(raw));
}

void SetUnscaledValue(AgentInterface& in, const AgentVar& v, int32_t value) {
  if (const int32_t byte = ByteOffsetOf(v); byte >= 0) {
    in.reports[v.report][static_cast<std::size_t>(byte)] = static_cast<uint8_t>(value);
    return;
  }
  // Bits past 32 of a wider field: the sign of a negative value in a signed field, else 0.
  const bool fill = value < 0 && v.is_signed;
  const uint64_t wide = fill ? static_cast<uint64_t>(static_cast<int64_t>(value))
                             : uint64_t{static_cast<uint32_t>(value)};
  WriteBits(in.reports[v.report], v.bit_pos, v.bits, wide, fill);
}

int32_t GetScaledValue(const AgentInterface& in, const AgentVar& v) {
  const Field& f = in.FieldOf(v);
  const double logical = GetUnscaledValue(in, v);
  double pmin = 0, pmax = 0;
  PhysicalRange(f, &pmin, &pmax);
  const double lmin = f.logical_minimum;
  const double lmax = f.logical_maximum;
  if (lmax == lmin) return ClampToInt32(pmin);
  return ClampToInt32(pmin + (logical - lmin) * (pmax - pmin) / (lmax - lmin));
}

void SetScaledValue(AgentInterface& in, const AgentVar& v, int32_t value) {
  const Field& f = in.FieldOf(v);
  double pmin = 0, pmax = 0;
  PhysicalRange(f, &pmin, &pmax);
  const double lmin = f.logical_minimum;
  const double lmax = f.logical_maximum;
  const double logical =
      pmax == pmin ? lmin
                   : lmin + (static_cast<double>(value) - pmin) * (lmax - lmin) / (pmax - pmin);
  SetUnscaledValue(in, v, ClampToInt32(logical));
}

}  // namespace pts::hid
