// SPDX-License-Identifier: MIT
#include "platform/default_browser.hpp"

#include <gio/gio.h>

#include "platform/gobject_ptr.hpp"

namespace ticklark::platform {

namespace {

void OnLaunched(GObject*, GAsyncResult* result, gpointer) {
  GErrorPtr error;
  const bool launched = g_app_info_launch_default_for_uri_finish(result, Out(error));
  if (!launched) {
    g_warning("Could not open the default web browser: %s", error ? error->message : "unknown");
  }
}

}  // namespace

bool IsWebAddress(std::string_view address) {
  const std::string text(address);
  const CPtr<GUri, g_uri_unref> uri(g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr));
  if (!uri) {
    return false;
  }
  const char* scheme = g_uri_get_scheme(uri.get());
  const char* host = g_uri_get_host(uri.get());
  return scheme &&
         (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0) &&
         host && *host;
}

bool DesktopDefaultBrowser::Open(const std::string& address) {
  if (!IsWebAddress(address)) {
    return false;
  }
  g_app_info_launch_default_for_uri_async(address.c_str(), nullptr, nullptr, OnLaunched, nullptr);
  return true;
}

}  // namespace ticklark::platform
