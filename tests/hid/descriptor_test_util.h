// Helpers for the descriptor tests: descriptors are written as hex text so the
// tests read like the item lists in the HID tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hid/descriptor.h"

namespace pts::hid::testing {

// "05 01 09 02" -> {0x05, 0x01, 0x09, 0x02}; blanks are ignored.
inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> out;
  std::string digits;
  for (char c : text) {
    if (c == ' ') continue;
    digits += c;
    if (digits.size() == 2) {
      out.push_back(static_cast<uint8_t>(std::stoul(digits, nullptr, 16)));
      digits.clear();
    }
  }
  return out;
}

inline std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text + " ";
  return out;
}

inline ParseResult Parse(const std::string& hex) {
  return ParseDescriptor(Hex(hex));
}

}  // namespace pts::hid::testing
