// WebSocket frames as a server reads and writes them (RFC 6455): every
// client frame must be masked, reserved bits clear, control frames short
// and whole, fragments in order, text UTF-8, messages within a bound; the
// first breach ends the connection with the close code the RFC names.
// No Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pts::remote::ws {

enum class Op : uint8_t {
  kContinuation = 0,
  kText = 1,
  kBinary = 2,
  kClose = 8,
  kPing = 9,
  kPong = 10
};

inline constexpr uint16_t kNormal = 1000, kProtocolError = 1002, kUnsupportedData = 1003,
                          kNoStatus = 1005, kInvalidData = 1007, kPolicy = 1008, kTooBig = 1009;

struct Event {
  enum Kind { kText, kBinary, kPing, kPong, kClose, kError } kind;
  std::string data;   // the message, or a close's or an error's reason
  uint16_t code = 0;  // kClose: the peer's code (kNoStatus when none); kError: ours to send
};

class Decoder {
 public:
  explicit Decoder(size_t max_message) : max_(max_message) {}
  // Takes the next bytes from the client; appends what they complete. After
  // a kError or a kClose nothing more is read.
  void Feed(std::string_view bytes, std::vector<Event>* events);
  bool Done() const { return done_; }

 private:
  bool Next(std::vector<Event>* events);  // one frame, if whole
  void Fail(uint16_t code, const char* why, std::vector<Event>* events);

  size_t max_;
  std::string buf_;
  size_t at_ = 0;  // start of the unread part of buf_
  std::string message_;
  int message_op_ = -1;  // the fragmented message's opcode, -1: none
  bool done_ = false;
};

// A whole frame from the server: unmasked, as the RFC requires.
std::string Frame(Op op, std::string_view payload);
std::string CloseFrame(uint16_t code, std::string_view reason);
bool ValidUtf8(std::string_view s);

}  // namespace pts::remote::ws
