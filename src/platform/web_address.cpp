// SPDX-License-Identifier: MIT
#include "platform/web_address.hpp"

#include <gio/gio.h>

#include "platform/gobject_ptr.hpp"

namespace ticklark::platform {

std::optional<AddressParts> SplitAddress(std::string_view address) {
  const std::string text(address);
  const CPtr<GUri, g_uri_unref> uri(g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr));
  if (!uri) {
    return std::nullopt;
  }
  AddressParts parts;
  // GLib gives the scheme in lower case.
  parts.scheme = g_uri_get_scheme(uri.get());
  parts.host = g_uri_get_host(uri.get()) ? g_uri_get_host(uri.get()) : "";
  const int port = g_uri_get_port(uri.get());
  parts.port = port >= 0 ? port : parts.scheme == "https" ? 443 : 80;
  const std::string_view path = g_uri_get_path(uri.get());
  parts.bareBase = !g_uri_get_userinfo(uri.get()) && !g_uri_get_query(uri.get()) &&
                   !g_uri_get_fragment(uri.get()) && (path.empty() || path == "/") &&
                   text.find_first_of(" \t\r\n") == std::string::npos;
  return parts;
}

bool IsWebAddress(std::string_view address) {
  const auto parts = SplitAddress(address);
  return parts && (parts->scheme == "http" || parts->scheme == "https") && !parts->host.empty();
}

bool IsLoopbackHost(std::string_view host) {
  const std::string text(host);
  if (g_ascii_strcasecmp(text.c_str(), "localhost") == 0) {
    return true;
  }
  const GObjectPtr<GInetAddress> address(g_inet_address_new_from_string(text.c_str()));
  return address && g_inet_address_get_is_loopback(address.get());
}

bool IsLoopbackAddress(std::string_view address) {
  const auto parts = SplitAddress(address);
  return parts && IsLoopbackHost(parts->host);
}

std::optional<AddressParts> ParseEndpointBase(std::string_view base) {
  auto parts = SplitAddress(base);
  if (!parts || (parts->scheme != "http" && parts->scheme != "https") || parts->host.empty() ||
      !parts->bareBase || parts->port == 0 || parts->port > 65535) {
    return std::nullopt;
  }
  return parts;
}

}  // namespace ticklark::platform
