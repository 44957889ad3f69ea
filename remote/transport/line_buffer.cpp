#include "remote/transport/line_buffer.h"

namespace pts::remote {

bool LineBuffer::Next(std::string* line, Session& s) {
  for (;;) {
    const size_t lf = in_.find('\n', scan_);
    if (lf == std::string::npos) break;
    const size_t start = head_;
    head_ = scan_ = lf + 1;
    if (overlong_ || lf - start > max_line_) {
      overlong_ = false;
      s.Push(kTooMuchData);
      continue;
    }
    size_t end = lf;
    if (end > start && in_[end - 1] == '\r') --end;
    line->assign(in_, start, end - start);
    return true;
  }
  // Nothing complete: keep only the partial line, or drop it when it is too long.
  in_.erase(0, head_);
  head_ = 0;
  if (in_.size() > max_line_) {
    overlong_ = true;
    in_.clear();
  }
  scan_ = in_.size();
  return false;
}

}  // namespace pts::remote
