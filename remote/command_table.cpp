#include "remote/command_table.h"

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

using Keyword = CommandList::Keyword;
using PatNode = CommandList::PatNode;
using Entry = CommandList::Entry;

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

const std::vector<Entry>& Table() {
  static const CommandList table = [] {
    CommandList t;
    AddCommonCommands(t);
    AddSourceCommands(t);
    AddListCommands(t);
    AddMemoryCommands(t);
    AddStatusCommands(t);
    AddPanelCommands(t);
    return t;
  }();
  return table.Entries();
}

}  // namespace

void CommandList::Add(const char* spec, Handler set, Handler query, bool query_params) {
  entries_.push_back({Pattern(spec), set, query, query_params});
}

void CommandList::AddPlain(const char* spec, Handler set, Handler query) {
  entries_.push_back({Pattern(spec), set, query, false, false});
}

void CommandList::AddPanel(const char* spec, Handler set) {
  Entry e{Pattern(spec), set, nullptr, false};
  e.panel_only = true;
  entries_.push_back(std::move(e));
}

Instrument::Instrument(MainForm& form, OperatorSwitch& ops, std::string version,
                       std::string setup_dir)
    : form_(form), ops_(ops), version_(std::move(version)), setups_(std::move(setup_dir)) {}

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
  const auto oper = static_cast<uint16_t>((Sweeping(form_) ? kOperSweeping : 0) |
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
bool Instrument::Execute(const Command& cmd, Session& client, std::string* out) {
  Update(&client);
  const bool done = Run(cmd, client, out);
  Update(&client);
  if (done) {
    for (const auto& f : on_executed_) f();
  }
  return done;
}

bool Instrument::Run(const Command& cmd, Session& client, std::string* out) {
  if (cmd.error != kNoError) {
    client.Push(cmd.error);
    return true;
  }
  const Entry* entry = nullptr;
  std::vector<const PatNode*> bound(cmd.path.size());
  for (const Entry& e : Table()) {
    if (e.panel_only && !client.PanelClient()) continue;
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
  Silent silent;
  Ctx c{form_, client, out, cmd, version_, source_};
  c.unit = unit;
  c.setups = &setups_;
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
