#include "remote/web/web_access.h"

#include <algorithm>

#include "remote/transport/private_file.h"

namespace pts::remote {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

}  // namespace

std::string HttpHead::Header(const std::string& name) const {
  auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

bool ParseHead(std::string_view bytes, HttpHead* head, bool* complete) {
  const size_t end = bytes.find("\r\n\r\n");
  *complete = end != std::string_view::npos;
  if (!*complete) return false;
  std::string_view rest = bytes.substr(0, end + 2);
  bool first = true;
  while (!rest.empty()) {
    const size_t eol = rest.find("\r\n");
    const std::string_view line = rest.substr(0, eol);
    rest.remove_prefix(eol + 2);
    if (first) {
      first = false;
      const size_t a = line.find(' '), b = line.rfind(' ');
      // A method and a target, neither empty.
      if (a == std::string_view::npos || a == 0 || b <= a + 1) return false;
      head->method = std::string(line.substr(0, a));
      head->target = std::string(line.substr(a + 1, b - a - 1));
      if (line.substr(b + 1).rfind("HTTP/1.", 0) != 0) return false;
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return false;
    const std::string name = Lower(std::string(line.substr(0, colon)));
    const std::string value(Trim(line.substr(colon + 1)));
    // A second Host or Origin makes the request ambiguous: refused.
    if (!head->headers.emplace(name, value).second && (name == "host" || name == "origin")) {
      return false;
    }
  }
  return !first;
}

HostPolicy::HostPolicy(const std::vector<std::string>& names, uint16_t port, bool tls)
    : scheme_(tls ? "https://" : "http://") {
  const std::string p = std::to_string(port);
  for (const std::string& n : names) {
    if (n.empty()) continue;
    const std::string name = Lower(n.find(':') != std::string::npos ? "[" + n + "]" : n);
    hosts_.insert(name + ":" + p);
    if (port == 80) hosts_.insert(name);
  }
}

bool HostPolicy::HostAllowed(const std::string& host) const {
  return hosts_.count(Lower(host)) > 0;
}

bool HostPolicy::OriginAllowed(const std::string& origin) const {
  const std::string o = Lower(origin);
  return o.rfind(scheme_, 0) == 0 && HostAllowed(o.substr(scheme_.size()));
}

int HostPolicy::TargetStatus(const std::string& target) const {
  if (!target.empty() && target.front() == '/') return 0;
  // The absolute form names the host itself; a server takes it over Host,
  // so it must be one of ours as well.
  const size_t n = scheme_.size();
  if (Lower(target.substr(0, n)) != scheme_) return 400;
  const size_t end = target.find_first_of("/?#", n);
  const std::string authority = target.substr(n, end == std::string::npos ? end : end - n);
  if (authority.find('@') != std::string::npos) return 400;  // no user info
  return HostAllowed(authority) ? 0 : 421;
}

bool HeaderHasToken(const std::string& value, std::string_view token) {
  std::string_view rest = value;
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    if (Lower(std::string(Trim(rest.substr(0, comma)))) == token) return true;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return false;
}

bool WebSocketKeyValid(const std::string& key) {
  // 16 bytes make 22 characters and "==". The last character carries 2 bits
  // of data and 4 that must be zero: A, Q, g or w.
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (key.size() != 24 || key.compare(22, 2, "==") != 0) return false;
  for (size_t i = 0; i < 22; ++i) {
    if (kAlphabet.find(key[i]) == std::string_view::npos) return false;
  }
  return std::string_view("AQgw").find(key[21]) != std::string_view::npos;
}

bool ReadTokenFile(const std::string& path, std::string* token, std::string* error) {
  std::string text;
  if (!ReadPrivateFile(path, "token file", 4096, &text, error)) return false;
  const size_t eol = text.find('\n');
  std::string_view first = Trim(std::string_view(text).substr(0, eol));
  if (first.empty()) {
    *error = "token file '" + path + "' holds no token";
    return false;
  }
  *token = std::string(first);
  return true;
}

bool TokensEqual(std::string_view a, std::string_view b) {
  // Every byte of the longer is looked at whatever the contents; the result
  // comes from the differences and the lengths together.
  const size_t n = std::max(a.size(), b.size());
  unsigned diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    diff |= static_cast<unsigned>(x ^ y);
  }
  return diff == 0;
}

}  // namespace pts::remote
