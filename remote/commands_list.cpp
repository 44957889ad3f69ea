// Frequency lists, and starting a pass of the frequency mode: INITiate, its
// trigger, ABORt.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "panel/encoding.h"
#include "panel/number_text.h"
#include "remote/commands.h"

namespace pts::remote {

namespace {

constexpr double kMinListDwell = 0.001, kMaxListDwell = 3600;  // s
constexpr double kMaxPasses = 2147483647;

using Mode = SourceState::Mode;

// A list's parameters, each taken by `value` (false after queueing the
// error); the old list stays unless all are good.
template <typename F>
void SetList(Ctx& c, std::vector<double>* list, F value) {
  const std::vector<Param>& params = c.cmd.params;
  if (params.empty()) {
    c.Error(kMissingParameter);
    return;
  }
  if (params.size() > kMaxListPoints) {
    c.Error(kTooMuchData);
    return;
  }
  std::vector<double> values;
  values.reserve(params.size());
  for (const Param& p : params) {
    double v = 0;
    if (!value(p, &v)) return;
    values.push_back(v);
  }
  *list = std::move(values);
}

void SetFrequencies(Ctx& c) {
  if (!HaveModel(c)) return;
  SetList(c, &c.src.list_freq, [&c](const Param& p, double* v) {
    int extreme = 0;
    return NumberOf(c, p, Unit::Frequency, false, v, &extreme) && FrequencyValue(c, v, true);
  });
}

void SetDwells(Ctx& c) {
  SetList(c, &c.src.list_dwell, [&c](const Param& p, double* v) {
    int extreme = 0;
    if (!NumberOf(c, p, Unit::Time, false, v, &extreme)) return false;
    const Refusal r = CheckListDwell(v);
    if (r) c.Error(r.code, r.detail);
    return !r;
  });
}

void Answer(Ctx& c, const std::vector<double>& list) {
  std::string out;
  out.reserve(list.size() * 12);
  for (double v : list) {
    if (!out.empty()) out += ',';
    out += FormatNumber(v);
  }
  c.Answer(out);
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

// Before a list: a model, lengths that fit, every point below the limit of
// the model now chosen.
bool ListAllowed(Ctx& c) {
  if (!HaveModel(c)) return false;
  const std::string conflict =
      MainForm::ListConflict(c.src.list_freq.size(), c.src.list_dwell.size());
  if (!conflict.empty()) {
    c.Error(kSettingsConflict, conflict);
    return false;
  }
  for (double v : c.src.list_freq) {
    if (v >= Limit(c.f)) {
      c.Error(kDataOutOfRange, LimitMessage(c.f.ModelNum));
      return false;
    }
  }
  return true;
}

bool PassAllowed(Ctx& c) {
  return c.src.mode == Mode::kSweep ? SweepAllowed(c) : c.src.mode == Mode::kList && ListAllowed(c);
}

// The passes the mode runs per INIT.
uint32_t Passes(const SourceState& src) {
  return src.mode == Mode::kSweep ? src.sweep_count : src.list_count;
}

// The mode's passes, or passes until ABORt, as Single and Start run them.
void RunPass(Ctx& c, bool continuous) {
  if (c.src.mode == Mode::kCw || !PassAllowed(c)) return;
  const uint32_t passes = continuous ? SourceState::kForever : Passes(c.src);
  if (c.src.mode == Mode::kSweep) {
    if (passes == SourceState::kForever) {
      c.f.CmdStart_Click();
    } else {
      c.f.SinglePasses(passes);
    }
  } else {
    std::vector<double> freq = c.src.list_freq, ms;
    ms.reserve(c.src.list_dwell.size());
    for (double s : c.src.list_dwell) ms.push_back(std::round(s * 1000));
    if (c.src.list_down) {
      std::reverse(freq.begin(), freq.end());
      std::reverse(ms.begin(), ms.end());  // each point keeps its own dwell
    }
    c.f.RunList(std::move(freq), std::move(ms), passes);
  }
}

// With the BUS trigger the pass is checked and armed, and *TRG starts it.
// A count of INFinity runs as INIT:CONT ON does.
void Initiate(Ctx& c, bool continuous) {
  c.src.continuous = continuous || Passes(c.src) == SourceState::kForever;
  c.src.armed = false;
  if (c.src.trigger == SourceState::Trigger::kImmediate) {
    RunPass(c, c.src.continuous);
  } else if (c.src.mode != Mode::kCw && PassAllowed(c)) {
    c.src.armed = true;
  }
}

void Continuous(Ctx& c) {
  bool on = false;
  if (!OneBoolean(c, &on)) return;
  if (on) {
    Initiate(c, true);
    return;
  }
  c.src.continuous = false;
  c.src.armed = false;
  c.f.CmdStop_Click();
}

// SWEep:COUNt, LIST:COUNt: a whole number of passes, or INFinity (also as
// SCPI's number for it, 9.9E37).
void SetCount(Ctx& c, uint32_t* count) {
  const Param* p = OneParam(c);
  if (!p) return;
  if (p->kind == Param::Kind::Word && (p->text == "INF" || p->text == "INFINITY")) {
    *count = SourceState::kForever;
    return;
  }
  double v = 0;
  int extreme = 0;
  if (!OneNumber(c, Unit::None, true, &v, &extreme)) return;
  if (extreme != 0) v = extreme < 0 ? 1 : kMaxPasses;
  if (v >= 9.9e37) {
    *count = SourceState::kForever;
    return;
  }
  v = std::round(v);
  if (!(v >= 1 && v <= kMaxPasses)) {
    c.Error(kDataOutOfRange);
    return;
  }
  *count = static_cast<uint32_t>(v);
}

void QueryCount(Ctx& c, uint32_t count) {
  c.Answer(count == SourceState::kForever ? "9.9E+37" : std::to_string(count));
}

void Trigger(Ctx& c) {
  if (!c.src.armed) {
    c.Error(kTriggerIgnored);
    return;
  }
  c.src.armed = false;
  RunPass(c, c.src.continuous);
}

// SCPI's other trigger sources are words the source knows but has no input for.
void SetTriggerSource(Ctx& c) {
  using Trigger = SourceState::Trigger;
  const int w = OneWord(
      c, {"IMMediate", "BUS", "EXTernal", "HOLD", "INTernal", "KEY", "LINE", "MANual", "TIMer"});
  if (w < 0) return;
  if (w > 1) {
    c.Error(kIllegalParameterValue, "the source is triggered by INIT or *TRG alone: IMM or BUS");
    return;
  }
  const Trigger source = w == 0 ? Trigger::kImmediate : Trigger::kBus;
  if (source != c.src.trigger) c.src.armed = false;
  c.src.trigger = source;
}

}  // namespace

// Kept in whole milliseconds, as they run.
Refusal CheckListDwell(double* v) {
  if (!(*v >= kMinListDwell && *v <= kMaxListDwell)) return {kDataOutOfRange};
  *v = std::round(*v * 1000) / 1000;
  return {};
}

void ResetSource(Ctx& c) {
  c.src.mode = Mode::kSweep;
  c.src.trigger = SourceState::Trigger::kImmediate;
  c.src.armed = false;
  c.src.continuous = false;
  c.src.sweep_count = c.src.list_count = 1;
  c.src.list_down = false;
}

void AddListCommands(CommandList& t) {
  t.Add("[SOURce] LIST FREQuency", SetFrequencies, [](Ctx& c) { Answer(c, c.src.list_freq); });
  t.Add("[SOURce] LIST FREQuency POINts", nullptr,
        [](Ctx& c) { c.Answer(std::to_string(c.src.list_freq.size())); });
  t.Add("[SOURce] LIST DWELl", SetDwells, [](Ctx& c) { Answer(c, c.src.list_dwell); });
  t.Add("[SOURce] LIST DWELl POINts", nullptr,
        [](Ctx& c) { c.Answer(std::to_string(c.src.list_dwell.size())); });
  t.Add(
      "[SOURce] LIST DIRection",
      [](Ctx& c) {
        const int w = OneWord(c, {"UP", "DOWN"});
        if (w >= 0) c.src.list_down = w == 1;
      },
      [](Ctx& c) { c.Answer(c.src.list_down ? "DOWN" : "UP"); });
  t.Add(
      "[SOURce] LIST COUNt", [](Ctx& c) { SetCount(c, &c.src.list_count); },
      [](Ctx& c) { QueryCount(c, c.src.list_count); });
  t.Add(
      "[SOURce] SWEep COUNt", [](Ctx& c) { SetCount(c, &c.src.sweep_count); },
      [](Ctx& c) { QueryCount(c, c.src.sweep_count); });
  t.AddPlain("INITiate [IMMediate]", [](Ctx& c) { Initiate(c, false); });
  t.Add("INITiate CONTinuous", Continuous, [](Ctx& c) {
    const bool repeating = c.f.Sweeping() && !c.f.SnglSweepFlag;
    c.Answer(repeating || (c.src.armed && c.src.continuous) ? "1" : "0");
  });
  t.AddPlain("ABORt", [](Ctx& c) {
    c.src.armed = false;
    c.f.CmdStop_Click();
  });
  t.Add("TRIGger [SEQuence] SOURce", SetTriggerSource,
        [](Ctx& c) { c.Answer(c.src.trigger == SourceState::Trigger::kBus ? "BUS" : "IMM"); });
  t.AddPlain("TRIGger [SEQuence] [IMMediate]", Trigger);
  t.AddPlain("*TRG", Trigger);
}

}  // namespace pts::remote
