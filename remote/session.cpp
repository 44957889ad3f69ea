#include "remote/session.h"

#include "remote/scpi_parser.h"

namespace pts::remote {

namespace {

int EsrBit(int code) {
  if (code <= -100 && code > -200) return kEsrCommandError;
  if (code <= -200 && code > -300) return kEsrExecutionError;
  if (code <= -300 && code > -400) return kEsrDeviceError;
  if (code <= -400 && code > -500) return kEsrQueryError;
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
  if (errors_.size() >= kQueueSize) {
    esr_ |= EsrBit(kQueueOverflow);
    errors_.back() = {kQueueOverflow, {}};
    return;
  }
  errors_.push_back({code, detail});
}

std::string Session::Pop() {
  if (errors_.empty()) return "0,\"No error\"";
  const Entry e = std::move(errors_.front());
  errors_.pop_front();
  std::string text = CodeText(e.code);
  if (!e.detail.empty()) text += ";" + e.detail;
  return std::to_string(e.code) + ",\"" + Quoted(text) + "\"";
}

std::string Session::PopText() {
  Entry e = std::move(errors_.front());
  errors_.pop_front();
  return e.detail.empty() ? CodeText(e.code) : std::move(e.detail);
}

std::string Session::PopAll() {
  std::string all = Pop();
  while (!errors_.empty()) {
    all += ',';
    all += Pop();
  }
  return all;
}

int Session::StatusByte() const {
  int stb = 0;
  if (!errors_.empty()) stb |= kStbErrorQueue;
  if (ques_.Summary()) stb |= kStbQuestionable;
  if (unread_ && unread_()) stb |= kStbMav;
  if ((esr_ & ese_) != 0) stb |= kStbEsb;
  if (oper_.Summary()) stb |= kStbOperation;
  if ((stb & sre_) != 0) stb |= kStbMss;
  return stb;
}

void Session::See(uint16_t oper, uint16_t ques) {
  if (!seen_) {
    seen_ = true;
    oper_.condition = oper;
    ques_.condition = ques;
    return;
  }
  oper_.See(oper);
  ques_.See(ques);
}

}  // namespace pts::remote
