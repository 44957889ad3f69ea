// The synthesizer models: one table serves the menus, the label texts, the
// model codes, the frequency limits and the digit layouts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace pts {

struct ModelRow {
  const char* item;     // menu item name, e.g. "MNUpts160"
  const char* caption;  // menu caption, e.g. "&PTS 160"
  const char* label;    // Label5 text when chosen from the menu, e.g. "PTS  10"
  int16_t model_num;    // 10 .. 3200
  int16_t code;         // Mnum and Data1's high nibble: 0x10 .. 0x80
  bool wide;            // the ten-digit, 1 Hz layout (PTS 3200 only)
  double LimitHz() const { return model_num * 1000000.0; }
};

inline constexpr std::array<ModelRow, 8> kModels{{
    {"mnuPTS10", "&PTS 10", "PTS  10", 10, 0x10, false},
    {"MNUpts160", "&PTS 160", "PTS 160", 160, 0x20, false},
    {"mnuPTs200", "&PTS 200", "PTS 200", 200, 0x30, false},
    {"mnuPTS310", "&PTS 310", "PTS 310", 310, 0x40, false},
    {"mnuPTS500", "&PTS 500", "PTS 500", 500, 0x50, false},
    {"mnuPTS620", "&PTS 620", "PTS 620", 620, 0x60, false},
    {"mnuOther", "&PTS1000", "PTS 1000", 1000, 0x70, false},
    {"mnuPTS3200", "&PTS3200", "PTS 3200", 3200, 0x80, true},
}};

// Model code stored by a board without a model.
inline constexpr int kNoModelCode = 0xF0;

// The row for a model code (Data1 and 0xF0) or a model number; -1 when none.
constexpr int ModelRowByCode(int code) {
  for (int i = 0; i < static_cast<int>(kModels.size()); ++i) {
    if (kModels[static_cast<std::size_t>(i)].code == code) return i;
  }
  return -1;
}
constexpr int ModelRowByNum(int model_num) {
  for (int i = 0; i < static_cast<int>(kModels.size()); ++i) {
    if (kModels[static_cast<std::size_t>(i)].model_num == model_num) return i;
  }
  return -1;
}

}  // namespace pts
