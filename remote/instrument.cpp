#include "remote/instrument.h"

#include <algorithm>
#include <exception>
#include <string_view>

#include "remote/commands.h"

namespace pts::remote {

namespace {

// Stands in for the operator while a remote command runs: nothing is shown
// (the action's outcome says what happened), and a box that asks OK or
// Cancel is answered Cancel.
class Silent : public Operator {
 public:
  MsgAnswer MessageBox(const std::string&, MsgButtons buttons, MsgIcon,
                       const std::string&) override {
    return buttons == MsgButtons::OkCancel ? MsgAnswer::Cancel : MsgAnswer::Ok;
  }
  void Beep() override {}
  void EndProgram(int) override {}
};

// The SCPI error for each reason an action refused.
int ReasonCode(Reason reason) {
  switch (reason) {
    case Reason::kNone:
      return kNoError;
    case Reason::kOverLimit:
    case Reason::kInvalidFrequency:
      return kDataOutOfRange;
    case Reason::kSweepInput:
    case Reason::kDwellTooShort:
    case Reason::kDwellTooLong:
      return kSettingsConflict;
    case Reason::kNothingSaved:
      return kHardwareMissing;
  }
  return kExecutionError;
}

// What a panel action did, as the client's errors: its refusal, and each
// unit that did not take the word.
void Report(const Outcome& o, Session& client) {
  for (const UnitResult& u : o.units) {
    const std::string unit = "unit " + std::to_string(u.unit);
    if (u.state == UnitState::kFailed)
      client.Push(kHardwareError, unit + " did not accept the report");
    if (u.state == UnitState::kGone) client.Push(kHardwareMissing, unit + " was removed");
  }
  if (o.Refused()) client.Push(ReasonCode(o.reason), o.text);
  if (o.sent && o.units.empty() && !o.Refused()) client.Push(kHardwareMissing);
}

}  // namespace

Instrument::Instrument(MainForm& form, OperatorSwitch& ops, std::string version,
                       std::string setup_dir)
    : form_(form), ops_(ops), version_(std::move(version)), setups_(std::move(setup_dir)) {
  setups_.RemoveLeftovers();  // of a run that ended in the middle of a save
}

void Instrument::Attach(Session& client) {
  if (!Attached(client)) clients_.push_back(&client);
  Update(&client);
}

void Instrument::Detach(Session& client) {
  clients_.erase(std::remove(clients_.begin(), clients_.end(), &client), clients_.end());
}

bool Instrument::Attached(const Session& client) const {
  return std::find(clients_.begin(), clients_.end(), &client) != clients_.end();
}

void Instrument::Update() {
  Update(nullptr);
}

void Instrument::Update(Session* also) {
  const auto oper = static_cast<uint16_t>((form_.Sweeping() ? kOperSweeping : 0) |
                                          (source_.armed ? kOperWaitingForTrigger : 0));
  const uint16_t ques = form_.OutputQuestionable() ? kQuesFrequency : 0;
  const bool pending = OperationPending(form_);
  auto settle = [&](Session& s) {
    s.See(oper, ques);
    if (!pending) s.OperationsDone();
  };
  for (Session* s : clients_) settle(*s);
  if (also && !Attached(*also)) settle(*also);
}

// Before the command, what changed since the last update; after it, what it changed.
bool Instrument::Execute(const Command& cmd, Session& client, Response* response) {
  Update(&client);
  const bool done = Run(cmd, client, response);
  Update(&client);
  if (done) {
    for (const auto& f : on_executed_) f();
  }
  return done;
}

bool Instrument::Run(const Command& cmd, Session& client, Response* response) {
  if (cmd.error != kNoError) {
    client.Push(cmd.error);
    return true;
  }
  std::vector<const CommandList::PatNode*> bound(cmd.path.size());
  const CommandList::Entry* entry = FindEntry(cmd.path, client.PanelClient(), bound);
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
  Silent silent;
  Ctx c{form_, client, response, cmd, version_, source_};
  c.unit = unit;
  c.setups = &setups_;
  // Whatever panel action the handler ran (send, save, Start, Single, a
  // list), its outcome becomes the client's errors here, once.
  const uint64_t actions = form_.ActionsBegun();
  {
    OperatorSwitch::Scope scope(ops_, silent);
    try {
      handler(c);
    } catch (const std::exception& e) {
      // The window would end the program on an untrapped error; a client's
      // command reports it instead.
      client.Push(kHardwareError, e.what());
    }
  }
  if (form_.ActionsBegun() != actions) Report(form_.LastOutcome(), client);
  return !c.wait;
}

}  // namespace pts::remote
