// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include "platform/gobject_ptr.hpp"

typedef struct _GtkWidget GtkWidget;

namespace ticklark::platform {
class WindowVisibilityWatch;
}

namespace ticklark::web {

// Takes a pane's web view off the screen while its window is wholly hidden
// (covered by other windows, on another workspace, minimised) and puts it back
// as soon as any part of the window shows. An unmapped view is a hidden page
// to the engine, as in a minimised window: its timers run at most once a
// second, animations and drawing stop, and document.visibilityState says
// "hidden"; nothing else of the page changes. The view keeps its size and
// place, so the page is not laid out again when it shows.
class PaneVisibility {
 public:
  // |view| outlives this object.
  explicit PaneVisibility(GtkWidget* view);
  ~PaneVisibility();

  PaneVisibility(const PaneVisibility&) = delete;
  PaneVisibility& operator=(const PaneVisibility&) = delete;

  // Called by the trampolines.
  void Follow();
  void Leave();

 private:
  static gboolean OnSettle(gpointer self);
  void Show(bool shown);

  GtkWidget* m_view;
  platform::SignalHandlers m_handlers;
  std::unique_ptr<platform::WindowVisibilityWatch> m_watch;
  // Takes up the watch's state once the view is realized and mapped: a window
  // already hidden says so to no new watch.
  platform::SourceId m_settle;
  // The keyboard focus was in the view when it went off the screen.
  bool m_hadFocus = false;
};

}  // namespace ticklark::web
