// A panel on simulated boards with the remote command table in front of it,
// started as the program starts it (load, then the first read-back).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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
  // Parses and runs a whole message at once: a command that would wait is
  // answered as if the wait were over. The response message, LF included;
  // empty when no query answered.
  static std::string RunMessage(remote::Instrument& inst, std::string_view message,
                                remote::Session& client) {
    remote::Response response;
    for (const remote::Command& cmd : remote::ParseMessage(message)) {
      if (!inst.Execute(cmd, client, &response) && cmd.query &&
          cmd.path.front().keyword == "*OPC") {
        response.Add("1");
      }
    }
    std::string out;
    response.EndInto(&out);
    return out;
  }
  std::string RunMessage(std::string_view message, remote::Session& client) {
    return RunMessage(instrument, message, client);
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
