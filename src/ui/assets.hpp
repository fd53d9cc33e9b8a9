// SPDX-License-Identifier: MIT
#pragma once

#include <glibmm/refptr.h>
#include <sigc++/signal.h>

#include "ui/window_definition.hpp"

namespace Gdk {
class Paintable;
class Texture;
}  // namespace Gdk

namespace ticklark::ui {

// The icon name under which the program icon is found: the application id, as
// the desktop entry and the icon theme know it.
inline constexpr const char* kProgramIconName = "org.ticklark.Ticklark2";

// Makes the compiled-in program icon known to the icon theme of the default
// display, so that windows that name it carry it; call once after GTK has
// started.
void InstallProgramIcon();

// The compiled-in image for |picture| as designed (one pixel to each screen
// pixel, on its designed ground); cached, never null for a known picture.
Glib::RefPtr<Gdk::Texture> LoadPicture(Picture picture);

// |picture| as a control shows it on a screen with |scale| device pixels to
// each pixel, on the classic grey face or on a face the theme colours
// (|themedFace|). Always the designed size; drawn from the sharper picture
// where there is one.
Glib::RefPtr<Gdk::Paintable> PictureFor(Picture picture, int scale, bool themedFace);

// Loads the application style sheet into the default display and keeps it in
// step with the desktop's theme; makes menus show their access keys whenever
// their window does. Call once.
void InstallStyle();

// Whether the theme in use is a dark one (its text lighter than its ground);
// then faces and bevels take the theme's colours instead of the classic ones.
bool ThemeIsDark();

// Emitted once the style sheet has followed a change of theme.
sigc::signal<void()>& SignalStyleChanged();

}  // namespace ticklark::ui
