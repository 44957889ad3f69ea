// MainForm: the front panel's state and handlers, without Qt. The window
// (ui/) mirrors the controls and calls the handlers for the operator's actions;
// tests call them directly.
//
// The handlers are split by concern over several files:
//   mainform.cpp          construction, the design-time layout, start-up and unload
//   mainform_entry.cpp    frequency box, key filter, knobs, digit layouts
//   mainform_encoding.cpp TranslateFrequency
//   mainform_sweep.cpp    Send, Start, Single, Stop, Off, both timers and the list
//   mainform_devices.cpp  the agent's events and unit selection
//   mainform_readback.cpp activation and the read-back
//   mainform_models.cpp   model menu, Info
//   mainform_eeprom.cpp   EEPROM save commands
//   mainform_outcome.cpp  the record of what an action did
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hid/pts_device.h"
#include "hid/varnel.h"
#include "panel/controls.h"
#include "panel/operator.h"
#include "panel/outcome.h"

namespace pts {

// The project's name as the caption and the open-failure message show it.
inline constexpr const char* kProjectName = "PTS USB Interface";
inline constexpr const char* kCaptionPrefix = "Test program for Brenvik project: ";
// Longest text the frequency box keeps: nine digits, a point and the tenths;
// ten digits for the PTS 3200.
inline constexpr size_t kTextFreqLimit = 11;
inline constexpr size_t kTextFreqLimit3200 = 10;

class MainForm : public VarnelListener {
 public:
  // `program_dir` is the folder of the program, for the help-file name.
  MainForm(Varnel& agent, Operator& op, std::string program_dir = ".");
  ~MainForm() override;
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  // ---- State (empty values are std::nullopt; they count as 0) ----
  double Frequency = 0;
  double FreqStart = 0, FreqStop = 0, FreqStep = 0;
  double DwellTime = 0;
  double DwellNum = 0, TempDwellNum = 0;
  bool StopFlag = false, SnglSweepFlag = false;
  bool JustStarting = false;
  std::optional<int16_t> ModelNum, Mnum, Cmd1Val;
  int32_t UnitNum = 0;
  int32_t DevNum = 0;
  // Devices, indexed from 1 through Device(i); the vector itself is 0-based.
  std::vector<std::shared_ptr<TPTS>> Devices;
  TPTS& Device(int32_t i) { return *Devices.at(static_cast<size_t>(i - 1)); }

  // Window properties the logic sets.
  std::string Caption;
  std::string HelpFile;

  // ---- Controls (names as the window knows them) ----
  TextBox TextFreq{"TextFreq"}, TextFreqStop{"TextFreqStop"}, TextFreqStep{"TextFreqStep"},
      TextSweepTime{"TextSweepTime"};
  Label Label11{"Label11"}, Label12{"Label12"}, Label6{"Label6"}, Label13{"Label13"},
      Label8{"Label8"};
  Button CmdSend{"CmdSend"}, CmdStart{"CmdStart"}, CmdStop{"CmdStop"}, CmdSngl{"CmdSngl"},
      ComdOff{"ComdOff"};
  Shape SendLED{"SendLED", Shape::Kind::Circle}, StartLED{"StartLED", Shape::Kind::Circle},
      StopLED{"StopLED", Shape::Kind::Circle}, SnglLED{"SnglLED", Shape::Kind::Circle},
      PowerLED{"PowerLED", Shape::Kind::Circle};
  Shape Shape1{"Shape1", Shape::Kind::Rectangle}, Shape11{"Shape11", Shape::Kind::Rectangle},
      Shape10{"Shape10", Shape::Kind::Rectangle}, Shape8{"Shape8", Shape::Kind::Rectangle},
      Shape9{"Shape9", Shape::Kind::Rectangle}, Shape5{"Shape5", Shape::Kind::Rectangle};
  Label Label2{"Label2"}, Label3{"Label3"}, Label4{"Label4"}, Label9{"Label9"}, Label5{"Label5"},
      Label7{"Label7"};
  Timer TmrDwell{"TmrDwell"}, TmrBlink{"TmrBlink"};
  MenuItem mnuFile{"mnuFile"}, mnuSaveFreq{"mnuSaveFreq"}, mnuSaveModel{"mnuSaveModel"},
      mnuSetUp{"mnuSetUp"}, mnuModel{"mnuModel"}, mnuPTS10{"mnuPTS10"}, MNUpts160{"MNUpts160"},
      mnuPTs200{"mnuPTs200"}, mnuPTS310{"mnuPTS310"}, mnuPTS500{"mnuPTS500"},
      mnuPTS620{"mnuPTS620"}, mnuOther{"mnuOther"}, mnuPTS3200{"mnuPTS3200"}, mnuInfo{"mnuInfo"};
  // Control arrays.
  Knob& Knob1(int i) { return *knobs_.at(static_cast<size_t>(i)); }
  Label& D(int i) { return *digits_.at(static_cast<size_t>(i)); }
  Shape& Shape2(int i) { return *groups_.at(static_cast<size_t>(i)); }
  OptionButton& Option1(int i) { return *units_.at(static_cast<size_t>(i)); }
  // Every control, for the window to build and observe.
  std::vector<Control*> AllControls();
  // The model items with their click handlers, in the order of the model table (kModels).
  struct ModelChoice {
    MenuItem* item;
    void (MainForm::*click)();
  };
  std::array<ModelChoice, 8> ModelChoices();
  std::array<MenuItem*, 8> ModelItems();  // the items alone

