// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window_placement.hpp"

namespace Gtk {
class Window;
}

namespace ticklark::platform {
class SettingsStore;
}

namespace ticklark::app {

// The main window's outer bounds, border and caption included, in twips.
struct TwipsBounds {
  double left;
  double top;
  double width;
  double height;
  friend bool operator==(const TwipsBounds&, const TwipsBounds&) = default;
};

// Where a first run opens the main window: smaller than its layout, on purpose.
inline constexpr TwipsBounds kDefaultBounds{1000, 1000, 6500, 6500};

inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kKeyLeft = "MainLeft";
inline constexpr const char* kKeyTop = "MainTop";
inline constexpr const char* kKeyWidth = "MainWidth";
inline constexpr const char* kKeyHeight = "MainHeight";

// A stored value as a number of twips; nothing when the text is not a plain
// decimal number or lies beyond what a window on an X screen can have.
std::optional<double> ParseTwips(std::string_view text);
// The decimal text stored for a value: whole numbers without a fraction.
std::string FormatTwips(double twips);

// Which of the four values took their defaults at a read (a stored value
// equal to its default counts as the default).
struct Fallbacks {
  bool left = false;
  bool top = false;
  bool width = false;
  bool height = false;
};

// Reads the four stored values in the order left, top, width, height. A value
// that is missing, not a number, or (for width and height) not positive takes
// its own default, and is marked in |fallbacks| when given.
TwipsBounds ReadStoredBounds(platform::SettingsStore& store, Fallbacks* fallbacks = nullptr);

platform::PixelRect ToPixels(const TwipsBounds& bounds);
bool ShowsOnAnyMonitor(const platform::PixelRect& bounds,
                       const std::vector<platform::PixelRect>& monitors);

// Restores the main window's bounds at its Load and stores them when it closes.
class WindowGeometry {
 public:
  WindowGeometry(platform::SettingsStore& store, platform::WindowPlacement& placement);

  // Applies the stored bounds to the (not yet shown) window. Bounds that show
  // no part of the window on any monitor keep their size but take the default
  // position, which lies on the primary monitor.
  void Restore(Gtk::Window& window);
  // Stores the window's current outer bounds, unless it is minimised. Returns
  // false when nothing could be stored; the earlier values then stay.
  bool Store(Gtk::Window& window);

  const TwipsBounds& Restored() const { return m_restored; }

 private:
  // A value that maps to the same pixel as the restored one is stored as it was
  // read, so that opening and closing an unmoved window changes nothing.
  double Keep(int pixels, double restored) const;

  platform::SettingsStore& m_store;
  platform::WindowPlacement& m_placement;
  TwipsBounds m_restored = kDefaultBounds;
};

}  // namespace ticklark::app
