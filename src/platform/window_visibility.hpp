// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <vector>

#include "platform/window_placement.hpp"

namespace ticklark::platform {

// What the window system says about a toplevel window, all in screen pixels
// of the X server. Gathered by the X11 layer (x11_window_visibility.cpp).
struct VisibilityFacts {
  // The window manager keeps it minimised (_NET_WM_STATE_HIDDEN, or the
  // iconic WM_STATE of managers without the extended hints).
  bool minimized = false;
  // Its workspace (_NET_WM_DESKTOP) and the one shown (_NET_CURRENT_DESKTOP);
  // unknown without a manager that numbers them.
  std::optional<unsigned long> desktop;
  std::optional<unsigned long> currentDesktop;
  // The X server's last visibility event for it said fully obscured (never
  // said of a window drawn off the screen, as GTK's are on most servers).
  bool fullyObscured = false;
  // Its client area and the screen; an empty client area is unknown.
  PixelRect client;
  PixelRect screen;
  // Opaque windows stacked above it, frames included, as the window manager
  // lists them.
  std::vector<PixelRect> above;
};

// A window on every workspace says so with this desktop number.
inline constexpr unsigned long kAllDesktops = 0xFFFFFFFFul;

// Whether nothing of the window's client area can be seen: minimised, on
// another workspace, fully obscured by the X server's account, off the
// screen, or covered whole by the windows above it.
bool IsWhollyHidden(const VisibilityFacts& facts);

}  // namespace ticklark::platform
