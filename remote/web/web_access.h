// Who may reach the web page and who may drive the panel through it: the
// names a request's Host and a WebSocket's Origin may carry (those of the
// addresses the server listens on, so a page of another site or a
// DNS-rebinding name gets nowhere), the head of a request as the server's
// gate reads it, and the access token. No Qt.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace pts::remote {

// A request's line and headers (names lower case); what the gate needs.
struct HttpHead {
  std::string method, target;
  std::map<std::string, std::string> headers;
  std::string Header(const std::string& name) const;
};
// Parses the head of `bytes` up to its blank line. False when it is not one
// (or not yet complete: `complete` says which).
bool ParseHead(std::string_view bytes, HttpHead* head, bool* complete);

class HostPolicy {
 public:
  // `names`: the host names and addresses (IPv6 without brackets) the server
  // is reached by; `port` the one it listens on; `tls` whether it serves https.
  HostPolicy(const std::vector<std::string>& names, uint16_t port, bool tls = false);
  // A Host header: one of the names with the port (or without it on port 80).
  bool HostAllowed(const std::string& host) const;
  // An Origin header: the server's scheme ("http://" or "https://") and an
  // allowed host.
  bool OriginAllowed(const std::string& origin) const;
  // A request's target: 0 when it is a path ("/..."), or an absolute URL
  // ("http://host/...", https with TLS) whose host is allowed as a Host
  // header would be; 421 when that host is another; 400 for anything else.
  int TargetStatus(const std::string& target) const;

 private:
  std::set<std::string> hosts_;  // lower case, "name:port", "[v6]:port"
  std::string scheme_;           // "http://" or "https://"
};

// Whether a header's comma-separated list holds `token` (e.g. "upgrade" in
// Connection), in any case.
bool HeaderHasToken(const std::string& value, std::string_view token);
// A Sec-WebSocket-Key: 16 bytes in base64, exactly (24 characters).
bool WebSocketKeyValid(const std::string& key);

// The token in `path`: its first line without trailing blanks. Refused (false,
// with a one-line reason) when the file cannot be read, is not a regular
// file, is larger than 4 KiB, gives its group or others any permission (see
// ReadPrivateFile), or holds no token.
bool ReadTokenFile(const std::string& path, std::string* token, std::string* error);
// Compares in time that depends on the lengths only, not on where they differ.
bool TokensEqual(std::string_view a, std::string_view b);

}  // namespace pts::remote
