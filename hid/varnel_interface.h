// What the agent keeps per open interface: the parsed descriptor, a copy of
// every report, the interface's variables (one per data element) and the
// packing of their values into the report copies. Internal to the agent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "hid/backend.h"
#include "hid/descriptor.h"
#include "hid/io_worker.h"

namespace pts::hid {

// One data element of a field: what the agent numbers as a variable.
struct AgentVar {
  std::size_t field = 0;   // index into Descriptor::fields
  std::size_t report = 0;  // index into AgentInterface::reports
  uint32_t bit_pos = 0;    // first bit in the report copy
  // The field's width and sign, copied here so that packing a value touches
  // the variable and the report copy only.
  uint32_t bits = 0;
  bool is_signed = false;
  uint32_t usage = 0;      // extended usage (page << 16 | id)
  int32_t scale_mode = 0;  // smBoth
  std::string name;
};

struct AgentInterface {
  int32_t handle = 0;
  DeviceId id = 0;
  std::string path;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  std::string name;
  Descriptor desc;
  std::vector<std::vector<uint8_t>> reports;  // one copy per Descriptor::reports entry
  std::vector<AgentVar> vars;
  std::vector<uint8_t> scratch;  // id byte + largest report; reused for every transfer
  int32_t var_base = 0;          // all-variable index of vars[0]
  int32_t rpt_base = 0;          // all-report index of reports[0]
  // Made on the first write that may block and goes side by side with others;
  // stopped before the device is closed.
  std::unique_ptr<IoWorker> worker;

  const Field& FieldOf(const AgentVar& v) const { return desc.fields[v.field]; }
};

// Parses `descriptor` into `in` (reports, copies, variables). False with a
// reason when the descriptor does not parse or describes fields outside their report.
bool BuildInterface(AgentInterface& in, std::span<const uint8_t> descriptor, std::string* why);

// The element's bits in the report copy, little-endian as HID packs them;
// sign-extended when the logical minimum is negative. Fields wider than 32
// bits give their low 32 bits.
int32_t GetUnscaledValue(const AgentInterface& in, const AgentVar& v);
// Stores `value` truncated to the field's width.
void SetUnscaledValue(AgentInterface& in, const AgentVar& v, int32_t value);
// The byte of its report copy that a one-byte field (the boards' fields) fills
// alone; -1 for any other width or position.
inline int32_t ByteOffsetOf(const AgentVar& v) {
  return v.bits == 8 && v.bit_pos % 8 == 0 ? static_cast<int32_t>(v.bit_pos / 8) : -1;
}
// Linear logical -> physical mapping (both physical limits 0: physical = logical),
// rounded to the nearest integer and clamped to 32 bits.
int32_t GetScaledValue(const AgentInterface& in, const AgentVar& v);
void SetScaledValue(AgentInterface& in, const AgentVar& v, int32_t value);

}  // namespace pts::hid
