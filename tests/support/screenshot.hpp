// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// The pixels of |widget| as GTK draws it, in logical pixels.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;  // rows top first, 0xAARRGGBB premultiplied

  std::uint32_t Rgb(int x, int y) const {
    return argb.at(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)) &
           0xFFFFFFu;
  }
};
Pixels RenderPixels(Gtk::Widget& widget);

// Saves the whole X screen, window frames included, with ImageMagick's import.
std::string SaveScreenScreenshot(const std::string& name);

}  // namespace ticklark::test
