// The device word: what one send puts into the board's output report, as a
// pure function of the frequency, the model, the command code, the model code
// and the level knob. MainForm::TranslateFrequency loads it into every board.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace pts {

// A digit in inverted BCD, two digits to a byte on disjoint bits.
// Low digit: BCD weight 1 on bit 7, 2 on bit 6, 4 on bit 0, 8 on bit 1.
inline constexpr std::array<uint8_t, 10> kLowDigitCode{195, 67, 131, 3, 194, 66, 130, 2, 193, 65};
// High digit: BCD weight 1 on bit 5, 2 on bit 4, 4 on bit 3, 8 on bit 2.
inline constexpr std::array<uint8_t, 10> kHighDigitCode{60, 28, 44, 12, 52, 20, 36, 4, 56, 24};
// PTS 160 from 100 MHz: 10 plus the 10 MHz digit (0..5) in the low-digit layout.
inline constexpr std::array<uint8_t, 6> kTens160Code{129, 1, 192, 64, 128, 0};

// Output report A in the order of its variables.
enum WordPos : int { kCmd1, kPWMDC, kPWMF, kF1, kF2, kF3, kF4, kF5, kF6, kF7, kF8, kF9, kF10 };
using DeviceWord = std::array<uint8_t, 13>;

inline constexpr uint8_t kPwmFrequency = 100;
// The level knob's range.
inline constexpr int32_t kLevelMin = 3;
inline constexpr int32_t kLevelMax = 13;

// The PWM duty value for level knob position k (48 .. 141 for 3 .. 13).
int32_t LevelPwm(int32_t k);

// The unit number 0..7 of a Data1 value (its bits 3..1).
int32_t UnitFromData(int32_t data1);

// "Frequency >= <m> MHz is NOT Supported on PTS <m>", <m> empty without a model.
std::string LimitMessage(std::optional<int16_t> model_num);

struct Encoding {
  enum class Outcome {
    Word,       // send `word`
    OverLimit,  // at or above the model's limit: show `message`, send nothing
    Invalid,    // negative, not finite or beyond ten digits: beep, send nothing
  };
  Outcome outcome = Outcome::Invalid;
  std::string message;
  DeviceWord word{};
  double hz = 0;  // with a word: the frequency its digits carry, after the rounding of the tenths
};

// Empty optionals are sent as 0 (command and model code) and mean "no model"
// (every frequency above 0 is over the limit). `level` outside the knob's
// range is taken at the nearest end of it.
Encoding EncodeFrequency(double frequency, std::optional<int16_t> model_num,
                         std::optional<int16_t> cmd1, std::optional<int16_t> mnum, int32_t level);

}  // namespace pts
