// SPDX-License-Identifier: MIT
#include "app/splash_wait.hpp"

#include <algorithm>

#include <glib.h>

namespace ticklark::app {

void SplashWaitUntil(std::chrono::steady_clock::time_point until,
                     const std::function<bool()>& stop) {
  // Blocking the thread outright would hold the engine's launch messages too:
  // its web process would then finish starting only once the main window has
  // asked for its pages.
  bool over = false;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
  const guint timer = g_timeout_add(
      static_cast<guint>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)),
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &over);
  while (!over && !(stop && stop())) {
    g_main_context_iteration(nullptr, TRUE);
  }
  if (!over) {
    g_source_remove(timer);
  }
}

void SplashWait(int milliseconds) {
  SplashWaitUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds));
}

}  // namespace ticklark::app
