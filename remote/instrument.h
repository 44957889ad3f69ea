// The remote commands: each parsed command is matched against the command
// table and run through MainForm's handlers, as the operator's action would
// run. What the panel would show in a box becomes an error of the client
// that sent the command. No Qt.
#pragma once

#include <cstddef>
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

// The answers to the queries of one program message: one response message
// (IEEE 488.2), the answers joined by ';' and ended once by LF, that goes out
// when the whole message has run. It is held whole until then, so it is
// bounded: an answer that would take it above kMaxSize is dropped, and so
// is every later one of the message (the answers stay in their places).
class Response {
 public:
  static constexpr size_t kMaxSize = 256 * 1024;  // as large as a program message

  // False when the answer was dropped.
  bool Add(const std::string& answer) {
    if (dropped_ > 0 || text_.size() + answer.size() + 1 > kMaxSize) {
      ++dropped_;
      return false;
    }
    if (answers_++ > 0) text_ += ';';
    text_ += answer;
    return true;
  }
  bool Empty() const { return answers_ == 0; }
  int Dropped() const { return dropped_; }
  // Appends the response message to *out, when a query answered, and starts
  // the next.
  void EndInto(std::string* out) {
    if (answers_ > 0) {
      *out += text_;
      *out += '\n';
    }
    Clear();
  }
  void Clear() {
    text_.clear();
    answers_ = dropped_ = 0;
  }

 private:
  std::string text_;
  int answers_ = 0;  // an answer may be empty (an empty list)
  int dropped_ = 0;
};

class Instrument {
 public:
  // `form` must have been built with `ops` as its operator. `version` is the
  // program's, for *IDN?. Saved set-ups live in `setup_dir`.
  Instrument(MainForm& form, OperatorSwitch& ops, std::string version,
             std::string setup_dir = SetupDirFromEnvironment());

  // Runs one command of a message for `client`; a query adds its answer to
  // the message's response (nothing when it fails). Returns false, having
  // done nothing, when the command has to wait (*OPC? and *WAI while a
  // single sweep runs); run it again later.
  bool Execute(const Command& cmd, Session& client, Response* response);

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
  bool Run(const Command& cmd, Session& client, Response* response);
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
