#include "remote/web/ws_frames.h"

namespace pts::remote::ws {

bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;  // cut short
    for (size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and beyond U+10FFFF are not UTF-8.
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += n + 1;
  }
  return true;
}

void Decoder::Fail(uint16_t code, const char* why, std::vector<Event>* events) {
  done_ = true;
  buf_.clear();
  at_ = 0;
  events->push_back({Event::kError, why, code});
}

void Decoder::Feed(std::string_view bytes, std::vector<Event>* events) {
  if (done_) return;
  buf_.append(bytes);
  while (!done_ && Next(events)) {
  }
  // Keep only the unread tail, so a long connection does not grow it.
  if (at_ > 0 && (at_ == buf_.size() || at_ > 4096)) {
    buf_.erase(0, at_);
    at_ = 0;
  }
}

bool Decoder::Next(std::vector<Event>* events) {
  const std::string_view b = std::string_view(buf_).substr(at_);
  if (b.size() < 2) return false;
  const auto b0 = static_cast<unsigned char>(b[0]), b1 = static_cast<unsigned char>(b[1]);
  const bool fin = b0 & 0x80;
  const int op = b0 & 0x0F;
  const bool control = op >= 8;
  // Checked on the first two bytes, before waiting for anything more.
  if (b0 & 0x70) return Fail(kProtocolError, "reserved bits set", events), false;
  if (!(b1 & 0x80)) return Fail(kProtocolError, "unmasked frame", events), false;
  if (op != 0 && op != 1 && op != 2 && op != 8 && op != 9 && op != 10) {
    return Fail(kProtocolError, "unknown opcode", events), false;
  }
  uint64_t len = b1 & 0x7F;
  if (control && (!fin || len > 125)) {
    return Fail(kProtocolError, "fragmented or long control frame", events), false;
  }
  size_t head = 2;
  if (len == 126 || len == 127) {
    const size_t n = len == 126 ? 2 : 8;
    if (b.size() < 2 + n) return false;
    len = 0;
    for (size_t k = 0; k < n; ++k) len = (len << 8) | static_cast<unsigned char>(b[2 + k]);
    head += n;
  }
  if (!control) {
    if (op == 0 && message_op_ < 0) {
      return Fail(kProtocolError, "continuation of nothing", events), false;
    }
    if (op != 0 && message_op_ >= 0) {
      return Fail(kProtocolError, "new message inside a fragmented one", events), false;
    }
    // Refused before its bytes are waited for or kept.
    if (len > max_ || message_.size() + len > max_) {
      return Fail(kTooBig, "message too large", events), false;
    }
  }
  if (b.size() < head + 4 + len) return false;
  const std::string_view mask = b.substr(head, 4);
  std::string payload(b.substr(head + 4, size_t(len)));
  for (size_t k = 0; k < payload.size(); ++k) payload[k] ^= mask[k % 4];
  at_ += head + 4 + size_t(len);

  if (op == 9) {
    events->push_back({Event::kPing, std::move(payload), 0});
  } else if (op == 10) {
    events->push_back({Event::kPong, std::move(payload), 0});
  } else if (op == 8) {
    uint16_t code = kNoStatus;
    if (payload.size() == 1) return Fail(kProtocolError, "bad close frame", events), false;
    if (payload.size() >= 2) {
      code = uint16_t(static_cast<unsigned char>(payload[0]) << 8 |
                      static_cast<unsigned char>(payload[1]));
      const bool known = (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) ||
                         (code >= 3000 && code <= 4999);
      if (!known) return Fail(kProtocolError, "bad close code", events), false;
      if (!ValidUtf8(std::string_view(payload).substr(2))) {
        return Fail(kInvalidData, "close reason not UTF-8", events), false;
      }
    }
    done_ = true;
    events->push_back({Event::kClose, payload.size() > 2 ? payload.substr(2) : "", code});
  } else {
    if (op != 0) message_op_ = op;
    message_ += payload;
    if (fin) {
      const bool text = message_op_ == 1;
      if (text && !ValidUtf8(message_)) {
        return Fail(kInvalidData, "text not UTF-8", events), false;
      }
      events->push_back({text ? Event::kText : Event::kBinary, std::move(message_), 0});
      message_.clear();
      message_op_ = -1;
    }
  }
  return true;
}

std::string Frame(Op op, std::string_view payload) {
  std::string out;
  out += char(0x80 | static_cast<uint8_t>(op));
  const size_t n = payload.size();
  if (n < 126) {
    out += char(n);
  } else if (n <= 0xFFFF) {
    out += char(126);
    out += char(n >> 8), out += char(n & 0xFF);
  } else {
    out += char(127);
    for (int k = 7; k >= 0; --k) out += char((uint64_t(n) >> (8 * k)) & 0xFF);
  }
  out.append(payload);
  return out;
}

std::string CloseFrame(uint16_t code, std::string_view reason) {
  std::string payload{char(code >> 8), char(code & 0xFF)};
  payload.append(reason.substr(0, 123));  // a control frame's payload is at most 125
  return Frame(Op::kClose, payload);
}

}  // namespace pts::remote::ws
