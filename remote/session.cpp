#include "remote/session.h"

#include "remote/scpi_parser.h"

namespace pts::remote {

namespace {

// Event status bits: 2 query, 3 device-dependent, 4 execution, 5 command error.
int EsrBit(int code) {
  if (code <= -100 && code > -200) return 1 << 5;
  if (code <= -200 && code > -300) return 1 << 4;
  if (code <= -300 && code > -400) return 1 << 3;
  if (code <= -400 && code > -500) return 1 << 2;
  return 0;
}

// A panel text inside a quoted string: one line, quotes doubled.
std::string Quoted(const std::string& s) {
  std::string out;
  bool blank = false;
  for (char c : s) {
    if (c == '\r' || c == '\n') {
      blank = true;
      continue;
    }
    if (blank && !out.empty() && out.back() != ' ') out += ' ';
    blank = false;
    if (c == '"') out += '"';
    out += c;
  }
  return out;
}

}  // namespace

void Session::Push(int code, const std::string& detail) {
  esr_ |= EsrBit(code);
  std::string text = CodeText(code);
  if (!detail.empty()) text += ";" + detail;
  if (errors_.size() >= kQueueSize) {
    esr_ |= EsrBit(kQueueOverflow);
    errors_.back() = {kQueueOverflow, CodeText(kQueueOverflow)};
    return;
  }
  errors_.push_back({code, Quoted(text)});
}

std::string Session::Pop() {
  if (errors_.empty()) return "0,\"No error\"";
  const Entry e = std::move(errors_.front());
  errors_.pop_front();
  return std::to_string(e.code) + ",\"" + e.text + "\"";
}

}  // namespace pts::remote
