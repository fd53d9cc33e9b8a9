// SPDX-License-Identifier: MIT
#pragma once

#include <glibmm/refptr.h>

#include "ui/window_definition.hpp"

namespace Gdk {
class Texture;
}

namespace ticklark::ui {

// The icon name under which the program icon is found (window icons, desktop).
inline constexpr const char* kProgramIconName = "ticklark2";

// Makes the program icon known to the icon theme of the default display and the
// window default; call once after GTK has started.
void InstallProgramIcon();

// The compiled-in image for |picture|; cached, never null for a known picture.
Glib::RefPtr<Gdk::Texture> LoadPicture(Picture picture);

// Loads the application style sheet into the default display; call once.
void InstallStyle();

}  // namespace ticklark::ui
