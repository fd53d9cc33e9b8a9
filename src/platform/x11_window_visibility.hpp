// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>

typedef struct _GtkWindow GtkWindow;

namespace ticklark::platform {

// Follows whether a toplevel window is wholly hidden (IsWhollyHidden) while it
// lives; see x11_window_visibility.cpp for what the X server and the window
// manager tell.
class WindowVisibilityWatch {
 public:
  virtual ~WindowVisibilityWatch() = default;
  virtual bool IsHidden() const = 0;
};

// Calls |onChange| with true when |window| becomes wholly hidden and with
// false as soon as any part of it can be seen again, from the main loop, until
// the watch goes; it starts out as shown. Watches of one window share their
// work. Nothing (nullptr) for a window that is not realized or not on X11.
std::unique_ptr<WindowVisibilityWatch> WatchWindowVisibility(GtkWindow* window,
                                                             std::function<void(bool)> onChange);

}  // namespace ticklark::platform
