// Numbers as the panel's text boxes and labels show them: plain decimal with
// a period, whatever the locale.
#pragma once

#include <array>
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

// The ten decimal digits of a frequency by the weights 100 000 000, 10 000 000,
// ..., 1 and 0.1, most significant first, taken in doubles with floor as the
// integer part; the tenths are rounded with 0.05 and not carried (so the last
// can be 10). Nothing is clamped: 1e9 or more gives a first digit above 9, a
// negative value negative digits, a non-finite value non-finite digits.
std::array<double, 10> SplitDigits(double value);

}  // namespace pts
