// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ticklark::endpoint {

// How a request says where its body ends, as its headers give it.
struct RequestFraming {
  std::string_view method;
  // Every Content-Length value, one per header line and per comma-separated
  // item, as sent.
  std::vector<std::string_view> contentLengths;
  bool transferEncoding = false;  // any Transfer-Encoding header
};

// What the endpoint does with a request before reading past its headers. No
// request of the endpoint's carries a body, so none is ever read: a body is
// refused, and a request whose body's end is in doubt is refused with the
// connection, as the next request's start would be in doubt too.
enum class BodyAnswer {
  kNoBody,      // answered as usual
  kBadRequest,  // 400: lengths that conflict or do not parse, both framings,
                // or a body that the method does not allow
  kTooLarge,    // 413: a body on a method that may have one
};

BodyAnswer JudgeBody(const RequestFraming& framing);

// The values of a Content-Length header line, split at commas and trimmed.
void AppendContentLengths(std::string_view value, std::vector<std::string_view>& lengths);

}  // namespace ticklark::endpoint
