#include "remote/command_table.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <string_view>

#include "panel/encoding.h"
#include "panel/models.h"
#include "panel/number_text.h"

namespace pts::remote {

namespace {

constexpr int kMaxUnit = 8;
constexpr const char* kNoModel = "no PTS model selected";

// Stands in for the operator while a remote command runs: boxes are kept for
// the client's error queue, and each beep notes the unit being written then
// (a failed write beeps with DevNum on that unit).
class Recorder : public Operator {
 public:
  explicit Recorder(const MainForm& form) : form_(form) {}
  MsgAnswer MessageBox(const std::string& text, MsgButtons buttons, MsgIcon,
                       const std::string&) override {
    boxes.push_back(text);
    return buttons == MsgButtons::OkCancel ? MsgAnswer::Cancel : MsgAnswer::Ok;
  }
  void Beep() override {
    if (std::find(beeped_units.begin(), beeped_units.end(), form_.DevNum) == beeped_units.end()) {
      beeped_units.push_back(form_.DevNum);
    }
  }
  void EndProgram(int) override {}

  std::vector<std::string> boxes;
  std::vector<int32_t> beeped_units;

 private:
  const MainForm& form_;
};

struct Ctx {
  MainForm& f;
  Session& s;
  std::string* out;
  const Command& cmd;
  Recorder& rec;
  const std::string& version;
  int unit = 1;       // UNIT<n>
  bool wait = false;  // set by a handler that must run again later

