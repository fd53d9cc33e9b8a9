// SPDX-License-Identifier: MIT
#include "platform/process_launcher.hpp"

#include <glib.h>

#include "platform/gobject_ptr.hpp"

namespace ticklark::platform {

bool SpawnProcessLauncher::Start(const std::string& path) {
  if (path.empty()) {
    return false;
  }
  // argv is exactly {path}; no search of PATH, so a bare name is not looked up
  // elsewhere. Without G_SPAWN_DO_NOT_REAP_CHILD GLib forks twice and reaps the
  // intermediate child itself.
  gchar* argv[] = {const_cast<gchar*>(path.c_str()), nullptr};
  GErrorPtr error;
  const gboolean started =
      g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, Out(error));
  return started != FALSE;
}

}  // namespace ticklark::platform
