// SPDX-License-Identifier: MIT
#include "calc/number_text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <system_error>

namespace ticklark::calc {

namespace {

constexpr int kSignificantDigits = 15;
// Decimal exponents (of the value rounded to 15 digits) shown in exponent form:
// from 1E15 up, and below 1E-4.
constexpr int kFirstLargeExponent = 15;
constexpr int kLastSmallExponent = -5;
// The largest double, 1.7976931348623157E+308, rounds up to ...232 at 15 digits,
// which no longer fits a double; such values are shown with this mantissa.
constexpr std::string_view kLargestMantissa = "179769313486231";
constexpr int kLargestExponent = 308;
// Exponents beyond this are all "far out of range"; it keeps the sum below from
// overflowing however many exponent digits a text has.
constexpr long kExponentCap = 100000;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::size_t SkipDigits(std::string_view text, std::size_t pos) {
  while (pos < text.size() && IsDigit(text[pos])) {
    ++pos;
  }
  return pos;
}

// The decimal exponent of the first non-zero mantissa digit plus the written
// exponent: positive for a number of magnitude 10 or more. Tells overflow from
// underflow when the conversion reports a range error.
long DecimalMagnitude(std::string_view mantissa, std::string_view exponent) {
  long magnitude = 0;
  const std::size_t point = mantissa.find('.');
  const std::size_t intLength = point == std::string_view::npos ? mantissa.size() : point;
  for (std::size_t i = 0; i < mantissa.size(); ++i) {
    if (mantissa[i] == '.' || mantissa[i] == '0') {
      continue;
    }
    magnitude =
        i < intLength ? static_cast<long>(intLength - i) - 1 : -static_cast<long>(i - intLength);
    break;
  }
  long written = 0;
  for (const char c : exponent.substr(1)) {
    written = std::min(written * 10 + (c - '0'), kExponentCap);
  }
  return magnitude + (exponent.front() == '-' ? -written : written);
}

}  // namespace

ParseResult ParseNumber(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  const std::size_t mantissaStart = negative ? 1 : 0;
  std::size_t pos = SkipDigits(text, mantissaStart);
  std::size_t digitCount = pos - mantissaStart;
  bool hasPoint = false;
  if (pos < text.size() && text[pos] == '.') {
    hasPoint = true;
    const std::size_t fractionStart = pos + 1;
    pos = SkipDigits(text, fractionStart);
    digitCount += pos - fractionStart;
  }
  if (digitCount == 0) {
    return {};
  }
  const std::size_t mantissaEnd = pos;
  if (pos < text.size() && text[pos] == 'E') {
    if (pos + 1 >= text.size() || (text[pos + 1] != '+' && text[pos + 1] != '-')) {
      return {};
    }
    const std::size_t exponentDigits = pos + 2;
    pos = SkipDigits(text, exponentDigits);
    if (pos == exponentDigits) {
      return {};
    }
  }
  const std::size_t numberEnd = pos;
  if (!hasPoint && numberEnd > mantissaEnd && pos < text.size() && text[pos] == '.') {
    ++pos;
  }
  if (pos != text.size()) {
    return {};
  }

  double value = 0.0;
  const char* first = text.data();
  const char* last = text.data() + numberEnd;
  const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
  if (error == std::errc() && end == last) {
    return {ParseStatus::kOk, value};
  }
  if (error == std::errc::result_out_of_range) {
    const std::string_view mantissa = text.substr(mantissaStart, mantissaEnd - mantissaStart);
    const std::string_view exponent =
        numberEnd > mantissaEnd ? text.substr(mantissaEnd + 1, numberEnd - mantissaEnd - 1)
                                : std::string_view("+0");
    if (DecimalMagnitude(mantissa, exponent) > 0) {
      return {ParseStatus::kOutOfRange, 0.0};
    }
    return {ParseStatus::kOk, negative ? -0.0 : 0.0};
  }
  return {};
}

std::string FormatNumber(double value) {
  if (std::isnan(value)) {
    return "NaN";
  }
  if (std::isinf(value)) {
    return value > 0 ? "Infinity" : "-Infinity";
  }
  if (value == 0.0) {
    return "0";
  }

  // "d.dddddddddddddde+XX": the value correctly rounded to 15 significant digits.
  char buffer[32];
  const auto converted = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                       std::chars_format::scientific, kSignificantDigits - 1);
  const std::string_view scientific(buffer, static_cast<std::size_t>(converted.ptr - buffer));
  const std::size_t e = scientific.find('e');
  std::string digits;
  digits += scientific.front();
  digits.append(scientific.substr(2, e - 2));
  const std::string_view exponentText = scientific.substr(e + 1);
  int exponent = 0;
  std::from_chars(exponentText.data() + 1, exponentText.data() + exponentText.size(), exponent);
  if (exponentText.front() == '-') {
    exponent = -exponent;
  }
  if (exponent == kLargestExponent && digits > kLargestMantissa) {
    digits = kLargestMantissa;
  }
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
  }

  std::string text = value < 0 ? "-" : "";
  if (exponent >= kFirstLargeExponent || exponent <= kLastSmallExponent) {
    text += digits.front();
    if (digits.size() > 1) {
      text += '.';
      text.append(digits, 1);
    }
    text += exponent < 0 ? "E-" : "E+";
    const int magnitude = std::abs(exponent);
    if (magnitude < 10) {
      text += '0';
    }
    char exponentDigits[8];
    const auto written =
        std::to_chars(exponentDigits, exponentDigits + sizeof exponentDigits, magnitude);
    text.append(exponentDigits, written.ptr);
  } else if (exponent >= 0) {
    const auto intLength = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= intLength) {
      text += digits;
      text.append(intLength - digits.size(), '0');
    } else {
      text.append(digits, 0, intLength);
      text += '.';
      text.append(digits, intLength);
    }
  } else {
    text += "0.";
    text.append(static_cast<std::size_t>(-exponent - 1), '0');
    text += digits;
  }
  return text;
}

}  // namespace ticklark::calc
