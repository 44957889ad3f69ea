// The helpers the command files share: parameters, and reading the panel.
#include <cmath>
#include <string>
#include <string_view>

#include "panel/models.h"
#include "panel/number_text.h"
#include "remote/commands.h"

namespace pts::remote {

const Param* OneParam(Ctx& c) {
  if (c.cmd.params.size() == 1) return &c.cmd.params[0];
  c.Error(c.cmd.params.empty() ? kMissingParameter : kParameterNotAllowed);
  return nullptr;
}

bool OneNumber(Ctx& c, Unit unit, bool min_max, double* v, int* extreme) {
  const Param* one = OneParam(c);
  *extreme = 0;
  return one && NumberOf(c, *one, unit, min_max, v, extreme);
}

bool NumberOf(Ctx& c, const Param& p, Unit unit, bool min_max, double* v, int* extreme) {
  *extreme = 0;
  if (p.kind == Param::Kind::Word && min_max) {
    if (p.text == "MIN" || p.text == "MINIMUM") *extreme = -1;
    if (p.text == "MAX" || p.text == "MAXIMUM") *extreme = 1;
    if (*extreme != 0) return true;
  }
  if (p.kind != Param::Kind::Number) {
    c.Error(kDataTypeError);
    return false;
  }
  double scale = 0;
  if (p.text.empty()) {
    scale = 1;
  } else if (unit == Unit::Frequency) {
    scale = p.text == "HZ"    ? 1
            : p.text == "KHZ" ? 1e3
            : p.text == "MHZ" ? 1e6
            : p.text == "GHZ" ? 1e9
                              : 0;
  } else if (unit == Unit::Time) {
    scale = p.text == "S" ? 1 : p.text == "MS" ? 1e-3 : p.text == "US" ? 1e-6 : 0;
  }
  if (scale == 0) {
    c.Error(kInvalidSuffix);
    return false;
  }
  *v = p.number * scale;
  return true;
}

int OneWord(Ctx& c, std::initializer_list<const char*> words) {
  const Param* p = OneParam(c);
  if (!p) return -1;
  if (p->kind != Param::Kind::Word) {
    c.Error(kDataTypeError);
    return -1;
  }
  int index = 0;
  for (std::string_view word : words) {
    std::string short_form, long_form;
    for (char ch : word) {
      const bool lower = ch >= 'a' && ch <= 'z';
      if (!lower) short_form += ch;
      long_form += lower ? static_cast<char>(ch - 'a' + 'A') : ch;
    }
    if (p->text == short_form || p->text == long_form) return index;
    ++index;
  }
  c.Error(kIllegalParameterValue);
  return -1;
}

bool OneBoolean(Ctx& c, bool* on) {
  const Param* p = OneParam(c);
  if (!p) return false;
  if (p->kind == Param::Kind::Number && p->text.empty() && std::isfinite(p->number)) {
    *on = std::round(p->number) != 0;
    return true;
  }
  if (p->kind == Param::Kind::Number) {
    c.Error(p->text.empty() ? kDataOutOfRange : kInvalidSuffix);
    return false;
  }
  const int w = OneWord(c, {"ON", "OFF"});
  if (w >= 0) *on = w == 0;
  return w >= 0;
}

bool HaveModel(Ctx& c) {
  if (c.f.ModelNum) return true;
  c.Error(kSettingsConflict, kNoModel);
  return false;
}
double Resolution(const MainForm& f) {
  return ModelResolutionHz(f.ModelNum);
}
double RoundToResolution(const MainForm& f, double v) {
  return Resolution(f) == 1 ? std::round(v) : std::round(v * 10) / 10;
}
double Limit(const MainForm& f) {
  return ModelLimitHz(f.ModelNum);
}
std::string BoxNumber(const TextBox& box) {
  return FormatNumber(ReadNumber(box.Text()));
}

}  // namespace pts::remote