  // ---- Start-up and shutdown ----
  // Returns false when the operator gave up on opening a board: the window
  // has then unloaded itself (Form_Unload ran) and the program should end.
  bool Form_Load();
  void Form_Unload();
  void ConfigureAgent();
  bool OpenUsbDevice();
  void CloseAgent();

  // ---- Frequency encoding ----
  // Sends and waits: every unit's result is known (and beeped, and in
  // LastOutcome) when it returns. The results of sweep steps still out are
  // reported first.
  void TranslateFrequency();
  // A sweep or list step's send: the writes are handed to the boards' I/O
  // workers and this returns before they are done. Their results are
  // reported as TranslateFrequency reports them (a beep per failed unit, a
  // board found gone closed, LastOutcome while no other action has begun,
  // OutputFrequency and OutputQuestionable), in order, at the first step
  // (or other handler, see TakeStepResults) that begins after the writes are
  // done: the next step, while the boards keep up. A board still writing
  // when the next step comes queues its word and writes it when free,
  // catching up; when more than 8 wait, the oldest waiting word is dropped,
  // so the newest always goes out. A dropped word is skipped: never beeped,
  // counted in SkippedWords.
  void StepFrequency();
  // Reports the results of the sweep steps whose writes are done; with
  // `wait`, first waits until every step's writes are done.
  void TakeStepResults(bool wait);
  // Step words that a busy board never got: dropped for newer ones.
  uint64_t SkippedWords() const { return skipped_words_; }
  // The boards' output: the frequency of the last word that set it (command
  // 4) and that a board accepted; 0 before any.
  double OutputFrequency() const { return output_hz_; }

  // ---- Send, sweep, Off ----
  void CmdSend_Click();
  void CmdStart_Click();
  void CmdSngl_Click();
  // Single for `passes` passes in a row (the remote's sweep count): the passes
  // before the last run on as Start's do, and the single sweep ends with the
  // last. Single itself is one pass.
  void SinglePasses(uint32_t passes);
  void CmdStop_Click();
  void ComdOff_Click();
  void TmrBlink_Timer();
  void TmrDwell_Timer();

  // ---- A list of frequencies, for the remote control ----
  // Runs `freq` (Hz) one point per tick of TmrDwell, as sweep steps go out;
  // each point holds for its dwell (`dwell_ms`: one for every point, or one
  // per point), and the first goes out the first point's dwell after the
  // start, as a sweep's first step does. `passes` times over, or until Stop
  // when 0. Starting, ending and stopping work as Single (Start when 0) and
  // Stop do, lights included; a sweep started later takes the timer back.
  // Refused (kSweepInput) when the list is empty or the lengths differ.
  void RunList(std::vector<double> freq, std::vector<double> dwell_ms, uint32_t passes);
  // Why a list of `points` frequencies and `dwells` dwell times cannot run;
  // empty when it can.
  static std::string ListConflict(size_t points, size_t dwells);
  struct ListRun {
    std::vector<double> freq, dwell_ms;  // dwell_ms: whole ms, 1 or one per point
    size_t at = 0;                       // 1..points: the point now set; 0 before the first
    bool on = false;                     // TmrDwell drives this list, not the sweep
  };
  const ListRun& List() const { return list_; }

  // ---- Entry, knobs and digits ----
  void TextFreq_Change();
  void TextFreq_GotFocus();
  void TextFreq_KeyPress(int16_t& KeyAscii);
  void TextFreqStop_KeyPress(int16_t& KeyAscii);
  static int16_t LimitTextInput(int16_t KeyAscii);
  // The operator turned knob Index. The window calls it after moving the knob.
  void Knob1_Change(int16_t Index);
  void Display3200();
  void DisplayNormal();

  // ---- Activation and read-back ----
  void Form_Activate();
  void ReadRptsBtn_Click();

