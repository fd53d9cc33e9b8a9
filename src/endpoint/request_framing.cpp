// SPDX-License-Identifier: MIT
#include "endpoint/request_framing.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>

namespace ticklark::endpoint {

namespace {

// Methods whose requests have no use for a body; a body on them is a mistake
// of the client's or an attempt to hide a request in it.
constexpr std::array<std::string_view, 6> kBodilessMethods = {"GET",     "HEAD",  "DELETE",
                                                              "OPTIONS", "TRACE", "CONNECT"};

bool ParseLength(std::string_view text, std::uint64_t& length) {
  if (text.empty() ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
  return error == std::errc{} && end == text.data() + text.size();
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

BodyAnswer JudgeBody(const RequestFraming& framing) {
  if (framing.transferEncoding && !framing.contentLengths.empty()) {
    return BodyAnswer::kBadRequest;
  }
  std::uint64_t length = 0;
  for (std::size_t i = 0; i < framing.contentLengths.size(); ++i) {
    std::uint64_t value = 0;
    if (!ParseLength(framing.contentLengths[i], value) || (i > 0 && value != length)) {
      return BodyAnswer::kBadRequest;
    }
    length = value;
  }
  if (!framing.transferEncoding && length == 0) {
    return BodyAnswer::kNoBody;
  }
  const bool bodiless = std::find(kBodilessMethods.begin(), kBodilessMethods.end(),
                                  framing.method) != kBodilessMethods.end();
  return bodiless ? BodyAnswer::kBadRequest : BodyAnswer::kTooLarge;
}

void AppendContentLengths(std::string_view value, std::vector<std::string_view>& lengths) {
  for (;;) {
    const std::size_t comma = value.find(',');
    lengths.push_back(Trim(value.substr(0, comma)));
    if (comma == std::string_view::npos) {
      return;
    }
    value.remove_prefix(comma + 1);
  }
}

}  // namespace ticklark::endpoint
