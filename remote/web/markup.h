// Text put into the page's HTML and the identification's XML: the characters
// that would end an element or an attribute escaped.
#pragma once

#include <string>

namespace pts::remote {

inline std::string MarkupEscape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace pts::remote
