// SPDX-License-Identifier: MIT
#include "platform/default_browser.hpp"

#include <gio/gio.h>

#include "platform/gobject_ptr.hpp"
#include "platform/web_address.hpp"

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

bool DesktopDefaultBrowser::Open(const std::string& address) {
  if (!IsWebAddress(address)) {
    return false;
  }
  g_app_info_launch_default_for_uri_async(address.c_str(), nullptr, nullptr, OnLaunched, nullptr);
  return true;
}

}  // namespace ticklark::platform
