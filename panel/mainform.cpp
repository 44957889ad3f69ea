#include "panel/mainform.h"

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "hid/board.h"
#include "panel/encoding.h"
#include "panel/models.h"

namespace pts {

namespace {

struct Place4 {
  int32_t left, top, width, height;
};

// The controls of fixed place, as designed. Digits, knobs, groups and unit
// buttons are control arrays, built in their own loops below.
struct Frame {
  Shape& shape;
  Place4 place;
};
struct Entry {
  TextBox& box;
  Place4 place;
  int max_length;  // 0: no limit
};
struct Text {
  Label& label;  // labels and buttons
  const char* caption;
  Place4 place;
};
struct Light {
  Shape& led;
  int32_t left, top;
  Color fill;
  bool lit;
};

// Places and texts of the control arrays, most significant digit first.
constexpr std::array<int32_t, 10> kDigitLefts{1095, 1800, 2520, 3240, 4200,
                                              4920, 5640, 6600, 7320, 8070};
constexpr std::array<int32_t, 10> kKnobLefts{960,  1680, 2400, 3120, 4080,
                                             4800, 5520, 6480, 7200, 7920};
constexpr std::array<Place4, 3> kGroupPlaces{{
    {840, 2400, 2900, 1575},
    {3960, 2400, 2175, 1575},
    {6360, 2400, 2295, 1575},
}};
constexpr std::array<Place4, 4> kUnitPlaces{{
    {3360, 4200, 855, 375},
    {3360, 4680, 855, 375},
    {4440, 4200, 855, 375},
    {4440, 4680, 735, 375},
}};

void Place(Control& c, const Place4& p) {
  c.Place(p.left, p.top, p.width, p.height);
}

void DesignFixedControls(MainForm& f) {
  const Frame frames[] = {
      {f.Shape1, {840, 600, 8295, 4815}},   {f.Shape11, {840, 720, 1935, 1575}},
      {f.Shape10, {2760, 720, 5895, 1575}}, {f.Shape8, {840, 4080, 2175, 1095}},
      {f.Shape9, {3240, 4080, 2175, 1095}}, {f.Shape5, {5640, 4080, 3015, 1095}},
  };
  const Entry entries[] = {
      {f.TextFreq, {960, 1080, 1575, 375}, 0},
      {f.TextFreqStop, {3000, 1080, 1575, 375}, 11},
      {f.TextFreqStep, {4680, 1080, 1575, 375}, 11},
      {f.TextSweepTime, {6480, 1080, 975, 375}, 8},
  };
  const Text texts[] = {
      {f.Label11, " Start Frequency (Hz)", {960, 1440, 1695, 255}},
      {f.Label12, "Stop  Frequency (Hz)", {3000, 1440, 1695, 255}},
      {f.Label6, "Frequency Step (Hz)", {4800, 1440, 1455, 255}},
      {f.Label13, "Sweep Time (s)", {6360, 1440, 1215, 255}},
      {f.CmdSend, "Send", {1560, 1800, 615, 375}},
      {f.CmdStart, "Start", {7920, 840, 615, 375}},
      {f.CmdStop, "Stop", {7920, 1320, 615, 375}},
      {f.CmdSngl, "Single", {7920, 1800, 615, 375}},
      {f.Label8, "PTS Synthesizer Control", {3720, 1800, 3615, 375}},
      {f.Label2, "MHZ", {1920, 3600, 615, 255}},
      {f.Label3, "KHZ", {4740, 3600, 615, 255}},
      {f.Label4, "HZ", {7200, 3600, 615, 255}},
      {f.Label9, "o", {7680, 2760, 135, 255}},
      {f.Label5, "PTS ???", {960, 4200, 1935, 495}},
      {f.Label7, "Level", {6600, 4680, 735, 255}},
      {f.ComdOff, "Off", {7920, 4440, 495, 375}},
  };
  const Light lights[] = {
      {f.SendLED, 1320, 1800, kGreen, false}, {f.StartLED, 7680, 840, kGreen, false},
      {f.StopLED, 7680, 1320, kRed, true},    {f.SnglLED, 7680, 1800, kGreen, false},
      {f.PowerLED, 7680, 4560, kGreen, true},
  };
  for (const Frame& x : frames) Place(x.shape, x.place);
  f.Shape1.FillColor(kScrollBars);
  f.Shape1.Filled(true);
  for (const Entry& x : entries) {
    Place(x.box, x.place);
    x.box.MaxLength(x.max_length);
  }
  for (const Text& x : texts) {
    Place(x.label, x.place);
    x.label.Caption(x.caption);
  }
  for (const Light& x : lights) {
    x.led.Place(x.left, x.top, 135, 255);
    x.led.FillColor(x.fill);
    x.led.Filled(x.lit);
  }
}

std::string Indexed(const char* name, int i) {
  return std::string(name) + "(" + std::to_string(i) + ")";
}

// The agent's settings the window writes: the given ones, in the order of
// the fields (the display options before the search, each match value before
// its search switch).
struct AgentSettings {
  const char* log_file = nullptr;
  std::optional<bool> logging{}, show_operations{}, verbose{};
  std::optional<int32_t> time_out{}, vid_to_match{}, pid_to_match{};
  std::optional<bool> search_on_pid{}, search_on_vid{};
};

// As designed: logging off, nothing searched for yet.
constexpr AgentSettings kAgentAsDesigned{.log_file = "HidLog.txt",
                                         .logging = false,
                                         .show_operations = false,
                                         .verbose = false,
                                         .time_out = 3000,
                                         .vid_to_match = 0,
                                         .pid_to_match = 0,
                                         .search_on_pid = false,
                                         .search_on_vid = false};
// Loading's configuration, before InitAgent.
constexpr AgentSettings kAgentQuiet{.show_operations = false, .verbose = false};
// Every open attempt: the board by its ids.
constexpr AgentSettings kAgentFindBoards{.vid_to_match = hid::kBoardVendorId,
                                         .pid_to_match = hid::kBoardProductId,
                                         .search_on_pid = true,
                                         .search_on_vid = true};

void Write(Varnel& agent, const AgentSettings& s) {
  if (s.log_file) agent.LogFile(s.log_file);
  if (s.logging) agent.Logging(*s.logging);
  if (s.show_operations) agent.ShowOperations(*s.show_operations);
  if (s.verbose) agent.Verbose(*s.verbose);
  if (s.time_out) agent.TimeOut(*s.time_out);
  if (s.vid_to_match) agent.VID_To_Match(*s.vid_to_match);
  if (s.pid_to_match) agent.PID_To_Match(*s.pid_to_match);
  if (s.search_on_pid) agent.SearchOnPID(*s.search_on_pid);
  if (s.search_on_vid) agent.SearchOnVID(*s.search_on_vid);
}

}  // namespace

MainForm::MainForm(Varnel& agent, Operator& op, std::string program_dir)
    : agent_(agent), op_(op), program_dir_(std::move(program_dir)) {
  BuildControls();
  Write(agent_, kAgentAsDesigned);
  agent_.SetListener(this);
}

MainForm::~MainForm() {
  // The agent may outlive the window and still close devices; it must not
  // call back into it, neither for a step's results.
  agent_.DiscardWrites();
  agent_.SetListener(nullptr);
}

void MainForm::BuildControls() {
  DesignFixedControls(*this);

  // Digit display, in its design-time (ten-digit) arrangement with the decimal mark shown.
  for (int i = 0; i < 3; ++i) {
    auto shape = std::make_unique<Shape>(Indexed("Shape2", i), Shape::Kind::Rectangle);
    Place(*shape, kGroupPlaces[static_cast<size_t>(i)]);
    groups_.push_back(std::move(shape));
  }
  for (int i = 0; i <= 10; ++i) {
    auto digit = std::make_unique<Label>(Indexed("D", i));
    auto knob = std::make_unique<Knob>(Indexed("Knob1", i));
    if (i < 10) {
      const auto k = static_cast<size_t>(i);
      digit->Place(kDigitLefts[k], 2520, i == 9 ? 195 : 225, 360);
      digit->Caption("0");
      knob->Place(kKnobLefts[k], 3000, 510, 510);
      knob->Range(0, 9);
    } else {
      // The level: knob and its value display.
      digit->Place(6720, 4200, 465, 360);
      digit->Caption(std::to_string(kLevelMin));
      knob->Place(5760, 4320, 510, 510);
      knob->Range(kLevelMin, kLevelMax);
      knob->Value(kLevelMin);
    }
    digits_.push_back(std::move(digit));
    knobs_.push_back(std::move(knob));
  }

  for (int i = 0; i < 4; ++i) {
    auto unit = std::make_unique<OptionButton>(Indexed("Option1", i));
    Place(*unit, kUnitPlaces[static_cast<size_t>(i)]);
    unit->Caption("Unit" + std::to_string(i + 1));
    unit->Enabled(i == 0);
    unit_group_.push_back(unit.get());
    units_.push_back(std::move(unit));
  }
  for (auto& unit : units_) unit->Group(&unit_group_);
  // Selected as designed, before the click handler is wired: loading the window clicks nothing.
  units_[0]->Value(true);
  for (int i = 0; i < 4; ++i) {
    units_[static_cast<size_t>(i)]->OnClick([this, i] { Option1_Click(static_cast<int16_t>(i)); });
  }

  TmrDwell.Interval(100);
  TmrDwell.Enabled(false);
  TmrBlink.Interval(500);
  TmrBlink.Enabled(false);

  mnuFile.Caption("&Save to EEPROM");
  mnuSaveFreq.Caption("&Save Frequency to EEPROM");
  mnuSaveModel.Caption("&Save PTS Model to EEPROM");
  mnuSetUp.Caption("&Set-up");
  mnuModel.Caption("&PTS Model");
  for (MenuItem* item : ModelItems()) item->Caption(ModelRowOfItem(item->Name())->caption);
  mnuInfo.Caption("&Info");

  TextFreq.OnChange([this] { TextFreq_Change(); });
}

std::vector<Control*> MainForm::AllControls() {
  // Frames first, so a window that stacks in this order draws them beneath the rest.
  std::vector<Control*> all{&Shape1, &Shape11, &Shape10};
  for (auto& g : groups_) all.push_back(g.get());
  for (Control* c : std::initializer_list<Control*>{
           &Shape8,       &Shape9,  &Shape5,        &TextFreq, &Label11, &TextFreqStop, &Label12,
           &TextFreqStep, &Label6,  &TextSweepTime, &Label13,  &CmdSend, &SendLED,      &CmdStart,
           &StartLED,     &CmdStop, &StopLED,       &CmdSngl,  &SnglLED, &Label8}) {
    all.push_back(c);
  }
  for (auto& d : digits_) all.push_back(d.get());
  for (auto& k : knobs_) all.push_back(k.get());
  for (Control* c : std::initializer_list<Control*>{&Label2, &Label3, &Label4, &Label9, &Label5}) {
    all.push_back(c);
  }
  for (auto& u : units_) all.push_back(u.get());
  for (Control* c :
       std::initializer_list<Control*>{&Label7, &ComdOff, &PowerLED, &TmrDwell, &TmrBlink, &mnuFile,
                                       &mnuSaveFreq, &mnuSaveModel, &mnuSetUp, &mnuModel}) {
    all.push_back(c);
  }
  for (MenuItem* m : ModelItems()) all.push_back(m);
  all.push_back(&mnuInfo);
  return all;
}

std::array<MainForm::ModelChoice, 8> MainForm::ModelChoices() {
  return {{{&mnuPTS10, &MainForm::mnuPTS10_Click},
           {&MNUpts160, &MainForm::MNUpts160_Click},
           {&mnuPTs200, &MainForm::mnuPTs200_Click},
           {&mnuPTS310, &MainForm::mnuPTS310_Click},
           {&mnuPTS500, &MainForm::mnuPTS500_Click},
           {&mnuPTS620, &MainForm::mnuPTS620_Click},
           {&mnuOther, &MainForm::mnuOther_Click},
           {&mnuPTS3200, &MainForm::mnuPTS3200_Click}}};
}

std::array<MenuItem*, 8> MainForm::ModelItems() {
  std::array<MenuItem*, 8> items{};
  const auto choices = ModelChoices();
  for (size_t i = 0; i < items.size(); ++i) items[i] = choices[i].item;
  return items;
}

// ---- Start-up and shutdown ----

bool MainForm::Form_Load() {
  JustStarting = true;
  // The help file sits beside the program.
  HelpFile = program_dir_;
  if (HelpFile.empty() || HelpFile.back() != '/') HelpFile += '/';
  HelpFile += "PcSideH.hlp";
  Caption = std::string(kCaptionPrefix) + kProjectName;
  ConfigureAgent();
  const bool opened = OpenUsbDevice();
  if (!opened) Form_Unload();  // the operator gave up: the window unloads itself
  JustStarting = false;
  return opened;
}

void MainForm::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  TakeStepResults(true);
  CloseAgent();
}

void MainForm::ConfigureAgent() {
  Write(agent_, kAgentQuiet);
  agent_.InitAgent();
}

bool MainForm::OpenUsbDevice() {
  const std::string failure = std::string("Unable to open USB device: \r\n\r\n") + kProjectName +
                              "\r\n\r\nPlease attach the device and click OK,\r\n" +
                              "  or click Cancel to exit";
  for (;;) {
    Write(agent_, kAgentFindBoards);
    if (agent_.OpenDevices()) return true;
    op_.Beep();
    if (op_.MessageBox(failure, MsgButtons::OkCancel, MsgIcon::Information, "") ==
        MsgAnswer::Cancel) {
      return false;
    }
  }
}

void MainForm::CloseAgent() {
  agent_.CloseDevices();
}

}  // namespace pts
