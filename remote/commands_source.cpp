// The signal source: frequency and its mode, the sweep's set-up, level,
// model, EEPROM saves and the units' own read-back.
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "panel/encoding.h"
#include "panel/models.h"
#include "panel/number_text.h"
#include "panel/sweep_rules.h"
#include "remote/commands.h"

namespace pts::remote {

Refusal CheckFrequency(const MainForm& f, double* v, bool limited) {
  if (!std::isfinite(*v) || *v < 0) return {kDataOutOfRange};
  *v = RoundToResolution(f, *v);
  if (limited && f.ModelNum && *v >= Limit(f)) {
    return {kDataOutOfRange, LimitMessage(f.ModelNum)};
  }
  return {};
}

bool FrequencyValue(Ctx& c, double* v, bool limited) {
  const Refusal r = CheckFrequency(c.f, v, limited);
  if (r) c.Error(r.code, r.detail);
  return !r;
}

Refusal CheckLevel(double* v) {
  *v = std::round(*v);
  if (!(*v >= kLevelMin && *v <= kLevelMax)) return {kDataOutOfRange};
  return {};
}

namespace {

constexpr const char* kNoSpan = "start and stop give no span";
constexpr const char* kNoSweep = "start, stop and step give no sweep";
bool Fits(const TextBox& box, const std::string& text) {
  return box.MaxLength() <= 0 || text.size() <= static_cast<size_t>(box.MaxLength());
}

}  // namespace

Refusal CheckBoxValue(const MainForm& f, const TextBox& box, Unit unit, bool limited, double v,
                      std::string* text) {
  if (unit == Unit::Frequency) {
    if (Refusal r = CheckFrequency(f, &v, limited)) return r;
  } else if (!std::isfinite(v) || v < 0) {
    return {kDataOutOfRange};
  }
  *text = FormatNumber(v);
  if (!Fits(box, *text)) return {kDataOutOfRange};  // the box cannot hold it
  return {};
}

namespace {

void WriteBox(Ctx& c, TextBox& box, Unit unit, bool limited) {
  double v = 0;
  int extreme = 0;
  if (!OneNumber(c, unit, false, &v, &extreme)) return;
  std::string text;
  if (const Refusal r = CheckBoxValue(c.f, box, unit, limited, v, &text)) {
    c.Error(r.code, r.detail);
    return;
  }
  box.Text(text);
}

double Start(const MainForm& f) {
  return ReadNumber(f.TextFreq.Text());
}
double Stop(const MainForm& f) {
  return ReadNumber(f.TextFreqStop.Text());
}

// Both boxes or neither. The span is kept exactly (on the resolution), the
// center within half a resolution step.
void WriteStartStop(Ctx& c, double center, double span) {
  span = RoundToResolution(c.f, span);
  double start = center - span / 2;
  if (!FrequencyValue(c, &start, true)) return;
  double stop = start + span;
  if (!FrequencyValue(c, &stop, true)) return;
  const std::string start_text = FormatNumber(start), stop_text = FormatNumber(stop);
  if (!Fits(c.f.TextFreq, start_text) || !Fits(c.f.TextFreqStop, stop_text)) {
    c.Error(kDataOutOfRange);
    return;
  }
  c.f.TextFreq.Text(start_text);
  c.f.TextFreqStop.Text(stop_text);
}

void SetCenterOrSpan(Ctx& c, bool center) {
  double v = 0;
  int extreme = 0;
  if (!OneNumber(c, Unit::Frequency, false, &v, &extreme)) return;
  if (!std::isfinite(v)) {
    c.Error(kDataOutOfRange);
    return;
  }
  const double start = Start(c.f), stop = Stop(c.f);
  if (center) {
    WriteStartStop(c, v, stop - start);
  } else {
    WriteStartStop(c, (start + stop) / 2, v);
  }
}

// While the panel's sweep runs, what it runs with; otherwise what the boxes
// would start.
bool PanelSweepRuns(const MainForm& f) {
  return f.Sweeping() && !f.List().on;
}

void QueryPoints(Ctx& c) {
  double steps = 0;
  if (PanelSweepRuns(c.f)) {
    c.Answer(FormatNumber(SweepPoints(c.f.DwellNum)));
  } else {
    c.Answer(BoxSweepSteps(c.f, &steps) ? FormatNumber(SweepPoints(steps)) : "0");
  }
}

void QueryDwell(Ctx& c) {
  double steps = 0, ms = 0;
  if (PanelSweepRuns(c.f)) {
    ms = c.f.DwellTime;
  } else if (!c.f.TextSweepTime.Text().empty() && BoxSweepSteps(c.f, &steps)) {
    if (!SweepDwellMs(ReadNumber(c.f.TextSweepTime.Text()), steps, &ms) || ms < 0) ms = 0;
  }
  c.Answer(FormatNumber(ms / 1000));
}

// The step for `n` points over the boxes' span, rounded down to the
// resolution: the pass has at least the points asked for, and exactly those
// unless no step on the resolution gives them.
void SetPoints(Ctx& c) {
  double n = 0;
  int extreme = 0;
  if (!OneNumber(c, Unit::None, false, &n, &extreme)) return;
  n = std::round(n);
  if (!(n >= 2 && n <= 1e15)) {
    c.Error(kDataOutOfRange);
    return;
  }
  const double span = std::fabs(Stop(c.f) - Start(c.f));
  if (c.f.TextFreqStop.Text().empty() || !(span > 0 && std::isfinite(span))) {
    c.Error(kSettingsConflict, kNoSpan);
    return;
  }
  const double per = span / (n - 1) * (1 + 1e-12);
  const double step = Resolution(c.f) == 1 ? std::floor(per) : std::floor(per * 10) / 10;
  const std::string text = FormatNumber(step);
  if (!(step > 0) || !Fits(c.f.TextFreqStep, text)) {
    c.Error(kDataOutOfRange);
    return;
  }
  c.f.TextFreqStep.Text(text);
}

// The sweep time that Start turns into `ms` per step over `steps`:
// dwell x steps when the box holds it and the panel's floor gives `ms` back
// from it, else the number with the fewest decimals that does.
bool SweepTimeText(double ms, double steps, const TextBox& box, std::string* text) {
  auto gives = [&](const std::string& t) {
    double given = 0;
    return Fits(box, t) && SweepDwellMs(ReadNumber(t), steps, &given) && given == ms;
  };
  const double exact = ms * steps / 1000;
  *text = FormatNumber(exact);
  if (gives(*text)) return true;
  double scale = 1;
  for (int decimals = 0; decimals <= 15; ++decimals, scale *= 10) {
    for (int up = 0; up <= 1; ++up) {
      *text = FormatNumber((std::ceil(exact * scale) + up) / scale);
      if (gives(*text)) return true;
    }
  }
  return false;
}

void SetDwell(Ctx& c) {
  double t = 0, steps = 0;
  int extreme = 0;
  if (!OneNumber(c, Unit::Time, false, &t, &extreme)) return;
  const double ms = std::round(t * 1000);
  if (!(t * 1000 >= kMinDwellMs && ms <= kMaxDwellMs)) {
    c.Error(kDataOutOfRange);
    return;
  }
  if (!BoxSweepSteps(c.f, &steps)) {
    c.Error(kSettingsConflict, kNoSweep);
    return;
  }
  std::string text;
  if (!SweepTimeText(ms, steps, c.f.TextSweepTime, &text)) {
    c.Error(kDataOutOfRange);  // the box cannot hold it
    return;
  }
  c.f.TextSweepTime.Text(text);
}

void SetMode(Ctx& c) {
  using Mode = SourceState::Mode;
  const int w = OneWord(c, {"CW", "FIXed", "SWEep", "LIST"});
  if (w < 0) return;
  const Mode mode = w <= 1 ? Mode::kCw : w == 2 ? Mode::kSweep : Mode::kList;
  if (mode != c.src.mode) c.src.armed = false;  // what was armed was a pass of the old mode
  c.src.mode = mode;
}

const char* ModeName(SourceState::Mode mode) {
  switch (mode) {
    case SourceState::Mode::kCw:
      return "CW";
    case SourceState::Mode::kSweep:
      return "SWE";
    case SourceState::Mode::kList:
      return "LIST";
  }
  return "";
}

void SetFrequency(Ctx& c) {
  double v = 0;
  int extreme = 0;
  if (!OneNumber(c, Unit::Frequency, true, &v, &extreme) || !HaveModel(c)) return;
  if (extreme != 0) v = extreme < 0 ? 0 : Limit(c.f) - Resolution(c.f);
  if (!FrequencyValue(c, &v, true)) return;
  c.f.TextFreq.Text(FormatNumber(v));
  c.f.CmdSend_Click();
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
  if (const Refusal r = CheckLevel(&v)) {
    c.Error(r.code, r.detail);
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
    if (row && name == ModelScpiName(row->model_num, "")) {
      std::invoke(choice.click, c.f);  // as the operator's menu choice
      return;
    }
  }
  c.Error(kDataOutOfRange);
}

void Save(Ctx& c, void (MainForm::*handler)()) {
  if (!HaveModel(c)) return;
  (c.f.*handler)();
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
  t.Add(
      "[SOURce] FREQuency CENTer", [](Ctx& c) { SetCenterOrSpan(c, true); },
      [](Ctx& c) { c.Answer(FormatNumber((Start(c.f) + Stop(c.f)) / 2)); });
  t.Add(
      "[SOURce] FREQuency SPAN", [](Ctx& c) { SetCenterOrSpan(c, false); },
      [](Ctx& c) { c.Answer(FormatNumber(Stop(c.f) - Start(c.f))); });
  t.Add("[SOURce] FREQuency MODE", SetMode, [](Ctx& c) { c.Answer(ModeName(c.src.mode)); });
  t.Add("[SOURce] SWEep DWELl", SetDwell, QueryDwell);
  t.Add("[SOURce] SWEep POINts", SetPoints, QueryPoints);
  t.Add("[SOURce] SWEep STATe", nullptr, [](Ctx& c) {
    c.Answer(!c.f.Sweeping() ? "IDLE" : c.f.SnglSweepFlag ? "SING" : "CONT");
  });
  t.Add("[SOURce] LEVel", SetLevel, QueryLevel, true);
  t.Add("SYSTem MODel", SetModel, [](Ctx& c) { c.Answer(ModelScpiName(c.f.ModelNum, "NONE")); });
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
    c.Answer(code == kNoModelCode ? "NONE" : !row ? "UNKNOWN" : ModelScpiName(row->model_num, ""));
  });
  t.Add("UNIT# NUMBer", nullptr, [](Ctx& c) {
    int32_t data = 0;
    if (ReadUnit(c, &data)) c.Answer(std::to_string(UnitFromData(data)));
  });
}

}  // namespace pts::remote
