// SPDX-License-Identifier: MIT
#include "platform/x11_position_hints.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <map>
#include <mutex>

namespace ticklark::platform {

namespace {

struct HintedPosition {
  int x;
  int y;
};

struct HintedPositions {
  std::mutex lock;
  std::map<::Window, HintedPosition> byWindow;
};

HintedPositions& Positions() {
  static HintedPositions positions;
  return positions;
}

}  // namespace

void KeepHintedPosition(::Window window, int x, int y) {
  auto& positions = Positions();
  const std::scoped_lock held(positions.lock);
  positions.byWindow[window] = HintedPosition{x, y};
}

void ForgetHintedPosition(::Window window) {
  auto& positions = Positions();
  const std::scoped_lock held(positions.lock);
  positions.byWindow.erase(window);
}

}  // namespace ticklark::platform

// Takes the place of Xlib's own function in this program (the executable
// exports it, see CMakeLists.txt), so that GDK's writes go through here too.
// Xlib's version is this same call of XSetWMSizeHints, without the position.
extern "C" void XSetWMNormalHints(Display* display, ::Window window, XSizeHints* hints) {
  if (!hints) {
    return;
  }
  XSizeHints written = *hints;
  {
    auto& positions = ticklark::platform::Positions();
    const std::scoped_lock held(positions.lock);
    if (const auto kept = positions.byWindow.find(window); kept != positions.byWindow.end()) {
      written.flags |= USPosition | PPosition;
      written.x = kept->second.x;
      written.y = kept->second.y;
    }
  }
  XSetWMSizeHints(display, window, &written, XA_WM_NORMAL_HINTS);
}
