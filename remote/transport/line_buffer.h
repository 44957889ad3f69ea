#pragma once

#include <cstddef>
#include <string>

#include "remote/scpi_parser.h"
#include "remote/session.h"

namespace pts::remote {

// A client's received bytes, taken a line at a time. A line above `max_line`
// is dropped up to its LF, with -223 in the client's queue.
class LineBuffer {
 public:
  explicit LineBuffer(size_t max_line) : max_line_(max_line) {}
  void Append(const char* data, size_t size) { in_.append(data, size); }
  // Ends the line being received, as an LF would (a message's end without one).
  void EndLine() {
    if (in_.size() == head_ && !overlong_) return;
    if (in_.empty() || in_.back() != '\n') in_ += '\n';
  }
  // Takes the next complete line (without LF, and a CR before it) into *line;
  // false when none is complete. Keeps at most one partial line of max_line.
  bool Next(std::string* line, Session& s);
  size_t Size() const { return in_.size() - head_; }  // bytes held, partial line included
  void Clear() {
    in_.clear();
    head_ = scan_ = 0;
    overlong_ = false;
  }

 private:
  size_t max_line_;
  std::string in_;
  size_t head_ = 0;  // start of the line not yet taken
  size_t scan_ = 0;  // no LF before this offset
  bool overlong_ = false;
};

}  // namespace pts::remote
