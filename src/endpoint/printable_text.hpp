// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ticklark::endpoint {

namespace detail {

// The length of the UTF-8 sequence at the start of |text| when it is valid
// and encodes no C1 control character, else 0.
inline std::size_t PrintableSequence(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto follows = [&](std::size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
  const unsigned char lead = byte(0);
  if (lead >= 0xC2 && lead <= 0xDF && follows(1)) {
    return lead == 0xC2 && byte(1) < 0xA0 ? 0 : 2;  // U+0080..U+009F are C1 controls
  }
  if (lead >= 0xE0 && lead <= 0xEF && follows(1) && follows(2)) {
    const bool overlong = lead == 0xE0 && byte(1) < 0xA0;
    const bool surrogate = lead == 0xED && byte(1) >= 0xA0;
    return overlong || surrogate ? 0 : 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4 && follows(1) && follows(2) && follows(3)) {
    const bool overlong = lead == 0xF0 && byte(1) < 0x90;
    const bool beyond = lead == 0xF4 && byte(1) >= 0x90;
    return overlong || beyond ? 0 : 4;
  }
  return 0;
}

}  // namespace detail

// |text| with every control character (C0, DEL and C1), every byte that is
// not part of valid UTF-8 and the backslash written as \xNN: text from outside
// (a request, a user's table) shown in a message can neither steer a terminal
// nor forge a line. Header-only: the program escapes what it relays of the
// endpoint's messages the same way.
inline std::string EscapeControls(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  escaped.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      escaped += text[i++];
      continue;
    }
    if (const std::size_t length = byte >= 0x80 ? detail::PrintableSequence(text.substr(i)) : 0) {
      escaped.append(text.substr(i, length));
      i += length;
      continue;
    }
    escaped += "\\x";
    escaped += kHex[byte >> 4];
    escaped += kHex[byte & 0xF];
    ++i;
  }
  return escaped;
}

}  // namespace ticklark::endpoint
