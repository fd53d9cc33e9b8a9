// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace Gtk {
class Widget;
}

namespace ticklark::test {

// Folder where tests leave screenshots for a person to look at:
// $TICKLARK_SHOTS_DIR, or "shots" under the build folder's working directory.
std::string ShotsDir();

// Renders |widget| (usually a window) as GTK draws it and saves it as
// <ShotsDir()>/<name>.png. Returns the path, or an empty string on failure.
std::string SaveScreenshot(Gtk::Widget& widget, const std::string& name);

// Saves the whole X screen, window frames included, with ImageMagick's import.
std::string SaveScreenScreenshot(const std::string& name);

}  // namespace ticklark::test
