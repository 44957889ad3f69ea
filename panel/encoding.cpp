#include "panel/encoding.h"

#include <algorithm>
#include <cmath>

#include "panel/models.h"
#include "panel/number_text.h"

namespace pts {

namespace {

// A digit as an integer; values no table holds stay out of 0..9 without overflowing.
int32_t ToDigit(double x) {
  if (!(x >= 0)) return -1;
  return x > 99 ? 99 : static_cast<int32_t>(x);
}

// The digits of a working value: d[8] (100 MHz) down to d[0] (1 Hz) and dt,
// the tenths rounded half up, which is 10 for a fraction of about 0.95 or more.
struct Digits {
  std::array<int32_t, 9> d{};  // d[i] weighs 10^i
  int32_t dt = 0;
};

Digits WordDigits(double v) {
  const std::array<double, 10> split = SplitDigits(v);  // most significant first
  Digits g;
  for (size_t i = 0; i < 9; ++i) g.d[8 - i] = ToDigit(split[i]);
  g.dt = ToDigit(split[9]);
  return g;
}

std::string ModelText(std::optional<int16_t> model_num) {
  return model_num ? std::to_string(*model_num) : std::string();
}

}  // namespace

int32_t LevelPwm(int32_t k) {
  const int16_t knob = static_cast<int16_t>(k);
  // The constants are the board's calibration; the base is deliberately not std::exp's e.
  // nearbyint under the default rounding mode rounds halves to even.
  return static_cast<int32_t>(std::nearbyint(34.3687 * std::pow(2.718281828, 0.108598 * knob)));
}

int32_t UnitFromData(int32_t data1) {
  // Bits 3..1 of Data1, shifted down, to the number set on the board's jumpers.
  static constexpr std::array<int32_t, 8> kUnitByCode{7, 5, 3, 1, 6, 4, 2, 0};
  return kUnitByCode[static_cast<size_t>((data1 & 0x0E) >> 1)];
}

std::string LimitMessage(std::optional<int16_t> model_num) {
  const std::string m = ModelText(model_num);
  return "Frequency >= " + m + " MHz is NOT Supported on PTS " + m;
}

Encoding EncodeFrequency(double frequency, std::optional<int16_t> model_num,
                         std::optional<int16_t> cmd1, std::optional<int16_t> mnum, int32_t level) {
  Encoding e;
  // A negative or non-finite value has no digits; the split would index the tables with them.
  if (!std::isfinite(frequency) || frequency < 0) return e;

  const double limit = ModelLimitHz(model_num);
  if (frequency > 0 && frequency >= limit) {
    e.outcome = Encoding::Outcome::OverLimit;
    e.message = LimitMessage(model_num);
    return e;
  }

  const ModelRow* row = ModelRowOf(model_num);
  const bool wide = row && row->wide;  // every digit weighs ten times as much
  Digits g = WordDigits(wide ? frequency / 10 : frequency);
  if (g.dt >= 10) {
    // The fraction rounds up to a whole unit: carry it into the digits above,
    // so 10.96 Hz goes out as 11.0 Hz rather than as a tenths digit of 10.
    g.dt = 0;
    ++g.d[0];
    for (size_t i = 0; i < 8 && g.d[i] == 10; ++i) {
      g.d[i] = 0;
      ++g.d[i + 1];
    }
  }
  // The frequency the digits carry, in tenths of their unit: exact in a double.
  double tenths = 0;
  for (size_t i = g.d.size(); i-- > 0;) tenths = tenths * 10 + g.d[i];
  tenths = tenths * 10 + g.dt;
  e.hz = wide ? tenths : tenths / 10;
  if (e.hz > 0 && e.hz >= limit) {  // only a carry can reach the limit
    e.outcome = Encoding::Outcome::OverLimit;
    e.message = LimitMessage(model_num);
    return e;
  }
  const bool tens160 = row && row->tens_in_f5 && g.d[8] == 1;
  const auto digit_ok = [](int32_t d) { return d >= 0 && d <= 9; };
  if (!std::all_of(g.d.begin(), g.d.end(), digit_ok) || !digit_ok(g.dt) ||
      (tens160 && g.d[7] > 5)) {
    return e;  // beyond ten digits (a model limit above 1 GHz that is not in the table)
  }

  const auto pair = [&](int32_t low, int32_t high) {
    return static_cast<uint8_t>(kLowDigitCode[static_cast<size_t>(low)] +
                                kHighDigitCode[static_cast<size_t>(high)]);
  };
  DeviceWord& w = e.word;
  w[kCmd1] = static_cast<uint8_t>(cmd1.value_or(0));
  w[kPWMDC] = static_cast<uint8_t>(LevelPwm(std::clamp(level, kLevelMin, kLevelMax)));
  w[kPWMF] = kPwmFrequency;
  w[kF1] = pair(g.dt, g.d[0]);
  w[kF2] = pair(g.d[1], g.d[2]);
  w[kF3] = pair(g.d[3], g.d[4]);
  w[kF4] = pair(g.d[5], g.d[6]);
  w[kF5] = tens160 ? kTens160Code[static_cast<size_t>(g.d[7])] : pair(g.d[7], g.d[8]);
  w[kF6] = 0;
  w[kF7] = static_cast<uint8_t>(mnum.value_or(0));
  w[kF8] = w[kF9] = w[kF10] = 0;
  e.outcome = Encoding::Outcome::Word;
  return e;
}

}  // namespace pts
