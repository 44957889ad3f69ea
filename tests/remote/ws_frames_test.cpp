// The web page's WebSocket frames and the gate's policy on handshakes and
// request targets, as a hostile client would try them.
#include "remote/web/ws_frames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "remote/web/web_access.h"

namespace pts::remote {
namespace {

// A client frame: masked unless told, FIN unless told.
std::string Client(int op, const std::string& payload, bool masked = true, bool fin = true,
                   int rsv = 0) {
  std::string f(1, char((fin ? 0x80 : 0) | rsv | op));
  const size_t n = payload.size();
  const char m = masked ? char(0x80) : 0;
  if (n < 126) {
    f += char(m | char(n));
  } else {
    f += char(m | 126);
    f += char(n >> 8), f += char(n & 0xFF);
  }
  const char key[4] = {0x12, 0x34, 0x56, 0x78};
  if (masked) f.append(key, 4);
  for (size_t i = 0; i < n; ++i) f += masked ? char(payload[i] ^ key[i % 4]) : payload[i];
  return f;
}

TEST(WsDecoderTest, WhatAClientSendsAndWhatComesOfIt) {
  const std::string big(200, 'x');
  const struct {
    const char* what;
    std::string bytes;
    // The events, each as "kind:data" or "kind#code"; the last says how it ended.
    std::vector<std::string> want;
  } cases[] = {
      {"text", Client(1, "{\"id\":1}"), {"text:{\"id\":1}"}},
      {"fragments",
       Client(1, "ab", true, false) + Client(9, "p") + Client(0, "cd"),
       {"ping:p", "text:abcd"}},
      {"binary", Client(2, "\x01\x02"), {"binary:\x01\x02"}},
      {"close with a code", Client(8, std::string("\x03\xe8", 2) + "bye"), {"close#1000"}},
      {"close without one", Client(8, ""), {"close#1005"}},
      {"nothing after a close", Client(8, "") + Client(1, "x"), {"close#1005"}},
      {"unmasked text", Client(1, "{}", false), {"error#1002"}},
      {"unmasked ping", Client(9, "", false), {"error#1002"}},
      {"unmasked after a good one",
       Client(1, "a") + Client(1, "b", false),
       {"text:a", "error#1002"}},
      {"reserved bit", Client(1, "a", true, true, 0x40), {"error#1002"}},
      {"unknown opcode", Client(3, ""), {"error#1002"}},
      {"fragmented ping", Client(9, "", true, false), {"error#1002"}},
      {"long ping", Client(9, big), {"error#1002"}},
      {"continuation of nothing", Client(0, "a"), {"error#1002"}},
      {"new message inside one", Client(1, "a", true, false) + Client(1, "b"), {"error#1002"}},
      {"close of one byte", Client(8, "\x03"), {"error#1002"}},
      {"close code 1005", Client(8, std::string("\x03\xed", 2)), {"error#1002"}},
      {"text not UTF-8", Client(1, "\xff\xfe"), {"error#1007"}},
      {"text cut in a character", Client(1, "\xc3"), {"error#1007"}},
      {"overlong UTF-8", Client(1, "\xc0\xaf"), {"error#1007"}},
      {"a surrogate", Client(1, "\xed\xa0\x80"), {"error#1007"}},
      {"too large", Client(1, big), {"error#1009"}},
      {"too large in fragments",
       Client(1, big.substr(0, 100), true, false) + Client(0, big),
       {"error#1009"}},
      // 2^63 bytes declared: refused on the header, nothing waited for.
      {"huge length", std::string("\x81\xff\x80\0\0\0\0\0\0\0", 10), {"error#1009"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Whole, and then byte by byte: the same.
    for (size_t step : {c.bytes.size(), size_t(1)}) {
      ws::Decoder d(150);
      std::vector<ws::Event> events;
      for (size_t at = 0; at < c.bytes.size(); at += step) {
        d.Feed(std::string_view(c.bytes).substr(at, step), &events);
      }
      std::vector<std::string> got;
      static const char* const kKinds[] = {"text", "binary", "ping", "pong", "close", "error"};
      for (const ws::Event& e : events) {
        const bool coded = e.kind == ws::Event::kClose || e.kind == ws::Event::kError;
        got.push_back(std::string(kKinds[e.kind]) +
                      (coded ? "#" + std::to_string(e.code) : ":" + e.data));
      }
      EXPECT_EQ(got, c.want) << "in steps of " << step;
    }
  }
}

TEST(WsDecoderTest, ServerFramesAreUnmaskedWithTheShortestLength) {
  EXPECT_EQ(ws::Frame(ws::Op::kText, "hi"), std::string("\x81\x02hi"));
  EXPECT_EQ(ws::Frame(ws::Op::kText, std::string(300, 'a')).substr(0, 4),
            std::string("\x81\x7e\x01\x2c"));
  EXPECT_EQ(ws::Frame(ws::Op::kText, std::string(70000, 'a')).substr(0, 10),
            std::string("\x81\x7f\0\0\0\0\0\x01\x11\x70", 10));
  EXPECT_EQ(ws::CloseFrame(1002, "x"), std::string("\x88\x03\x03\xea"
                                                   "x"));
}

TEST(GatePolicyTest, HandshakeKeysAndTargets) {
  const struct {
    const char* key;
    bool ok;
  } keys[] = {
      {"dGhlIHNhbXBsZSBub25jZQ==", true},
      {"AAAAAAAAAAAAAAAAAAAAAA==", true},
      {"dGhlIHNhbXBsZSBub25jZQ", false},
      {"dGhlIHNhbXBsZSBub25jZR==", false},  // bits past 16 bytes
      {"dGhlIHNhbXBsZSBub25j!!==", false},
      {"c2hvcnQ=", false},
      {"", false},
      {"eHh4eHh4eHh4eHh4eHh4eHg=", false},  // 17 bytes
  };
  for (const auto& k : keys) EXPECT_EQ(WebSocketKeyValid(k.key), k.ok) << k.key;

  HostPolicy hosts({"127.0.0.1"}, 8080);
  const struct {
    const char* target;
    int status;
  } targets[] = {
      {"/", 0},
      {"/panel.js?x=1", 0},
      {"http://127.0.0.1:8080/", 0},
      {"HTTP://127.0.0.1:8080", 0},
      {"http://evil.example/", 421},
      {"http://127.0.0.1:8081/", 421},
      {"http://evil.example?http://127.0.0.1:8080/", 421},
      {"http://evil.example@127.0.0.1:8080/", 400},
      {"https://127.0.0.1:8080/", 400},
      {"*", 400},
      {"", 400},
  };
  for (const auto& t : targets) EXPECT_EQ(hosts.TargetStatus(t.target), t.status) << t.target;

  EXPECT_TRUE(HeaderHasToken("keep-alive, Upgrade", "upgrade"));
  EXPECT_FALSE(HeaderHasToken("upgraded", "upgrade"));
}

}  // namespace
}  // namespace pts::remote
