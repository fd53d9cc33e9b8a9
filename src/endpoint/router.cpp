// SPDX-License-Identifier: MIT
#include "endpoint/router.hpp"

#include "endpoint/redirect_table.hpp"

namespace ticklark::endpoint {

namespace {

constexpr std::string_view kTextPlain = "text/plain; charset=utf-8";
constexpr std::string_view kTextHtml = "text/html; charset=utf-8";

// The key of a redirect path, or an empty view for any other path.
std::string_view RedirectKeyOf(std::string_view path) {
  if (!path.starts_with(kRedirectPrefix) || !path.ends_with(kRedirectSuffix)) {
    return {};
  }
  path.remove_prefix(kRedirectPrefix.size());
  path.remove_suffix(kRedirectSuffix.size());
  return path;
}

}  // namespace

Response Route(std::string_view method, std::string_view path, const RedirectTable& table,
               std::string_view adFramePage) {
  Response response;
  const std::string* target = nullptr;
  if (path != kAdFramePath) {
    const std::string_view key = RedirectKeyOf(path);
    target = key.empty() ? nullptr : table.Find(key);
    if (!target) {
      response.status = 404;
      response.contentType = kTextPlain;
      response.body = "Not found\n";
      return response;
    }
  }
  if (method != "GET" && method != "HEAD") {
    response.status = 405;
    response.contentType = kTextPlain;
    response.body = "Method not allowed\n";
    response.allowGetHead = true;
    return response;
  }
  if (target) {
    response.status = 302;
    response.location = *target;
    return response;
  }
  response.status = 200;
  response.contentType = kTextHtml;
  response.body = adFramePage;
  return response;
}

}  // namespace ticklark::endpoint