  // ---- The agent's events and the unit buttons ----
  void InterfaceOpened(int32_t AHidHandle, int32_t VendorID, int32_t ProductID,
                       const std::string& IntfName) override;
  void InterfaceClosed(int32_t NumStillOpen, const std::string& IntfName,
                       int32_t AHidHandle) override;
  void ReportArrived(int32_t RptIndexInIntf, int32_t AllRptIndex) override;
  void DeviceArrived(int32_t Value, const std::string& Text) override;
  void DeviceRemoved(int32_t Value, const std::string& Text) override;
  void Notice(const std::string& Text) override;
  void Option1_Click(int16_t Index);
  TPTS* LastDevice();

  // ---- Model menu, EEPROM saves, Info ----
  void mnuPTS10_Click();
  void MNUpts160_Click();
  void mnuPTs200_Click();
  void mnuPTS310_Click();
  void mnuPTS500_Click();
  void mnuPTS620_Click();
  void mnuOther_Click();
  void mnuPTS3200_Click();
  void UnCheckModelNum();
  void mnuSaveFreq_Click();
  void mnuSaveModel_Click();
  void mnuInfo_Click();

  Varnel& Agent() { return agent_; }
  Operator& Op() { return op_; }
  // What the last send, save, Start or Single did (a sweep step counts as a send).
  const Outcome& LastOutcome() const { return outcome_; }
  // A sweep or a list runs and is not told to stop.
  bool Sweeping() const { return TmrDwell.Enabled() && !StopFlag; }
  // Writes the frequency box and always runs its change handling. The box runs
  // it only when the text differs; a write of the same text must still refresh
  // the digits and clear the green (the level may have changed).
  void WriteFreqText(const std::string& text);
  // Counts the actions begun: when it moved across a call, LastOutcome is that call's.
  uint64_t ActionsBegun() const { return actions_; }
  // The output may not be what the panel last sent: a unit did not take the
  // last word (failed or gone), or fewer boards are attached than it went to.
  // The next word that every attached unit takes clears it.
  bool OutputQuestionable() const {
    return !last_word_all_taken_ || Devices.size() < last_word_units_;
  }

 private:
  void BuildControls();              // the design-time layout and states
  void SelectModel(MenuItem& item);  // the item's row of the model table
  // An action begins: the record of the last one is emptied.
  void BeginOutcome();
  // Records why the action sent nothing and tells the operator: the text in a
  // box, or a beep where there is none.
  void Refuse(Reason reason, const std::string& text);
  void Confirm(const std::string& text);
  Outcome outcome_;
  uint64_t actions_ = 0;  // counts BeginOutcome: a step's late results know if theirs is current
  struct WordSent;        // a word's units and what became of them (mainform_encoding.cpp)
  void SendWord(bool wait);
  void RecordUnit(WordSent& word, size_t k, UnitState state);
  void WordDone(const WordSent& word);
  uint64_t skipped_words_ = 0;
  std::vector<std::weak_ptr<TPTS>> gone_reported_;  // units whose removal a result has reported
  size_t last_word_units_ = 0;                      // the units the last word went to
  bool last_word_all_taken_ = true;
  bool SweepSetup();
  // A pass of a single sweep or list has ended: true when another follows.
  bool NextPass();
  uint32_t passes_left_ = 0;  // passes of a single sweep or list after this one
  void ListStep();            // TmrDwell_Timer's step while a list runs
  ListRun list_;
  // True while Send, Start, Single or a sweep step runs. A modal box inside
  // one of them runs a nested event loop; ticks and clicks arriving there are
  // skipped instead of re-entering.
  bool sweep_busy_ = false;
  double output_hz_ = 0;  // the frequency of the last word a board took with command 4
  void ConfirmSaved(const char* text);  // mainform_eeprom.cpp
  // Devices and units (mainform_devices.cpp).
  bool IsAttached(const TPTS* device) const;  // still an entry of Devices
  void ShowModelPrompt();
  void ShowLayout();      // the digit layout for ModelNum
  void ShowModelLabel();  // Label5: "PTS " and ModelNum
  // Form_Activate has run: it reads back once, and later arrivals are opened.
  bool activated_ = false;
  std::vector<std::string> notices_shown_;

  Varnel& agent_;
  Operator& op_;
  std::string program_dir_;
  std::vector<std::unique_ptr<Knob>> knobs_;
  std::vector<std::unique_ptr<Label>> digits_;
  std::vector<std::unique_ptr<Shape>> groups_;
  std::vector<std::unique_ptr<OptionButton>> units_;
  std::vector<OptionButton*> unit_group_;
  // Form_Unload has run: the devices are closed once, however often the window unloads.
  bool unloaded_ = false;
};

}  // namespace pts
