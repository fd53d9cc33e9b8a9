// SPDX-License-Identifier: MIT
#include "platform/default_browser.hpp"

#include <gio/gio.h>

namespace ticklark::platform {

namespace {

void OnLaunched(GObject*, GAsyncResult* result, gpointer) {
  GError* error = nullptr;
  if (!g_app_info_launch_default_for_uri_finish(result, &error)) {
    g_warning("Could not open the default web browser: %s", error ? error->message : "unknown");
    g_clear_error(&error);
  }
}

}  // namespace

bool IsWebAddress(std::string_view address) {
  const std::string text(address);
  GUri* uri = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) {
    return false;
  }
  const char* scheme = g_uri_get_scheme(uri);
  const char* host = g_uri_get_host(uri);
  const bool web =
      scheme &&
      (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0) &&
      host && *host;
  g_uri_unref(uri);
  return web;
}

bool DesktopDefaultBrowser::Open(const std::string& address) {
  if (!IsWebAddress(address)) {
    return false;
  }
  g_app_info_launch_default_for_uri_async(address.c_str(), nullptr, nullptr, OnLaunched, nullptr);
  return true;
}

}  // namespace ticklark::platform
