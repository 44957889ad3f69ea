// Numbers as the panel's text boxes and labels show them: plain decimal with
// a period, whatever the locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pts {

// At most 15 significant digits, rounded; no exponent; no trailing zeros and
// no point for a whole value: 123456789.3, 1234567891, 0. Non-finite gives "0".
std::string FormatNumber(double value);

// The number a text begins with, as the original toolkit's Val reads it:
// blanks (space, tab, CR, LF) are skipped anywhere; an optional sign; digits
// with at most one period; an optional exponent (E or D). 0 when there is no
// number. Overflow gives +/-infinity; callers that index tables must check.
double ReadNumber(std::string_view text);

// An integer with the place of the sign in front: " 3", "-3".
std::string FormatSigned(int64_t value);

}  // namespace pts
