#include "panel/accessible_names.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include "panel/mainform.h"
#include "panel/models.h"

namespace pts {

namespace {

// The index inside "Knob1(3)"; -1 when the name has none.
int IndexIn(const std::string& name) {
  const auto open = name.find('(');
  if (open == std::string::npos) return -1;
  return std::atoi(name.c_str() + open + 1);
}

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

std::string DescriptionOfName(const std::string& name) {
  static const std::map<std::string, const char*> kDescriptions = {
      {"TextFreq", "Frequency in hertz (sweep start)"},
      {"TextFreqStop", "Sweep stop frequency in hertz"},
      {"TextFreqStep", "Sweep frequency step in hertz"},
      {"TextSweepTime", "Sweep time in seconds"},
      {"CmdSend", "Send the frequency"},
      {"CmdStart", "Start a repeating sweep"},
      {"CmdStop", "Stop the sweep"},
      {"CmdSngl", "Run a single sweep"},
      {"ComdOff", "End the program"},
      {"SendLED", "Send light"},
      {"StartLED", "Sweep running light"},
      {"StopLED", "Sweep stopped light"},
      {"SnglLED", "Single sweep light"},
      {"PowerLED", "Power light"},
      {"Label5", "Synthesizer model"},
      {"Label8", "Title"},
      {"Label9", "Decimal point"},
      {"D(10)", "Output level"},
  };
  if (auto it = kDescriptions.find(name); it != kDescriptions.end()) return it->second;
  return {};
}

std::string DigitWeightText(const MainForm& form, int index) {
  // Hertz as a power of ten: 10^8 for the first digit, 10^9 with the PTS 3200.
  const int e = (WideModel(form.ModelNum) ? 9 : 8) - index;
  if (e < 0) return "0.1 Hz";
  static const char* const kUnits[] = {"Hz", "kHz", "MHz", "GHz"};
  const int group = std::min(e / 3, 3);
  return std::to_string(int(std::lround(std::pow(10, e - 3 * group)))) + " " + kUnits[group];
}

std::string ShownCaption(const std::string& caption) {
  size_t begin = 0, end = caption.size();
  while (begin < end && Blank(caption[begin])) ++begin;
  while (end > begin && Blank(caption[end - 1])) --end;
  std::string shown;
  for (size_t i = begin; i < end; ++i) {
    if (caption[i] == '&') {
      if (i + 1 < end && caption[i + 1] == '&') shown += caption[++i];
      continue;
    }
    shown += caption[i];
  }
  return shown;
}

std::string AccessibleName(const MainForm& form, const Control& control) {
  const std::string& name = control.Name();
  if (auto* box = dynamic_cast<const TextBox*>(&control)) {
    const Label* caption = box == &form.TextFreq       ? &form.Label11
                           : box == &form.TextFreqStop ? &form.Label12
                           : box == &form.TextFreqStep ? &form.Label6
                                                       : &form.Label13;
    return ShownCaption(caption->Caption());
  }
  if (dynamic_cast<const Knob*>(&control)) {
    const int i = IndexIn(name);
    return i == 10 ? "Output level knob" : "Frequency digit " + std::to_string(i + 1) + " knob";
  }
  if (auto* shape = dynamic_cast<const Shape*>(&control)) {
    if (shape->ShapeKind() != Shape::Kind::Circle) return {};
    return DescriptionOfName(name) + (shape->Filled() ? ", lit" : ", dark");
  }
  if (&control == &form.Label9)
    return "Decimal point";  // the mark shows no text a reader could say
  if (auto* label = dynamic_cast<const Label*>(&control)) return ShownCaption(label->Caption());
  return {};
}

std::string AccessibleDescription(const MainForm& form, const Control& control) {
  const std::string& name = control.Name();
  const int i = IndexIn(name);
  if (dynamic_cast<const Knob*>(&control)) {
    return i == 10 ? "Output level" : DigitWeightText(form, i);
  }
  if (dynamic_cast<const OptionButton*>(&control)) return "Unit button " + std::to_string(i + 1);
  if (dynamic_cast<const Shape*>(&control) || &control == &form.Label9) return {};
  if (name.rfind("D(", 0) == 0 && i >= 0 && i < 10) {
    return "Frequency digit, " + DigitWeightText(form, i);
  }
  return DescriptionOfName(name);
}

}  // namespace pts
