// Inside the command engine: what a command's handler gets (Ctx), how the
// command files add their entries to the table, and the helpers they share
// for parameters and the panel. Not for the front ends: they see only
// remote/instrument.h.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "panel/mainform.h"
#include "remote/instrument.h"
#include "remote/scpi_parser.h"
#include "remote/session.h"
#include "remote/source_state.h"

namespace pts::remote {

class SetupStore;

inline constexpr int kMaxUnit = 8;
inline constexpr const char* kNoModel = "no PTS model selected";
inline constexpr const char* kResponseTooLong =
    "the response is above 256 KiB: the rest of its answers are dropped";

struct Ctx {
  MainForm& f;
  Session& s;
  Response* out;  // the message's response
  const Command& cmd;
  const std::string& version;
  SourceState& src;
  int unit = 1;       // UNIT<n>
  bool wait = false;  // set by a handler that must run again later
  SetupStore* setups = nullptr;

  void Answer(const std::string& a) {
    if (!out->Add(a) && out->Dropped() == 1) Error(kQueryError, kResponseTooLong);
  }
  void Error(int code, const std::string& detail = {}) { s.Push(code, detail); }
};

using Handler = void (*)(Ctx&);

// The table's entries as the command files add them. A spec names the
// header: "[SOURce] FREQuency [CW|FIXed]", "UNIT# DATA", "*IDN" (capitals are
// the short form, [] optional, | alternatives, # takes a suffix).
class CommandList {
 public:
  // `query_params`: the query takes parameters (MIN or MAX).
  void Add(const char* spec, Handler set, Handler query, bool query_params = false);
  // A command without parameters (and its query, if any, without them too).
  void AddPlain(const char* spec, Handler set, Handler query = nullptr);
  // A command of the panel's page alone (no query).
  void AddPanel(const char* spec, Handler set);

  struct Keyword {
    std::string short_form, long_form;  // upper case
  };
  struct PatNode {
    std::vector<Keyword> alternatives;
    bool optional = false;
    bool suffix = false;  // takes UNIT<n>
  };
  struct Entry {
    std::vector<PatNode> pattern;
    Handler set = nullptr;
    Handler query = nullptr;
    bool query_params = false;  // the query takes MIN or MAX
    bool set_params = true;     // the command takes parameters
    bool panel_only = false;    // for the panel's page alone (Session::PanelClient)
  };
  const std::vector<Entry>& Entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

// The table's entry for a command's header (entries of the panel's page only
// for its clients); `bound[j]` gets the pattern node of the header's node j.
// Null when none matches.
const CommandList::Entry* FindEntry(const std::vector<Node>& path, bool panel_client,
                                    std::vector<const CommandList::PatNode*>& bound);

// The command files, each adding its own entries.
void AddCommonCommands(CommandList& t);  // IEEE 488.2 common commands, SYSTem:ERRor
void AddSourceCommands(CommandList& t);  // SOURce, SYSTem:MODel, MEMory, UNIT
void AddListCommands(CommandList& t);    // LIST, INITiate, TRIGger, *TRG, ABORt
// Settings drivers send that the source has one choice for (SWEep:SPACing,
// OUTPut, ...).
void AddFixedCommands(CommandList& t);
void AddMemoryCommands(CommandList& t);  // *SAV, *RCL
void AddStatusCommands(CommandList& t);  // STATus, SYSTem:VERSion
void AddPanelCommands(CommandList& t);   // PANel: the page's operator actions
// What *RST does to the source's own set-up: sweep mode, immediate trigger,
// nothing armed, not continuous, one pass, the list upwards; the lists stay.
void ResetSource(Ctx& c);

// ---- Parameters ----

enum class Unit { None, Frequency, Time };

// The command's one parameter; null after queueing the error.
const Param* OneParam(Ctx& c);
// The one numeric parameter in base units (Hz, s). MIN and MAX, where
// allowed, give *extreme -1 or +1.
bool OneNumber(Ctx& c, Unit unit, bool min_max, double* v, int* extreme);
// The same for one parameter `p` of several.
bool NumberOf(Ctx& c, const Param& p, Unit unit, bool min_max, double* v, int* extreme);
// The one parameter as a word of `words`, spelt as the table spells keywords
// ("IMMediate" takes IMM and IMMEDIATE): its place among them, or -1 after
// queueing the error: -104 for a parameter that is no word, -224 for a word
// not among them.
int OneWord(Ctx& c, std::initializer_list<const char*> words);
// The one parameter as a boolean: ON, OFF, or a number (not 0 is ON). False
// after queueing the error.
bool OneBoolean(Ctx& c, bool* on);

// ---- The panel ----

bool HaveModel(Ctx& c);  // false after queueing the error
double Resolution(const MainForm& f);
double RoundToResolution(const MainForm& f, double v);
double Limit(const MainForm& f);
// What a setting command refuses, as the error it queues: code 0 when the
// value will do. The checks below are the commands' own, and *RCL puts what
// a saved set-up holds through them too.
struct Refusal {
  Refusal() = default;
  Refusal(int error, std::string text = {}) : code(error), detail(std::move(text)) {}  // NOLINT
  int code = 0;
  std::string detail;
  explicit operator bool() const { return code != 0; }
};
// A frequency (or step) for a box or a list: at or above 0, on the model's
// resolution, below the model's limit when `limited`. Rounds *v as kept.
Refusal CheckFrequency(const MainForm& f, double* v, bool limited);
// The same, queueing the error; false when refused.
bool FrequencyValue(Ctx& c, double* v, bool limited);
// What FREQ:STAR, FREQ:STOP, SWE:STEP (Unit::Frequency) and SWE:TIME
// (Unit::Time) write into `box` for `v`: *text.
Refusal CheckBoxValue(const MainForm& f, const TextBox& box, Unit unit, bool limited, double v,
                      std::string* text);
// A LIST:DWEL point in seconds, rounded to the whole milliseconds it runs.
Refusal CheckListDwell(double* v);
// A level, rounded.
Refusal CheckLevel(double* v);
std::string BoxNumber(const TextBox& box);

// ---- Status (commands_common.cpp) ----

// An operation *OPC, *OPC? and *WAI wait for is running: a single pass.
bool OperationPending(const MainForm& f);
// A register's value: a number rounded to 0 .. max. False after queueing the error.
bool RegisterValue(Ctx& c, int max, int* v);

}  // namespace pts::remote
