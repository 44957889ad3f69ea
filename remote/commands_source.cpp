// The signal source: frequency, sweep, level, model, EEPROM saves and the
// units' own read-back.
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "panel/encoding.h"
#include "panel/models.h"
#include "panel/number_text.h"
#include "remote/commands.h"

namespace pts::remote {

namespace {

// A frequency (or step) for a box: at or above 0, on the model's resolution,
// below the model's limit unless it is a step. False after queueing the error.
bool FrequencyValue(Ctx& c, double* v, bool limited) {
  if (!std::isfinite(*v) || *v < 0) {
    c.Error(kDataOutOfRange);
    return false;
  }
  *v = RoundToResolution(c.f, *v);
  if (limited && c.f.ModelNum && *v >= Limit(c.f)) {
    c.Error(kDataOutOfRange, LimitMessage(c.f.ModelNum));
    return false;
  }
  return true;
}

void WriteBox(Ctx& c, TextBox& box, Unit unit, bool limited) {
  double v = 0;
  int extreme = 0;
  if (!OneNumber(c, unit, false, &v, &extreme)) return;
  if (unit == Unit::Frequency) {
    if (!FrequencyValue(c, &v, limited)) return;
  } else if (!std::isfinite(v) || v < 0) {
    c.Error(kDataOutOfRange);
    return;
  }
  const std::string text = FormatNumber(v);
  if (box.MaxLength() > 0 && text.size() > static_cast<size_t>(box.MaxLength())) {
    c.Error(kDataOutOfRange);  // the box cannot hold it
    return;
  }
  box.Text(text);
}

// Before a sweep: a model, and start and stop below its limit (each step
// beyond it would show a box).
bool SweepAllowed(Ctx& c) {
  if (!HaveModel(c)) return false;
  const double top = std::max(ReadNumber(c.f.TextFreq.Text()), ReadNumber(c.f.TextFreqStop.Text()));
  if (top >= Limit(c.f)) {
    c.Error(kDataOutOfRange, LimitMessage(c.f.ModelNum));
    return false;
  }
  return true;
}
void SetFrequency(Ctx& c) {
  double v = 0;
  int extreme = 0;
  if (!OneNumber(c, Unit::Frequency, true, &v, &extreme) || !HaveModel(c)) return;
  if (extreme != 0) v = extreme < 0 ? 0 : Limit(c.f) - Resolution(c.f);
  if (!FrequencyValue(c, &v, true)) return;
  c.f.TextFreq.Text(FormatNumber(v));
  c.f.CmdSend_Click();
  Report(c);
}

// The output, as a source reports it: what the boards were last set to, not the box (FREQ:STAR?).
void QueryFrequency(Ctx& c) {
  if (c.cmd.params.empty()) {
    c.Answer(FormatNumber(c.f.OutputFrequency()));
    return;
  }
  double v = 0;
  int extreme = 0;
  if (!OneNumber(c, Unit::Frequency, true, &v, &extreme)) return;
  if (extreme == 0) {
    c.Error(kDataTypeError);
  } else if (extreme < 0) {
    c.Answer("0");
  } else if (HaveModel(c)) {
    c.Answer(FormatNumber(Limit(c.f) - Resolution(c.f)));
  }
}

void SetLevel(Ctx& c) {
  double v = 0;
  int extreme = 0;
  if (!OneNumber(c, Unit::None, true, &v, &extreme)) return;
  if (extreme != 0) v = extreme < 0 ? kLevelMin : kLevelMax;
  v = std::round(v);
  if (!(v >= kLevelMin && v <= kLevelMax)) {
    c.Error(kDataOutOfRange);
    return;
  }
  c.f.Knob1(10).Value(static_cast<int32_t>(v));
  c.f.Knob1_Change(10);  // as the operator's turn: the level display follows
}

void QueryLevel(Ctx& c) {
  double v = 0;
  int extreme = 0;
  if (c.cmd.params.empty()) {
    c.Answer(std::to_string(c.f.Knob1(10).Value()));
  } else if (OneNumber(c, Unit::None, true, &v, &extreme)) {
    if (extreme == 0) {
      c.Error(kDataTypeError);
    } else {
      c.Answer(std::to_string(extreme < 0 ? kLevelMin : kLevelMax));
    }
  }
}

void Initiate(Ctx& c) {
  if (!SweepAllowed(c)) return;
  c.f.CmdSngl_Click();
  Report(c);
}

void Continuous(Ctx& c) {
  const Param* one = OneParam(c);
  if (!one) return;
  const Param& p = *one;
  bool on = false;
  if (p.kind == Param::Kind::Word && (p.text == "ON" || p.text == "OFF")) {
    on = p.text == "ON";
  } else if (p.kind == Param::Kind::Number && p.text.empty() && std::isfinite(p.number)) {
    on = std::round(p.number) != 0;
  } else {
    c.Error(p.kind == Param::Kind::Number && !p.text.empty() ? kInvalidSuffix : kDataTypeError);
    return;
  }
  if (!on) {
    c.f.CmdStop_Click();
    return;
  }
  if (!SweepAllowed(c)) return;
  c.f.CmdStart_Click();
  Report(c);
}

void SetModel(Ctx& c) {
  const Param* one = OneParam(c);
  if (!one) return;
  const Param& p = *one;
  if (p.kind == Param::Kind::Number) {
    c.Error(kDataTypeError);
    return;
  }
  std::string name;
  for (char ch : p.text) {
    if (ch != ' ') name += static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
  }
  for (const MainForm::ModelChoice& choice : c.f.ModelChoices()) {
    const ModelRow* row = ModelRowOfItem(choice.item->Name());
    if (row && name == ModelName(row->model_num, "")) {
      std::invoke(choice.click, c.f);  // as the operator's menu choice
      return;
    }
  }
  c.Error(kDataOutOfRange);
}

void Save(Ctx& c, void (MainForm::*handler)()) {
  if (!HaveModel(c)) return;
  (c.f.*handler)();
  Report(c);
}

// Reads board UNIT<n> now, without the unit selection. False after queueing the error.
bool ReadUnit(Ctx& c, int32_t* data) {
  if (c.unit > static_cast<int>(c.f.Devices.size())) {
    c.Error(kHardwareMissing);
    return false;
  }
  const std::shared_ptr<TPTS> board = c.f.Devices[static_cast<size_t>(c.unit - 1)];
  if (!board->ReadAllReports()) {
    c.Error(kHardwareError, "unit " + std::to_string(c.unit) + " did not answer");
    return false;
  }
  *data = board->Data1()->UnScaledValue();
  return true;
}

}  // namespace

void AddSourceCommands(CommandList& t) {
  t.Add("[SOURce] FREQuency [CW|FIXed]", SetFrequency, QueryFrequency, true);
  t.Add(
      "[SOURce] FREQuency STARt", [](Ctx& c) { WriteBox(c, c.f.TextFreq, Unit::Frequency, true); },
      [](Ctx& c) { c.Answer(BoxNumber(c.f.TextFreq)); });
  t.Add(
      "[SOURce] FREQuency STOP",
      [](Ctx& c) { WriteBox(c, c.f.TextFreqStop, Unit::Frequency, true); },
      [](Ctx& c) { c.Answer(BoxNumber(c.f.TextFreqStop)); });
  t.Add(
      "[SOURce] SWEep STEP", [](Ctx& c) { WriteBox(c, c.f.TextFreqStep, Unit::Frequency, false); },
      [](Ctx& c) { c.Answer(BoxNumber(c.f.TextFreqStep)); });
  t.Add(
      "[SOURce] SWEep TIME", [](Ctx& c) { WriteBox(c, c.f.TextSweepTime, Unit::Time, false); },
      [](Ctx& c) { c.Answer(BoxNumber(c.f.TextSweepTime)); });
  t.Add("[SOURce] SWEep DWELl", nullptr,
        [](Ctx& c) { c.Answer(FormatNumber(c.f.DwellTime / 1000)); });
  t.Add("[SOURce] SWEep POINts", nullptr, [](Ctx& c) { c.Answer(FormatNumber(c.f.DwellNum)); });
  t.Add("[SOURce] SWEep STATe", nullptr, [](Ctx& c) {
    c.Answer(!Sweeping(c.f) ? "IDLE" : c.f.SnglSweepFlag ? "SING" : "CONT");
  });
  t.AddPlain("INITiate [IMMediate]", Initiate);
  t.Add("INITiate CONTinuous", Continuous,
        [](Ctx& c) { c.Answer(Sweeping(c.f) && !c.f.SnglSweepFlag ? "1" : "0"); });
  t.AddPlain("ABORt", [](Ctx& c) { c.f.CmdStop_Click(); });
  t.Add("[SOURce] LEVel", SetLevel, QueryLevel, true);
  t.Add("SYSTem MODel", SetModel, [](Ctx& c) { c.Answer(ModelName(c.f.ModelNum, "NONE")); });
  t.Add(
      "MEMory STORe FREQuency", [](Ctx& c) { Save(c, &MainForm::mnuSaveFreq_Click); }, nullptr);
  t.Add(
      "MEMory STORe MODel", [](Ctx& c) { Save(c, &MainForm::mnuSaveModel_Click); }, nullptr);
  t.Add("UNIT COUNt", nullptr, [](Ctx& c) { c.Answer(std::to_string(c.f.Devices.size())); });
  t.Add("UNIT# DATA", nullptr, [](Ctx& c) {
    int32_t data = 0;
    if (ReadUnit(c, &data)) c.Answer(std::to_string(data));
  });
  t.Add("UNIT# MODel", nullptr, [](Ctx& c) {
    int32_t data = 0;
    if (!ReadUnit(c, &data)) return;
    const int code = data & 0xF0;
    const ModelRow* row = ModelRowOfCode(code);
    c.Answer(code == kNoModelCode ? "NONE" : !row ? "UNKNOWN" : ModelName(row->model_num, ""));
  });
  t.Add("UNIT# NUMBer", nullptr, [](Ctx& c) {
    int32_t data = 0;
    if (ReadUnit(c, &data)) c.Answer(std::to_string(UnitFromData(data)));
  });
}

}  // namespace pts::remote
