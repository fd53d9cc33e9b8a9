// SPDX-License-Identifier: MIT
#include "app/splash_wait.hpp"

#include <algorithm>

#include <glib.h>

#include "platform/gobject_ptr.hpp"

namespace ticklark::app {

void SplashWaitUntil(std::chrono::steady_clock::time_point until,
                     const std::function<bool()>& stop) {
  // Blocking the thread outright would hold the engine's launch messages too:
  // its web process would then finish starting only once the main window has
  // asked for its pages.
  struct Wait {
    bool over = false;
    platform::SourceId timer;
  } wait;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
  wait.timer.Reset(g_timeout_add(
      static_cast<guint>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)),
      [](gpointer data) -> gboolean {
        auto* waiting = static_cast<Wait*>(data);
        waiting->over = true;
        waiting->timer.Forget();
        return G_SOURCE_REMOVE;
      },
      &wait));
  while (!wait.over && !(stop && stop())) {
    g_main_context_iteration(nullptr, TRUE);
  }
}

void SplashWait(int milliseconds) {
  SplashWaitUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds));
}

}  // namespace ticklark::app
