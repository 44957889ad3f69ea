// Feeds arbitrary bytes to the web page's gate: as a request head, its Host,
// Origin, target and WebSocket key to the policy, and split in two as a pair
// of tokens; checks what each gives back against what it must mean. ASan and
// UBSan catch the rest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "remote/web/web_access.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool HasUpper(const std::string& s) {
  for (char c : s) {
    if (c >= 'A' && c <= 'Z') return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pts::remote;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  HttpHead head;
  bool complete = false;
  const bool ok = ParseHead(bytes, &head, &complete);
  Check(complete == (bytes.find("\r\n\r\n") != std::string_view::npos));
  Check(!ok || complete);
  if (ok) {
    Check(!head.method.empty() && head.method.find(' ') == std::string::npos);
    for (const auto& [name, value] : head.headers) {
      Check(!name.empty() && !HasUpper(name) && name.find(':') == std::string::npos);
      Check(name.find("\r\n") == std::string::npos && value.find("\r\n") == std::string::npos);
    }
  }

  static const HostPolicy policy({"127.0.0.1", "localhost", "::1", "pts.local"}, 8080);
  const std::string host = ok ? head.Header("host") : std::string(bytes);
  const std::string origin = ok ? head.Header("origin") : std::string(bytes);
  if (policy.HostAllowed(host)) {
    Check(host.size() >= 6 && host.substr(host.size() - 5) == ":8080");
  }
  if (policy.OriginAllowed(origin)) {
    Check(origin.size() > 7 && policy.HostAllowed(origin.substr(7)));
  }
  const std::string target = ok ? head.target : std::string(bytes);
  const int status = policy.TargetStatus(target);
  Check(status == 0 || status == 400 || status == 421);
  Check(status != 0 || target.rfind('/', 0) == 0 || target.size() > 7);
  const std::string key = ok ? head.Header("sec-websocket-key") : std::string(bytes);
  Check(!WebSocketKeyValid(key) || (key.size() == 24 && key.substr(22) == "=="));
  if (ok) HeaderHasToken(head.Header("connection"), "upgrade");

  const size_t half = size / 2;
  const std::string_view a = bytes.substr(0, half), b = bytes.substr(half);
  Check(TokensEqual(a, b) == (a == b));
  Check(TokensEqual(a, a));
  return 0;
}
