// One remote client's status: its error queue and its event status register.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

namespace pts::remote {

class Session {
 public:
  static constexpr size_t kQueueSize = 20;

  // Queues an error ("<code>,"<text>[;<detail>]"") and sets its event status bit.
  // A full queue keeps its oldest entries; its newest becomes -350.
  void Push(int code, const std::string& detail = {});
  // The oldest entry as SYSTem:ERRor? answers it, "0,"No error"" when none.
  std::string Pop();
  size_t Count() const { return errors_.size(); }
  // *ESR?: the register, then cleared.
  int TakeEsr() {
    const int v = esr_;
    esr_ = 0;
    return v;
  }
  void Clear() {
    errors_.clear();
    esr_ = 0;
  }

 private:
  struct Entry {
    int code;
    std::string text;
  };
  std::deque<Entry> errors_;
  int esr_ = 0;
};

}  // namespace pts::remote
