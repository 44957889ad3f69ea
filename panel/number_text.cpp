#include "panel/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace pts {

std::string FormatNumber(double value) {
  if (!std::isfinite(value) || value == 0) return "0";
  // One decimal digit: the digit captions, ten times a sweep step.
  if (value > 0 && value < 10 && value == std::floor(value)) {
    return std::string(1, static_cast<char>('0' + static_cast<int>(value)));
  }
  // Whole numbers below 10^15 have at most 15 digits: nothing to round. The
  // digit captions take this path ten times a sweep step.
  if (std::fabs(value) < 1e15 && value == std::floor(value)) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(value));
    return std::string(buf, r.ptr);
  }
  // Round to 15 significant digits first (as printf's %.14e would, but without
  // its cost on every sweep step), then lay the digits out plainly.
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  const std::string_view s(buf, static_cast<size_t>(r.ptr - buf));
  const bool negative = s[0] == '-';
  const std::string_view m = s.substr(negative ? 1 : 0);  // d.dddddddddddddde[+-]xx
  const auto e = m.find('e');
  std::string digits;
  digits.reserve(16);
  digits += m[0];
  digits.append(m.substr(2, e - 2));
  const std::string_view exp_text = m.substr(m[e + 1] == '+' ? e + 2 : e + 1);
  int exponent = 0;
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out;
  out.reserve(40);
  if (negative) out += '-';
  if (exponent >= 0) {
    const auto int_len = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= int_len) {
      out += digits;
      out.append(int_len - digits.size(), '0');
    } else {
      out.append(digits, 0, int_len);
      out += '.';
      out.append(digits, int_len);
    }
  } else {
    out += "0.";
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
  }
  return out;
}

double ReadNumber(std::string_view text) {
  // Gather the leading number with blanks removed, then convert it in the C locale's form.
  std::string number;
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
      ++i;
    }
  };
  skip_blanks();
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
  bool seen_point = false, seen_digit = false;
  for (;; ++i) {
    skip_blanks();
    if (i >= text.size()) break;
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      number += c;
      seen_digit = true;
    } else if (c == '.' && !seen_point) {
      number += c;
      seen_point = true;
    } else {
      break;
    }
  }
  if (!seen_digit) return 0;
  skip_blanks();
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    std::string exponent = "e";
    size_t j = i + 1;
    while (j < text.size() && text[j] == ' ') ++j;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
    bool exp_digit = false;
    // Leading zeros carry no weight; skipped here they cannot push the
    // significant digits past the cap below.
    while (j < text.size() && (text[j] == '0' || text[j] == ' ')) {
      exp_digit |= text[j] == '0';
      ++j;
    }
    while (j < text.size() && ((text[j] >= '0' && text[j] <= '9') || text[j] == ' ')) {
      if (text[j] != ' ') {
        exponent += text[j];
        exp_digit = true;
      }
      ++j;
      if (exponent.size() > 12) break;  // far past any double's range already
    }
    if (exp_digit) number += exponent;
  }
  // strtod is locale-dependent for the point; the program never changes LC_NUMERIC from "C".
  return std::strtod(number.c_str(), nullptr);
}

std::string FormatSigned(int64_t value) {
  // The blank stands where a minus sign would.
  char buf[24];
  char* first = buf;
  if (value >= 0) *first++ = ' ';
  const auto r = std::to_chars(first, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::array<double, 10> SplitDigits(double value) {
  std::array<double, 10> d{};
  double v = value;
  double weight = 100000000;
  for (size_t i = 0; i < 8; ++i, weight /= 10) {
    d[i] = std::floor(v / weight);
    v -= d[i] * weight;
  }
  d[8] = std::floor(v);
  v -= d[8];
  // 0.05 absorbs the error of a decimal tenth held in binary (0.3 may be 0.29999...).
  d[9] = std::floor((v + 0.05) * 10);
  return d;
}

}  // namespace pts
