// SPDX-License-Identifier: MIT
#pragma once

#include <exception>

#include <glib.h>

namespace ticklark::web {

// Runs |body| for a signal or callback of the engine or GLib, turning any
// exception into a warning naming |where| and into |fallback|: nothing may
// unwind through their C frames.
template <typename R, typename F>
R Guarded(const char* where, R fallback, F&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    g_warning("Web pane, %s: %s", where, e.what());
  } catch (...) {
    g_warning("Web pane, %s: unknown exception", where);
  }
  return fallback;
}

// The same for a body that returns nothing.
template <typename F>
void Guarded(const char* where, F&& body) noexcept {
  Guarded(where, 0, [&] {
    body();
    return 0;
  });
}

}  // namespace ticklark::web
