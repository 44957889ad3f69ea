// Frequency box, key filter, knobs and the two digit layouts.
#include <cmath>
#include <string>
#include <string_view>

#include "panel/mainform.h"
#include "panel/models.h"
#include "panel/number_text.h"

namespace pts {

namespace {

// Characters (UTF-8 code points) as the operator counts them; a cut never
// splits one, so the box never holds a broken character.
size_t CharCount(std::string_view s) {
  size_t n = 0;
  for (unsigned char b : s) n += (b & 0xC0) != 0x80;
  return n;
}

std::string FirstChars(std::string_view s, size_t n) {
  size_t seen = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && seen++ == n) {
      return std::string(s.substr(0, i));
    }
  }
  return std::string(s);
}

// Where a knob stands for a computed digit. Pasted text can give digits above
// 9, negative ones or non-finite ones; the knob stays within its range (NaN
// puts it at its minimum). Checked before the cast: converting a non-finite or
// out-of-range double to int is undefined.
int32_t KnobPosition(double digit, const Knob& knob) {
  if (!(digit >= knob.Min())) return knob.Min();
  if (digit > knob.Max()) return knob.Max();
  return static_cast<int32_t>(digit);
}

// The digit label shows the computed digit itself, out-of-range ones included
// (a 10 or 11 digit text gives a first digit of 10..999). A digit that is not
// finite or too large to write exactly (pasted exponents such as 1e400 or
// 1e30) shows "?".
std::string DigitText(double digit) {
  if (!std::isfinite(digit) || std::fabs(digit) > 999999999999999.0) return "?";
  return FormatNumber(digit);
}

struct DigitLayout {
  int32_t group_width[3];
  int32_t group_left[3];
  int32_t knob3_left, knob6_left;
  int32_t mhz_left, khz_left, hz_left;
  int32_t d3_left, d6_left;
  bool decimal_mark;
};
// PTS 3200: 1 GHz..1 MHz, 100 kHz..1 kHz, 100 Hz..1 Hz, no decimal mark.
constexpr DigitLayout kLayout3200{
    {2900, 2175, 2295}, {840, 3950, 6350}, 3120, 5520, 1920, 4740, 7200, 3240, 5640, false};
// Every other model: 100 MHz..1 MHz, 100 kHz..1 kHz, 100 Hz..0.1 Hz with the mark.
constexpr DigitLayout kLayoutNormal{
    {2175, 2175, 3015}, {840, 3249, 5640}, 3360, 5760, 1560, 4080, 6720, 3480, 5880, true};

void ApplyLayout(MainForm& f, const DigitLayout& l) {
  for (int i = 0; i < 3; ++i) {
    f.Shape2(i).Width(l.group_width[i]);
    f.Shape2(i).Left(l.group_left[i]);
  }
  f.Knob1(3).Left(l.knob3_left);
  f.Knob1(6).Left(l.knob6_left);
  f.Label2.Left(l.mhz_left);
  f.Label3.Left(l.khz_left);
  f.Label4.Left(l.hz_left);
  f.D(3).Left(l.d3_left);
  f.D(6).Left(l.d6_left);
  f.Label9.Visible(l.decimal_mark);
}

}  // namespace

void MainForm::WriteFreqText(const std::string& text) {
  if (TextFreq.Text() == text) {
    TextFreq_Change();
  } else {
    TextFreq.Text(text);
  }
}

void MainForm::TextFreq_Change() {
  // Any change clears the green that marks a sent frequency.
  TextFreq.BackColor(kWindowBackground);
  const bool wide = WideModel(ModelNum);
  const std::string text = TextFreq.Text();  // a copy: the cut below rewrites the box
  const size_t limit = wide ? kTextFreqLimit3200 : kTextFreqLimit;
  if (CharCount(text) > limit) {
    // The write runs this handler again with the short text, which does the work.
    TextFreq.Text(FirstChars(text, limit));
    return;
  }
  Frequency = ReadNumber(text);
  const std::array<double, 10> d = SplitDigits(wide ? Frequency / 10 : Frequency);
  for (int i = 0; i < 10; ++i) {
    Knob1(i).Value(KnobPosition(d[static_cast<size_t>(i)], Knob1(i)));
    D(i).Caption(DigitText(d[static_cast<size_t>(i)]));
  }
}

void MainForm::TextFreq_GotFocus() {
  WriteFreqText("");
}

void MainForm::TextFreq_KeyPress(int16_t& KeyAscii) {
  KeyAscii = LimitTextInput(KeyAscii);
}

void MainForm::TextFreqStop_KeyPress(int16_t& KeyAscii) {
  KeyAscii = LimitTextInput(KeyAscii);
}

int16_t MainForm::LimitTextInput(int16_t KeyAscii) {
  if (KeyAscii == 8) return KeyAscii;
  if (KeyAscii > 0 && KeyAscii < 128 &&
      std::string_view("0123456789.").find(static_cast<char>(KeyAscii)) != std::string_view::npos) {
    return KeyAscii;
  }
  return 0;
}

void MainForm::Knob1_Change(int16_t /*Index*/) {
  for (int i = 0; i <= 10; ++i) D(i).Caption(FormatSigned(Knob1(i).Value()));
  double total = 0;
  for (int i = 0; i < 10; ++i) total += Knob1(i).Value() * std::pow(10.0, 8 - i);
  if (WideModel(ModelNum)) total *= 10;
  // Runs TextFreq_Change, which sets Frequency and the digits again.
  WriteFreqText(FormatNumber(total));
}

void MainForm::Display3200() {
  ApplyLayout(*this, kLayout3200);
}

void MainForm::DisplayNormal() {
  ApplyLayout(*this, kLayoutNormal);
}

}  // namespace pts
