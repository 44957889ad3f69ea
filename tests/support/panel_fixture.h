// A whole front panel on simulated boards, without Qt: the simulated backend
// with the given boards, the agent, a scripted operator and MainForm, brought
// up to the requested stage (loaded, activated) the way the window does it.
//
//   PanelFixture p;                          // one board 0xFE, loaded and activated
//   PanelFixture p({0x35, 0x8E});            // two boards
//   PanelFixture p({}, PanelStart::Constructed);  // nothing attached, Form_Load not run
//
// After start-up the operator's record is moved to startup_boxes/startup_beeps
// and cleared, so a test sees only the boxes and beeps of its own actions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hid/simulated/simulated_backend.h"
#include "hid/varnel.h"
#include "panel/mainform.h"
#include "support/scripted_operator.h"

namespace pts::testing {

enum class PanelStart {
  Constructed,  // MainForm built; Form_Load not run
  Loaded,       // Form_Load run (with the operator's scripted answers)
  Activated,    // Form_Load and, when it returned true, Form_Activate
};

inline constexpr const char* kPanelProgramDir = "/opt/pts-panel";

class PanelFixture {
 public:
  // One simulated board per status byte (model code in bits 7..4, unit code
  // in bits 3..1). Answers queued in `answers` are used by the start-up boxes.
  explicit PanelFixture(std::vector<uint8_t> statuses = {0xFE},
                        PanelStart start = PanelStart::Activated,
                        std::vector<MsgAnswer> answers = {});
  PanelFixture(const PanelFixture&) = delete;
  PanelFixture& operator=(const PanelFixture&) = delete;

  // Runs the stages not run yet, up to `stage`. Returns Form_Load's result.
  bool StartUp(PanelStart stage = PanelStart::Activated);

  // The operator types `text` into TextFreq character by character at the end
  // of the box, through the key filter (8 is backspace).
  void Type(const std::string& text);
  // The operator clicks into TextFreq (it empties) and types `text`.
  void Enter(const std::string& text);
  // The operator turns knob i to `value` (the widget moves it, then reports the turn).
  void TurnKnob(int i, int32_t value);
  // Delivers the hot-plug events the simulated backend has queued.
  void Hotplug();

  // The values of Knob1(0..9) and the captions of D(0..9).
  std::vector<int32_t> Knobs();
  std::vector<std::string> Digits();

  hid::SimulatedBackend backend;
  Varnel agent;
  ScriptedOperator op;
  MainForm form;

  bool loaded = false;  // Form_Load's result
  bool activated = false;
  std::vector<ShownBox> startup_boxes;  // boxes shown while starting up
  int startup_beeps = 0;

 private:
  PanelStart stage_ = PanelStart::Constructed;
};

}  // namespace pts::testing
