// Feeds arbitrary bytes to the SCPI parser as one program message and checks
// what it gives back; ASan and UBSan catch the rest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "remote/scpi_parser.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Printable(char c) {
  return c >= 0x20 && c <= 0x7E;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pts::remote;
  const std::string_view message(reinterpret_cast<const char*>(data), size);
  const auto commands = ParseMessage(message);
  // At most one command per ';' (and one more): nothing is made up.
  size_t separators = 0;
  for (char c : message) separators += c == ';';
  Check(commands.size() <= separators + 1);
  for (size_t i = 0; i < commands.size(); ++i) {
    const Command& c = commands[i];
    if (c.error != kNoError) {
      Check(i + 1 == commands.size());  // nothing after a parse error
      Check(c.path.empty() && c.params.empty());
      continue;
    }
    Check(!c.path.empty());
    for (const Node& n : c.path) {
      Check(!n.keyword.empty() && n.keyword.size() <= size);
      Check(n.suffix >= -1 && n.suffix <= 1000000000);
      for (char k : n.keyword) Check(Printable(k) && !(k >= 'a' && k <= 'z'));
    }
    for (const Param& p : c.params) {
      Check(p.text.size() <= size);
      for (char k : p.text) Check(Printable(k));
    }
  }
  return 0;
}
