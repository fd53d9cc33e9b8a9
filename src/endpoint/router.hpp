// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

#include "endpoint/paths.hpp"

namespace ticklark::endpoint {

class RedirectTable;

// What the endpoint answers to one request.
struct Response {
  unsigned status = 404;
  std::string location;          // the target of a redirect, from the table only
  std::string_view contentType;  // empty when there is no body
  std::string_view body;         // static text: the page or a short notice
  bool allowGetHead = false;     // a 405 names the methods that work
};

// Answers |method| on |path| (the request's path, without its query). A
// redirect's target comes from |table| and never from the request.
Response Route(std::string_view method, std::string_view path, const RedirectTable& table,
               std::string_view adFramePage);

}  // namespace ticklark::endpoint