  void Answer(const std::string& a) { *out += a + '\n'; }
  void Error(int code, const std::string& detail = {}) { s.Push(code, detail); }
};

// ---- The command table ----

struct Keyword {
  std::string short_form, long_form;  // upper case
};
struct PatNode {
  std::vector<Keyword> alternatives;
  bool optional = false;
  bool suffix = false;  // takes UNIT<n>
};
using Handler = void (*)(Ctx&);
struct Entry {
  std::vector<PatNode> pattern;
  Handler set = nullptr;
  Handler query = nullptr;
  bool query_params = false;  // the query takes MIN or MAX
  bool set_params = true;     // the command takes parameters
};

// "[SOURce] FREQuency [CW|FIXed]", "UNIT# DATA", "*IDN".
std::vector<PatNode> Pattern(std::string_view spec) {
  std::vector<PatNode> nodes;
  while (!spec.empty()) {
    const size_t space = spec.find(' ');
    std::string_view word = spec.substr(0, space);
    spec = space == std::string_view::npos ? std::string_view() : spec.substr(space + 1);
    PatNode n;
    if (word.front() == '[') {
      n.optional = true;
      word = word.substr(1, word.size() - 2);
    }
    if (word.back() == '#') {
      n.suffix = true;
      word.remove_suffix(1);
    }
    while (!word.empty()) {
      const size_t bar = word.find('|');
      const std::string_view alt = word.substr(0, bar);
      word = bar == std::string_view::npos ? std::string_view() : word.substr(bar + 1);
      Keyword k;
      for (char c : alt) {
        if (c >= 'a' && c <= 'z') {
          k.long_form += static_cast<char>(c - 'a' + 'A');
        } else {
          k.short_form += c;
          k.long_form += c;
        }
      }
      n.alternatives.push_back(std::move(k));
    }
    nodes.push_back(std::move(n));
  }
  return nodes;
}

// Matches nodes[j..] against pattern[i..]; `bound[j]` gets the pattern node of node j.
bool Match(const std::vector<PatNode>& p, size_t i, const std::vector<Node>& n, size_t j,
           std::vector<const PatNode*>& bound) {
  if (i == p.size()) return j == n.size();
  if (p[i].optional && Match(p, i + 1, n, j, bound)) return true;
  if (j == n.size()) return false;
  for (const Keyword& k : p[i].alternatives) {
    if (n[j].keyword == k.short_form || n[j].keyword == k.long_form) {
      bound[j] = &p[i];
      return Match(p, i + 1, n, j + 1, bound);
    }
  }
  return false;
}

// ---- Parameters ----

enum class Unit { None, Frequency, Time };

// The command's one parameter; null after queueing the error.
const Param* OneParam(Ctx& c) {
  if (c.cmd.params.size() == 1) return &c.cmd.params[0];
  c.Error(c.cmd.params.empty() ? kMissingParameter : kParameterNotAllowed);
  return nullptr;
}

// The one numeric parameter in base units (Hz, s). MIN and MAX, where
// allowed, give *extreme -1 or +1.
bool OneNumber(Ctx& c, Unit unit, bool min_max, double* v, int* extreme) {
  *extreme = 0;
  const Param* one = OneParam(c);
  if (!one) return false;
  const Param& p = *one;
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

// ---- Panel helpers ----

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
std::string ModelName(std::optional<int16_t> model, const char* none) {
  return model ? "PTS" + std::to_string(*model) : none;
}
bool Sweeping(const MainForm& f) {
  return f.TmrDwell.Enabled() && !f.StopFlag;
}
std::string BoxNumber(const TextBox& box) {
  return FormatNumber(ReadNumber(box.Text()));
}

// What the handler would have shown: boxes become errors (confirmations are
// none), and when a word went out, each unit whose write failed.
void Report(Ctx& c, int box_code, bool sent) {
  const auto nothing_saved = [](const std::string& text) {
    return text.starts_with("No interface board accepted");
  };
  const auto is_confirmation = [&](const std::string& text) {
    return text.ends_with("saved to interface EEPROM") && !nothing_saved(text);
  };
  const bool refused = std::any_of(c.rec.boxes.begin(), c.rec.boxes.end(), [&](const auto& t) {
    return !is_confirmation(t) && !nothing_saved(t);
  });
  if (sent && !refused) {
    for (int32_t unit : c.rec.beeped_units) {
      if (unit >= 1 && unit <= kMaxUnit) {
        c.Error(kHardwareError, "unit " + std::to_string(unit) + " did not accept the report");
      }
    }
  }
  for (const std::string& text : c.rec.boxes) {
    if (!is_confirmation(text)) c.Error(nothing_saved(text) ? kHardwareMissing : box_code, text);
  }
}

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

// ---- Handlers ----

void Idn(Ctx& c) {
  c.Answer("pts-panel," + ModelName(c.f.ModelNum, "PTS") + "," +
           std::to_string(c.f.Devices.size()) + "," + c.version);
}

void Rst(Ctx& c) {
  MainForm& f = c.f;
  f.CmdStop_Click();
  f.TextFreqStop.Text("");
  f.TextFreqStep.Text("");
  f.TextSweepTime.Text("");
  f.Knob1(10).Value(kLevelMin);
  f.Knob1_Change(10);
  if (f.TextFreq.Text() == "0") {
    f.TextFreq_Change();
  } else {
    f.TextFreq.Text("0");
  }
}

void Opc(Ctx& c, bool answer) {
  // Waits for a single sweep only: a repeating one never ends by itself.
  if (c.f.SnglSweepFlag && Sweeping(c.f)) {
    c.wait = true;
    return;
  }
  if (answer) c.Answer("1");
}

void SetFrequency(Ctx& c) {
  double v = 0;
  int extreme = 0;
  if (!OneNumber(c, Unit::Frequency, true, &v, &extreme) || !HaveModel(c)) return;
  if (extreme != 0) v = extreme < 0 ? 0 : Limit(c.f) - Resolution(c.f);
  if (!FrequencyValue(c, &v, true)) return;
  c.f.TextFreq.Text(FormatNumber(v));
  c.f.CmdSend_Click();
  Report(c, kDataOutOfRange, true);
  if (c.f.Devices.empty()) c.Error(kHardwareMissing);
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
  Report(c, kSettingsConflict, false);
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
  Report(c, kSettingsConflict, false);
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
  Report(c, kDataOutOfRange, true);
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

const std::vector<Entry>& Table() {
  static const std::vector<Entry> table = [] {
    std::vector<Entry> t;
    auto add = [&t](const char* spec, Handler set, Handler query, bool query_params = false) {
      t.push_back({Pattern(spec), set, query, query_params});
    };
    // Commands without parameters.
    auto add_plain = [&t](const char* spec, Handler set) {
      t.push_back({Pattern(spec), set, nullptr, false, false});
    };
    add("*IDN", nullptr, Idn);
    add_plain("*RST", Rst);
    add(
        "*CLS", [](Ctx& c) { c.s.Clear(); }, nullptr);
    add("*OPC", nullptr, [](Ctx& c) { Opc(c, true); });
    add(
        "*WAI", [](Ctx& c) { Opc(c, false); }, nullptr);
    add("*ESR", nullptr, [](Ctx& c) { c.Answer(std::to_string(c.s.TakeEsr())); });
    add("*TST", nullptr, [](Ctx& c) { c.Answer("0"); });
    add("SYSTem ERRor [NEXT]", nullptr, [](Ctx& c) { c.Answer(c.s.Pop()); });
    add("SYSTem ERRor COUNt", nullptr, [](Ctx& c) { c.Answer(std::to_string(c.s.Count())); });
    add("[SOURce] FREQuency [CW|FIXed]", SetFrequency, QueryFrequency, true);
    add(
        "[SOURce] FREQuency STARt",
        [](Ctx& c) { WriteBox(c, c.f.TextFreq, Unit::Frequency, true); },
        [](Ctx& c) { c.Answer(BoxNumber(c.f.TextFreq)); });
    add(
        "[SOURce] FREQuency STOP",
        [](Ctx& c) { WriteBox(c, c.f.TextFreqStop, Unit::Frequency, true); },
        [](Ctx& c) { c.Answer(BoxNumber(c.f.TextFreqStop)); });
    add(
        "[SOURce] SWEep STEP",
        [](Ctx& c) { WriteBox(c, c.f.TextFreqStep, Unit::Frequency, false); },
        [](Ctx& c) { c.Answer(BoxNumber(c.f.TextFreqStep)); });
    add(
        "[SOURce] SWEep TIME", [](Ctx& c) { WriteBox(c, c.f.TextSweepTime, Unit::Time, false); },
        [](Ctx& c) { c.Answer(BoxNumber(c.f.TextSweepTime)); });
    add("[SOURce] SWEep DWELl", nullptr,
        [](Ctx& c) { c.Answer(FormatNumber(c.f.DwellTime / 1000)); });
    add("[SOURce] SWEep POINts", nullptr, [](Ctx& c) { c.Answer(FormatNumber(c.f.DwellNum)); });
    add("[SOURce] SWEep STATe", nullptr, [](Ctx& c) {
      c.Answer(!Sweeping(c.f) ? "IDLE" : c.f.SnglSweepFlag ? "SING" : "CONT");
    });
    add_plain("INITiate [IMMediate]", Initiate);
    add("INITiate CONTinuous", Continuous,
        [](Ctx& c) { c.Answer(Sweeping(c.f) && !c.f.SnglSweepFlag ? "1" : "0"); });
    add_plain("ABORt", [](Ctx& c) { c.f.CmdStop_Click(); });
    add("[SOURce] LEVel", SetLevel, QueryLevel, true);
    add("SYSTem MODel", SetModel, [](Ctx& c) { c.Answer(ModelName(c.f.ModelNum, "NONE")); });
    add(
        "MEMory STORe FREQuency", [](Ctx& c) { Save(c, &MainForm::mnuSaveFreq_Click); }, nullptr);
    add(
        "MEMory STORe MODel", [](Ctx& c) { Save(c, &MainForm::mnuSaveModel_Click); }, nullptr);
    add("UNIT COUNt", nullptr, [](Ctx& c) { c.Answer(std::to_string(c.f.Devices.size())); });
    add("UNIT# DATA", nullptr, [](Ctx& c) {
      int32_t data = 0;
      if (ReadUnit(c, &data)) c.Answer(std::to_string(data));
    });
    add("UNIT# MODel", nullptr, [](Ctx& c) {
      int32_t data = 0;
      if (!ReadUnit(c, &data)) return;
      const int code = data & 0xF0;
      const ModelRow* row = ModelRowOfCode(code);
      c.Answer(code == kNoModelCode ? "NONE" : !row ? "UNKNOWN" : ModelName(row->model_num, ""));
    });
    add("UNIT# NUMBer", nullptr, [](Ctx& c) {
      int32_t data = 0;
      if (ReadUnit(c, &data)) c.Answer(std::to_string(UnitFromData(data)));
    });
    return t;
  }();
  return table;
}

}  // namespace

Instrument::Instrument(MainForm& form, OperatorSwitch& ops, std::string version)
    : form_(form), ops_(ops), version_(std::move(version)) {}

bool Instrument::Execute(const Command& cmd, Session& client, std::string* out) {
  if (cmd.error != kNoError) {
    client.Push(cmd.error);
    return true;
  }
  const Entry* entry = nullptr;
  std::vector<const PatNode*> bound(cmd.path.size());
  for (const Entry& e : Table()) {
    if (Match(e.pattern, 0, cmd.path, 0, bound)) {
      entry = &e;
      break;
    }
  }
  const Handler handler = !entry ? nullptr : cmd.query ? entry->query : entry->set;
  if (!handler) {
    client.Push(kUndefinedHeader);
    return true;
  }
  int unit = 1;
  for (size_t j = 0; j < cmd.path.size(); ++j) {
    const int64_t suffix = cmd.path[j].suffix;
    if (bound[j]->suffix) {
      if (suffix >= 0) unit = static_cast<int>(std::min<int64_t>(suffix, kMaxUnit + 1));
      if (unit < 1 || unit > kMaxUnit) {
        client.Push(kHeaderSuffixOutOfRange);
        return true;
      }
    } else if (suffix >= 0 && suffix != 1) {
      client.Push(kHeaderSuffixOutOfRange);  // "SOURce2": there is one source
      return true;
    }
  }
  if (!cmd.params.empty() && (cmd.query ? !entry->query_params : !entry->set_params)) {
    client.Push(kParameterNotAllowed);
    return true;
  }
  Recorder rec(form_);
  Ctx c{form_, client, out, cmd, rec, version_};
  c.unit = unit;
  {
    OperatorSwitch::Scope scope(ops_, rec);
    try {
      handler(c);
    } catch (const std::exception& e) {
      // The window would end the program on an untrapped error; a client's
      // command reports it instead.
      client.Push(kHardwareError, e.what());
    }
  }
  return !c.wait;
}

std::string Instrument::RunMessage(std::string_view message, Session& client) {
  std::string out;
  for (const Command& cmd : ParseMessage(message)) {
    if (!Execute(cmd, client, &out) && (cmd.path.front().keyword == "*OPC")) out += "1\n";
  }
  return out;
}

}  // namespace pts::remote
