// Saved set-ups: *SAV and *RCL. A set-up is the four boxes, the level and
// the source's mode, list, pass counts and list direction; the trigger is
// how a client runs the instrument, not part of what it sets up, and stays
// as it is.
#include <charconv>
#include <cmath>
#include <system_error>

#include "panel/number_text.h"
#include "remote/commands.h"
#include "remote/setups.h"

namespace pts::remote {

namespace {

// The slot 0..9 of the command's parameter, rounded; -1 after queueing the error.
int Slot(Ctx& c) {
  double v = 0;
  int extreme = 0;
  if (!OneNumber(c, Unit::None, false, &v, &extreme)) return -1;
  v = std::round(v);
  if (!(v >= 0 && v < kSetupSlots)) {
    c.Error(kDataOutOfRange);
    return -1;
  }
  return static_cast<int>(v);
}

std::string SlotName(int slot) {
  return "set-up " + std::to_string(slot);
}

// A box's text as a number, as a client would send it; nothing else.
bool ReadBoxNumber(const std::string& text, double* v) {
  const char* end = text.data() + text.size();
  const std::from_chars_result r = std::from_chars(text.data(), end, *v);
  return r.ec == std::errc() && r.ptr == end;
}

// Every field through the check of the command that sets it, and kept as
// that command keeps it: the boxes get the commands' texts, the dwells whole
// milliseconds. An empty box stays empty, as a fresh panel's is. False with
// the field named in *why.
bool CheckSetup(const MainForm& f, SavedSetup* s, std::string* why) {
  const auto bad = [why](const char* key, const Refusal& r) {
    *why = std::string("bad ") + key + (r.detail.empty() ? "" : ": " + r.detail);
    return false;
  };
  struct Box {
    const char* key;
    std::string* text;
    const TextBox& box;
    Unit unit;
    bool limited;  // below the model's limit
  };
  const Box boxes[] = {{"freq", &s->freq, f.TextFreq, Unit::Frequency, true},
                       {"stop", &s->stop, f.TextFreqStop, Unit::Frequency, true},
                       {"step", &s->step, f.TextFreqStep, Unit::Frequency, false},
                       {"time", &s->time, f.TextSweepTime, Unit::Time, false}};
  for (const Box& b : boxes) {
    if (b.text->empty()) continue;
    double v = 0;
    if (!ReadBoxNumber(*b.text, &v)) return bad(b.key, {kDataTypeError});
    if (const Refusal r = CheckBoxValue(f, b.box, b.unit, b.limited, v, b.text)) {
      return bad(b.key, r);
    }
  }
  double level = s->level;
  if (const Refusal r = CheckLevel(&level)) return bad("level", r);
  if (!s->list_freq.empty() && !f.ModelNum) return bad("list_freq", {kSettingsConflict, kNoModel});
  for (double& v : s->list_freq) {
    if (const Refusal r = CheckFrequency(f, &v, true)) return bad("list_freq", r);
  }
  for (double& v : s->list_dwell) {
    if (const Refusal r = CheckListDwell(&v)) return bad("list_dwell", r);
  }
  return true;
}

void Sav(Ctx& c) {
  const int slot = Slot(c);
  if (slot < 0) return;
  const MainForm& f = c.f;
  SavedSetup s;
  // While the panel sweeps, its start box shows the step being sent; the
  // sweep's own start is what was set up.
  const bool sweeping = c.src.mode == SourceState::Mode::kSweep && f.Sweeping();
  s.freq = sweeping ? FormatNumber(f.FreqStart) : f.TextFreq.Text();
  s.stop = f.TextFreqStop.Text();
  s.step = f.TextFreqStep.Text();
  s.time = f.TextSweepTime.Text();
  s.level = c.f.Knob1(10).Value();
  s.mode = c.src.mode;
  s.list_freq = c.src.list_freq;
  s.list_dwell = c.src.list_dwell;
  s.sweep_count = c.src.sweep_count;
  s.list_count = c.src.list_count;
  s.list_down = c.src.list_down;
  std::string why;
  // What a recall would refuse is not saved.
  if (!CheckSetup(f, &s, &why)) {
    c.Error(kMassStorageError, "cannot save " + SlotName(slot) + ": " + why);
    return;
  }
  if (!c.setups->Save(slot, s, &why)) {
    c.Error(kMassStorageError, "cannot save " + SlotName(slot) + ": " + why);
  }
}

void Rcl(Ctx& c) {
  const int slot = Slot(c);
  if (slot < 0) return;
  SavedSetup s;
  std::string why;
  switch (c.setups->Load(slot, &s, &why)) {
    case SetupStore::Loaded::kOk:
      break;
    case SetupStore::Loaded::kEmpty:
      c.Error(kFileNameNotFound, SlotName(slot) + " is empty");
      return;
    case SetupStore::Loaded::kDamaged:
      c.Error(kMassStorageError, SlotName(slot) + " is damaged: " + why);
      return;
    case SetupStore::Loaded::kFailed:
      c.Error(kMassStorageError, "cannot recall " + SlotName(slot) + ": " + why);
      return;
  }
  if (!CheckSetup(c.f, &s, &why)) {
    c.Error(kMassStorageError, SlotName(slot) + " is damaged: " + why);
    return;
  }
  MainForm& f = c.f;
  const std::pair<TextBox*, const std::string*> boxes[] = {{&f.TextFreqStop, &s.stop},
                                                           {&f.TextFreqStep, &s.step},
                                                           {&f.TextSweepTime, &s.time},
                                                           {&f.TextFreq, &s.freq}};
  // As *RST: what runs stops, the panel's controls are written so the window
  // shows the set-up, and nothing is sent. The level's turn rewrites the
  // frequency box from the digit knobs, so that box comes last.
  f.CmdStop_Click();
  c.src.armed = false;
  c.src.continuous = false;
  for (const auto& [box, text] : boxes) {
    if (box != &f.TextFreq) box->Text(*text);
  }
  f.Knob1(10).Value(s.level);
  f.Knob1_Change(10);
  f.WriteFreqText(s.freq);
  c.src.mode = s.mode;
  c.src.list_freq = std::move(s.list_freq);
  c.src.list_dwell = std::move(s.list_dwell);
  c.src.sweep_count = s.sweep_count;
  c.src.list_count = s.list_count;
  c.src.list_down = s.list_down;
}

}  // namespace

void AddMemoryCommands(CommandList& t) {
  t.Add("*SAV", Sav, nullptr);
  t.Add("*RCL", Rcl, nullptr);
}

}  // namespace pts::remote
