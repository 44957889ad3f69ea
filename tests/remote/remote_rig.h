// A panel on simulated boards with the remote command table in front of it,
// started as the program starts it (load, then the first read-back).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hid/simulated/simulated_backend.h"
#include "hid/varnel.h"
#include "panel/mainform.h"
#include "remote/instrument.h"
#include "support/scripted_operator.h"

namespace pts::testing {

struct RemoteRig {
  explicit RemoteRig(const std::vector<uint8_t>& boards = {0x5E, 0x5C}) {
    for (uint8_t b : boards) backend.AddBoard(b);
    backend.DrainHotplug();
    form.Form_Load();
    form.Form_Activate();
    person.Clear();
  }
  // Every error waiting in `s`, oldest first, as SYSTem:ERRor? gives them.
  static std::vector<std::string> Errors(remote::Session& s) {
    std::vector<std::string> e;
    while (s.Count() > 0) e.push_back(s.Pop());
    return e;
  }

  hid::SimulatedBackend backend;
  Varnel agent{backend};
  ScriptedOperator person;  // the one at the panel: no remote command may show a box
  remote::OperatorSwitch op{person};
  MainForm form{agent, op, "/opt/pts-panel"};
  // Saved set-ups go nowhere unless a test names a directory: never into the real home.
  remote::Instrument instrument{form, op, "9.9.9", "/nonexistent/pts-panel-tests"};
};

}  // namespace pts::testing
