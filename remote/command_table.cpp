// The command table: the headers every command file adds, and how a
// parsed header finds its entry.
#include <string_view>

#include "remote/commands.h"

namespace pts::remote {

namespace {

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
    AddFixedCommands(t);
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

const Entry* FindEntry(const std::vector<Node>& path, bool panel_client,
                       std::vector<const PatNode*>& bound) {
  for (const Entry& e : Table()) {
    if (e.panel_only && !panel_client) continue;
    if (Match(e.pattern, 0, path, 0, bound)) return &e;
  }
  return nullptr;
}

}  // namespace pts::remote
