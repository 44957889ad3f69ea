// The web page's gate: what it takes for a request head, which Host and
// Origin headers name this server, the token file and the token comparison.
#include "remote/web/web_access.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace pts::remote {
namespace {

using namespace std::string_literals;

TEST(WebAccess, RequestHeads) {
  const struct {
    const char* what;
    std::string bytes;
    bool ok, complete;
    std::string target, host;
  } rows[] = {
      {"handshake", "GET /ws HTTP/1.1\r\nHost: a:1\r\nUpgrade: websocket\r\n\r\n", true, true,
       "/ws", "a:1"},
      {"names lower case, values trimmed", "GET / HTTP/1.0\r\nHOST: \t a:1 \t\r\n\r\nbody", true,
       true, "/", "a:1"},
      {"no blank line yet", "GET / HTTP/1.1\r\nHost: a:1\r\n", false, false, "", ""},
      {"bare LFs", "GET / HTTP/1.1\nHost: a:1\n\n", false, false, "", ""},
      {"two Hosts", "GET / HTTP/1.1\r\nHost: a:1\r\nHost: b:1\r\n\r\n", false, true, "", ""},
      {"two Origins", "GET / HTTP/1.1\r\norigin: x\r\nOrigin: y\r\n\r\n", false, true, "", ""},
      {"other header twice", "GET / HTTP/1.1\r\nA: 1\r\nA: 2\r\nHost: h\r\n\r\n", true, true, "/",
       "h"},
      {"no colon", "GET / HTTP/1.1\r\nHost\r\n\r\n", false, true, "", ""},
      {"empty name", "GET / HTTP/1.1\r\n: a:1\r\n\r\n", false, true, "", ""},
      {"no version", "GET /\r\n\r\n", false, true, "", ""},
      {"no method", " / HTTP/1.1\r\n\r\n", false, true, "", ""},
      {"no target", "GET  HTTP/1.1\r\n\r\n", false, true, "", ""},
      {"not HTTP/1", "GET / HTTP/2.0\r\n\r\n", false, true, "", ""},
      {"nothing", "\r\n\r\n", false, true, "", ""},
      {"NUL in a value", "GET / HTTP/1.1\r\nHost: a\0b\r\n\r\n"s, true, true, "/", "a\0b"s},
  };
  for (const auto& r : rows) {
    HttpHead head;
    bool complete = false;
    EXPECT_EQ(ParseHead(r.bytes, &head, &complete), r.ok) << r.what;
    EXPECT_EQ(complete, r.complete) << r.what;
    if (!r.ok) continue;
    EXPECT_EQ(head.target, r.target) << r.what;
    EXPECT_EQ(head.Header("host"), r.host) << r.what;
  }
}

TEST(WebAccess, HostAndOrigin) {
  const HostPolicy on8080({"127.0.0.1", "localhost", "::1", "MyHost", ""}, 8080);
  const HostPolicy on80({"localhost"}, 80);
  const struct {
    const HostPolicy& policy;
    const char* header;
    bool host, origin;  // as a Host header; with "http://" before it as an Origin
  } rows[] = {
      {on8080, "127.0.0.1:8080", true, true},
      {on8080, "LOCALHOST:8080", true, true},
      {on8080, "[::1]:8080", true, true},
      {on8080, "myhost:8080", true, true},
      {on8080, "127.0.0.1", false, false},  // the port is not 80
      {on8080, "127.0.0.1:8081", false, false},
      {on8080, "evil.example:8080", false, false},  // DNS rebinding
      {on8080, "::1:8080", false, false},
      {on8080, ":8080", false, false},
      {on8080, "127.0.0.1:8080/", false, false},
      {on8080, "127.0.0.1:8080 ", false, false},
      {on8080, "", false, false},
      {on80, "localhost", true, true},
      {on80, "localhost:80", true, true},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(r.policy.HostAllowed(r.header), r.host) << r.header;
    EXPECT_EQ(r.policy.OriginAllowed("http://"s + r.header), r.origin) << r.header;
  }
  for (const char* origin : {"https://127.0.0.1:8080", "null", "", "127.0.0.1:8080",
                             "file://127.0.0.1:8080", "http:/127.0.0.1:8080"}) {
    EXPECT_FALSE(on8080.OriginAllowed(origin)) << origin;
  }
  EXPECT_TRUE(on8080.OriginAllowed("HTTP://LocalHost:8080"));
}

TEST(WebAccess, TokensEqual) {
  const struct {
    std::string a, b;
    bool equal;
  } rows[] = {
      {"secret", "secret", true},
      {"secret", "secreT", false},
      {"secret", "secre", false},
      {"secre", "secret", false},
      {"", "", true},
      {"", "x", false},
      {"a\0b"s, "a\0c"s, false},
      {"abc\0"s, "abc", false},
      {"a\0b"s, "a\0b"s, true},
  };
  for (const auto& r : rows) EXPECT_EQ(TokensEqual(r.a, r.b), r.equal) << r.a << " / " << r.b;
}

// The file's own checks are ReadPrivateFile's; here what makes the token.
TEST(WebAccess, TokenFile) {
  const std::string path = ::testing::TempDir() + "pts-token-" + std::to_string(::getpid());
  const struct {
    const char* what;
    std::string text;
    mode_t mode;
    const char* token;  // or, when refused, a piece of the reason
    bool ok;
  } rows[] = {
      {"first line, blanks cut", "s3cret \t\r\nnext\n", 0600, "s3cret", true},
      {"empty", "", 0600, "holds no token", false},
      {"blank first line", " \t\nsecret\n", 0600, "holds no token", false},
      {"others may read", "s3cret", 0604, "open to other users", false},
  };
  for (const auto& r : rows) {
    std::filesystem::remove(path);
    std::ofstream(path) << r.text;
    ::chmod(path.c_str(), r.mode);
    std::string token, error;
    EXPECT_EQ(ReadTokenFile(path, &token, &error), r.ok) << r.what;
    EXPECT_NE((r.ok ? token : error).find(r.token), std::string::npos) << r.what << ": " << error;
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace pts::remote
