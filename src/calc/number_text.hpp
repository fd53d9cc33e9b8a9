// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace ticklark::calc {

// Conversions between the calculator's display text and numbers. Both ignore
// the user's locale: the decimal point is always "." and there are no
// thousands separators.

enum class ParseStatus {
  kOk,          // value holds the number
  kOutOfRange,  // a well-formed number whose magnitude exceeds the largest double
  kNotANumber,  // the text is not a number, e.g. "1E+" or an error message
};

struct ParseResult {
  ParseStatus status = ParseStatus::kNotANumber;
  double value = 0.0;
};

// Reads a display text. Accepted: an optional "-", decimal digits with at most
// one ".", which may be the last character ("12." reads as 12), and an optional
// exponent: "E", a sign "+" or "-" and digits. A number whose mantissa has no
// point may also end in a point after its exponent ("1E+20." reads as 1E+20),
// which is what the decimal point key leaves on a number shown in exponent form.
// A number too small for a double reads as zero (of its sign); one too large
// gives kOutOfRange.
ParseResult ParseNumber(std::string_view text);

// Writes a finite number the way the display shows it: at most 15 significant
// digits, no trailing zeros after the point and no trailing point, "-" for
// negative values, and zero of either sign as "0". The exponent form
// ("1E+20", "1.5E-07", at least two exponent digits) is used when the decimal
// exponent of the rounded value is 15 or more (magnitudes from 1E15 up) or -5
// or less (magnitudes below 0.0001); in between the plain form ("0.0001",
// "123.456"). Parsing the text gives back the value rounded to 15 significant
// digits, with one exception at the very top of the range: magnitudes that would
// round up past the largest double are shown as 1.79769313486231E+308 so that
// the text still reads as a number. Non-finite values are not display values;
// they give "NaN", "Infinity" or "-Infinity", which ParseNumber refuses.
std::string FormatNumber(double value);

}  // namespace ticklark::calc
