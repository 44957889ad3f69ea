#include "app/headless.h"

#include <cstdio>
#include <cstdlib>

namespace pts {

std::string ConsoleOperator::OneLine(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t end = text.find_first_of("\r\n", i);
    std::string line = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
    i = end == std::string::npos ? text.size() : end + 1;
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    line = line.substr(first, line.find_last_not_of(" \t") - first + 1);
    if (!out.empty()) out += ' ';
    out += line;
  }
  return out;
}

MsgAnswer ConsoleOperator::MessageBox(const std::string& text, MsgButtons buttons, MsgIcon,
                                      const std::string&) {
  std::fprintf(stderr, "pts-panel: %s\n", OneLine(text).c_str());
  std::fflush(stderr);
  return buttons == MsgButtons::OkCancel ? MsgAnswer::Cancel : MsgAnswer::Ok;
}

void ConsoleOperator::EndProgram(int status) {
  std::fflush(nullptr);
  std::exit(status);
}

Headless::Headless(MainForm& form) : runner_(form) {}

void Headless::Start() {
  runner_.BindTimers(true);
  runner_.StartHotplug();
  runner_.Activate();
}

}  // namespace pts
