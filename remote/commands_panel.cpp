// PANel: the window's own actions for the panel's web page, where SCPI has no
// command for them. Each runs what the window runs for the same action (the
// operator typing into a box, moving into the frequency box, pressing a
// button, turning a knob, choosing a unit), so the page behaves as the
// window does; what a box would have said becomes the client's error. Only
// clients marked Session::PanelClient find these commands.
#include <cmath>

#include "remote/commands.h"

namespace pts::remote {

namespace {

constexpr const char* kDisabled = "the control is disabled";

TextBox* BoxOf(Ctx& c, const Param& p) {
  if (p.kind != Param::Kind::Word) {
    c.Error(kDataTypeError);
    return nullptr;
  }
  const std::string& w = p.text;
  if (w == "FREQ" || w == "FREQUENCY") return &c.f.TextFreq;
  if (w == "STOP") return &c.f.TextFreqStop;
  if (w == "STEP") return &c.f.TextFreqStep;
  if (w == "TIME") return &c.f.TextSweepTime;
  c.Error(kDataOutOfRange);
  return nullptr;
}

bool Params(Ctx& c, size_t n) {
  if (c.cmd.params.size() == n) return true;
  c.Error(c.cmd.params.size() < n ? kMissingParameter : kParameterNotAllowed);
  return false;
}

// A whole number in [lo, hi]; false after queueing the error.
bool WholeIn(Ctx& c, const Param& p, int lo, int hi, int* v) {
  if (p.kind != Param::Kind::Number || !p.text.empty()) {
    c.Error(p.kind != Param::Kind::Number ? kDataTypeError : kInvalidSuffix);
    return false;
  }
  if (!(p.number >= lo && p.number <= hi) || p.number != std::floor(p.number)) {
    c.Error(kDataOutOfRange);
    return false;
  }
  *v = static_cast<int>(p.number);
  return true;
}

bool Usable(Ctx& c, const Control& control) {
  if (control.Enabled() && control.Visible()) return true;
  c.Error(kSettingsConflict, kDisabled);
  return false;
}

// PANel:TEXT <box>,<string>: the operator's edit that leaves the box holding
// the string. Each character passes the box's key filter as a typed one
// does, and the box keeps no more than it takes.
void SetText(Ctx& c) {
  if (!Params(c, 2)) return;
  TextBox* box = BoxOf(c, c.cmd.params[0]);
  if (!box) return;
  const Param& p = c.cmd.params[1];
  if (p.kind != Param::Kind::String) {
    c.Error(kDataTypeError);
    return;
  }
  if (!Usable(c, *box)) return;
  std::string text;
  for (char ch : p.text) {
    auto key = static_cast<int16_t>(static_cast<unsigned char>(ch));
    if (box == &c.f.TextFreq) c.f.TextFreq_KeyPress(key);
    if (box == &c.f.TextFreqStop) c.f.TextFreqStop_KeyPress(key);
    if (key == 0 || key == 8) continue;
    text += static_cast<char>(key);
  }
  const auto limit = static_cast<size_t>(box->MaxLength());
  if (limit > 0 && text.size() > limit) text.resize(limit);
  box->Text(text);
}

// PANel:FOCus <box>: the operator moves into the box (the frequency box
// empties itself).
void Focus(Ctx& c) {
  if (!Params(c, 1)) return;
  TextBox* box = BoxOf(c, c.cmd.params[0]);
  if (!box || !Usable(c, *box)) return;
  if (box == &c.f.TextFreq) c.f.TextFreq_GotFocus();
}

// PANel:PRESs SEND|STARt|STOP|SINGle: a click of the button.
void Press(Ctx& c) {
  if (!Params(c, 1)) return;
  const Param& p = c.cmd.params[0];
  if (p.kind != Param::Kind::Word) {
    c.Error(kDataTypeError);
    return;
  }
  struct Choice {
    const char *short_form, *long_form;
    Button MainForm::*button;
    void (MainForm::*click)();
  };
  static const Choice kChoices[] = {
      {"SEND", "SEND", &MainForm::CmdSend, &MainForm::CmdSend_Click},
      {"STAR", "START", &MainForm::CmdStart, &MainForm::CmdStart_Click},
      {"STOP", "STOP", &MainForm::CmdStop, &MainForm::CmdStop_Click},
      {"SING", "SINGLE", &MainForm::CmdSngl, &MainForm::CmdSngl_Click},
  };
  for (const Choice& choice : kChoices) {
    if (p.text != choice.short_form && p.text != choice.long_form) continue;
    if (!Usable(c, c.f.*choice.button)) return;
    (c.f.*choice.click)();
    return;
  }
  c.Error(kDataOutOfRange);
}

// PANel:KNOB <index>,<value>: the operator turns knob 0..10 to the value.
void Turn(Ctx& c) {
  if (!Params(c, 2)) return;
  int index = 0, value = 0;
  if (!WholeIn(c, c.cmd.params[0], 0, 10, &index)) return;
  Knob& knob = c.f.Knob1(index);
  if (!WholeIn(c, c.cmd.params[1], knob.Min(), knob.Max(), &value) || !Usable(c, knob)) return;
  knob.Value(value);
  c.f.Knob1_Change(static_cast<int16_t>(index));
}

// PANel:UNIT <index>: a click on unit button 0..3; the selected one stays.
void ChooseUnit(Ctx& c) {
  if (!Params(c, 1)) return;
  int index = 0;
  if (!WholeIn(c, c.cmd.params[0], 0, 3, &index)) return;
  OptionButton& option = c.f.Option1(index);
  if (!Usable(c, option)) return;
  if (!option.Value()) option.Value(true);
}

}  // namespace

void AddPanelCommands(CommandList& t) {
  t.AddPanel("PANel TEXT", SetText);
  t.AddPanel("PANel FOCus", Focus);
  t.AddPanel("PANel PRESs", Press);
  t.AddPanel("PANel KNOB", Turn);
  t.AddPanel("PANel UNIT", ChooseUnit);
}

}  // namespace pts::remote
