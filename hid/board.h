// The interface board's own facts, for everything that talks to it: the USB
// ids it is matched by and the command codes of its output word (Cmd1).
#pragma once

#include <cstdint>

namespace pts::hid {

inline constexpr uint16_t kBoardVendorId = 0x19A1;   // 6561
inline constexpr uint16_t kBoardProductId = 0x0064;  // 100

// What the board does with the word it receives.
inline constexpr uint8_t kCmdSetOutput = 4;       // set frequency and level
inline constexpr uint8_t kCmdStoreFrequency = 5;  // store frequency and level in its EEPROM
inline constexpr uint8_t kCmdStoreModel = 6;      // store the model code (F7) in its EEPROM

}  // namespace pts::hid
