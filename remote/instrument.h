// The remote commands: each parsed command is matched against the command
// table and run through MainForm's handlers, as the operator's action would
// run. What the panel would show in a box becomes an error of the client
// that sent the command. No Qt.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "panel/mainform.h"
#include "remote/operator_switch.h"
#include "remote/scpi_parser.h"
#include "remote/session.h"
#include "remote/setups.h"
#include "remote/source_state.h"

namespace pts::remote {

class Instrument {
 public:
  // `form` must have been built with `ops` as its operator. `version` is the
  // program's, for *IDN?. Saved set-ups live in `setup_dir`.
  Instrument(MainForm& form, OperatorSwitch& ops, std::string version,
             std::string setup_dir = SetupDirFromEnvironment());

  // Runs one command for `client`; each query's answer is appended to *out,
  // ending in LF. Returns false, having done nothing, when the command has to
  // wait (*OPC? and *WAI while a single sweep runs); run it again later.
  bool Execute(const Command& cmd, Session& client, std::string* out);

  // Parses and runs a whole message at once (tests, the fuzzer): a command
  // that would wait is answered as if the wait were over.
  std::string RunMessage(std::string_view message, Session& client);

  // The clients whose status registers follow the instrument's conditions.
  // A session stays attached until detached; it must not be destroyed before.
  void Attach(Session& client);
  void Detach(Session& client);
  // Takes the conditions from the panel and the source (sweeping, waiting for
  // a trigger, the output questionable) into every attached client, and sets
  // *OPC's bit for those waiting once no operation is pending. Runs before and
  // after every command; the program calls it after every panel handler too
  // (timer ticks, hot-plug, the window's own actions), since those change the
  // conditions without any command.
  void Update();

  // Called after every command that ran (not one that waits), from any
  // client: what it changed may need showing elsewhere.
  void OnExecuted(std::function<void()> f) { on_executed_.push_back(std::move(f)); }

  SourceState& Source() { return source_; }
  SetupStore& Setups() { return setups_; }

 private:
  bool Run(const Command& cmd, Session& client, std::string* out);
  bool Attached(const Session& client) const;
  // Update, and `also` too when it is not attached (a command's client).
  void Update(Session* also);
  MainForm& form_;
  OperatorSwitch& ops_;
  std::string version_;
  SourceState source_;
  SetupStore setups_;
  std::vector<Session*> clients_;
  std::vector<std::function<void()>> on_executed_;
};

}  // namespace pts::remote
