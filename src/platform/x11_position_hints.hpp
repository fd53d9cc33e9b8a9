// SPDX-License-Identifier: MIT
#pragma once

#include <X11/Xlib.h>

namespace ticklark::platform {

// GDK writes a window's WM_NORMAL_HINTS again, without any position, right
// before it maps the window. A window manager that honours only a position
// the user asked for (twm, in its default configuration) then has the user
// place the window by hand and holds the whole display until a click. Until
// ForgetHintedPosition, every WM_NORMAL_HINTS written for |window| in this
// process (by GDK or by us) carries |x|, |y| (device pixels) as the user's
// position.
void KeepHintedPosition(::Window window, int x, int y);
void ForgetHintedPosition(::Window window);

}  // namespace ticklark::platform
