// The synthesizer models: one table serves the menus, the label texts, the
// model codes, the frequency limits, the encoding and the digit layouts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pts {

// The frequency at and above which a model number refuses: that many MHz
// (0 without a model). In doubles: the PTS 3200's 3.2 GHz exceeds 32 bits.
constexpr double ModelLimitHz(std::optional<int16_t> model_num) {
  return model_num.value_or(0) * 1000000.0;
}

struct ModelRow {
  const char* item;     // menu item name, e.g. "MNUpts160"
  const char* caption;  // menu caption, e.g. "&PTS 160"
  const char* label;    // Label5 text when chosen from the menu, e.g. "PTS  10"
  int16_t model_num;    // 10 .. 3200
  int16_t code;         // Mnum and Data1's high nibble: 0x10 .. 0x80
  // Ten digits of 1 Hz with their own layout: the word carries a tenth of the
  // frequency (PTS 3200 only).
  bool wide;
  // From 100 MHz, F5 carries 10 plus the 10 MHz digit as one value (PTS 160 only).
  bool tens_in_f5;
};

inline constexpr std::array<ModelRow, 8> kModels{{
    {"mnuPTS10", "&PTS 10", "PTS  10", 10, 0x10, false, false},
    {"MNUpts160", "&PTS 160", "PTS 160", 160, 0x20, false, true},
    {"mnuPTs200", "&PTS 200", "PTS 200", 200, 0x30, false, false},
    {"mnuPTS310", "&PTS 310", "PTS 310", 310, 0x40, false, false},
    {"mnuPTS500", "&PTS 500", "PTS 500", 500, 0x50, false, false},
    {"mnuPTS620", "&PTS 620", "PTS 620", 620, 0x60, false, false},
    {"mnuOther", "&PTS1000", "PTS 1000", 1000, 0x70, false, false},
    {"mnuPTS3200", "&PTS3200", "PTS 3200", 3200, 0x80, true, false},
}};

// Model code stored by a board without a model.
inline constexpr int kNoModelCode = 0xF0;

// The row of a model number, of a model code (Data1 and 0xF0) or of a menu
// item name; null when the table has none.
constexpr const ModelRow* ModelRowOf(std::optional<int16_t> model_num) {
  if (!model_num) return nullptr;
  for (const ModelRow& row : kModels) {
    if (row.model_num == *model_num) return &row;
  }
  return nullptr;
}
constexpr const ModelRow* ModelRowOfCode(int code) {
  for (const ModelRow& row : kModels) {
    if (row.code == code) return &row;
  }
  return nullptr;
}
constexpr const ModelRow* ModelRowOfItem(std::string_view item) {
  for (const ModelRow& row : kModels) {
    if (item == row.item) return &row;
  }
  return nullptr;
}

// A model as SCPI names it, "PTS500" (*IDN?, SYSTem:MODel, DNS-SD's TXT), and
// as people write it, "PTS 500" (the web page, the service's name); `none`
// without a model.
inline std::string ModelScpiName(std::optional<int16_t> model_num, const char* none) {
  return model_num ? "PTS" + std::to_string(*model_num) : none;
}
inline std::string ModelDisplayName(std::optional<int16_t> model_num, const char* none) {
  return model_num ? "PTS " + std::to_string(*model_num) : none;
}

// The ten-digit, 1 Hz layout and weights; not without a model.
constexpr bool WideModel(std::optional<int16_t> model_num) {
  const ModelRow* row = ModelRowOf(model_num);
  return row && row->wide;
}

// The step of a model's digits: 1 Hz for the wide one, else (also without a model) 0.1 Hz.
constexpr double ModelResolutionHz(std::optional<int16_t> model_num) {
  return WideModel(model_num) ? 1 : 0.1;
}

}  // namespace pts
