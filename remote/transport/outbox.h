// What a front end has to send on a non-blocking socket: queued, and sent as
// far as the socket takes it now; the rest waits for the socket's next
// "writable".
#pragma once

#include <sys/socket.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace pts::remote {

class Outbox {
 public:
  void Append(const std::string& bytes) {
    if (Empty()) {
      out_.assign(bytes);
      sent_ = 0;
    } else {
      out_.append(bytes);
    }
  }
  std::string& Buffer() { return out_; }  // to append to in place; Flush sends it
  bool Empty() const { return sent_ == out_.size(); }
  size_t Unsent() const { return out_.size() - sent_; }

  // Sends what the socket takes. False when the peer is gone.
  bool Flush(int fd) {
    while (sent_ < out_.size()) {
      const ssize_t n = ::send(fd, out_.data() + sent_, out_.size() - sent_, MSG_NOSIGNAL);
      if (n > 0) {
        sent_ += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
    if (sent_ == out_.size()) {
      out_.clear();
      sent_ = 0;
    } else if (sent_ > kCompact) {
      out_.erase(0, sent_);
      sent_ = 0;
    }
    return true;
  }

 private:
  static constexpr size_t kCompact = 64 * 1024;
  std::string out_;
  size_t sent_ = 0;
};

}  // namespace pts::remote
