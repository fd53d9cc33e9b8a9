// SPDX-License-Identifier: MIT
#include "app/window_geometry.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include <gtkmm/window.h>

#include "platform/settings_store.hpp"
#include "ticklark/version.hpp"
#include "ui/twips.hpp"

namespace ticklark::app {

namespace {

// X11 keeps window positions in 16 signed bits and sizes in 16 unsigned bits.
constexpr double kMaxCoordinateTwips = 32767.0 * ui::kTwipsPerPixel;

double ReadValue(platform::SettingsStore& store, const char* key, double fallback,
                 bool mustBePositive, bool& fellBack) {
  const std::string defaultText = FormatTwips(fallback);
  const std::string text = store.GetSetting(kAppTitle, kSettingsSection, key, defaultText);
  const std::optional<double> value = ParseTwips(text);
  // The store hands back the default's own text for a missing key.
  fellBack = !value || text == defaultText || (mustBePositive && ui::PixelsFromTwips(*value) < 1);
  return fellBack ? fallback : *value;
}

}  // namespace

std::optional<double> ParseTwips(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  if (text.empty()) {
    return std::nullopt;
  }
  double value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (*first == '+') {
    ++first;
  }
  const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
  if (error != std::errc{} || end != last || !std::isfinite(value) ||
      std::fabs(value) > kMaxCoordinateTwips) {
    return std::nullopt;
  }
  return value;
}

std::string FormatTwips(double twips) {
  // Window positions and sizes are single-precision values, whole in practice.
  const auto single = static_cast<float>(twips);
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, single);
  if (error != std::errc{}) {
    return "0";
  }
  return std::string(text, end);
}

TwipsBounds ReadStoredBounds(platform::SettingsStore& store, Fallbacks* fallbacks) {
  Fallbacks fell;
  TwipsBounds bounds = kDefaultBounds;
  bounds.left = ReadValue(store, kKeyLeft, kDefaultBounds.left, false, fell.left);
  bounds.top = ReadValue(store, kKeyTop, kDefaultBounds.top, false, fell.top);
  bounds.width = ReadValue(store, kKeyWidth, kDefaultBounds.width, true, fell.width);
  bounds.height = ReadValue(store, kKeyHeight, kDefaultBounds.height, true, fell.height);
  if (fallbacks) {
    *fallbacks = fell;
  }
  return bounds;
}

platform::PixelRect ToPixels(const TwipsBounds& bounds) {
  return platform::PixelRect{ui::PixelsFromTwips(bounds.left), ui::PixelsFromTwips(bounds.top),
                             ui::PixelsFromTwips(bounds.width), ui::PixelsFromTwips(bounds.height)};
}

bool ShowsOnAnyMonitor(const platform::PixelRect& bounds,
                       const std::vector<platform::PixelRect>& monitors) {
  for (const auto& monitor : monitors) {
    const bool apart =
        bounds.x >= monitor.x + monitor.width || monitor.x >= bounds.x + bounds.width ||
        bounds.y >= monitor.y + monitor.height || monitor.y >= bounds.y + bounds.height;
    if (!apart) {
      return true;
    }
  }
  return false;
}

WindowGeometry::WindowGeometry(platform::SettingsStore& store, platform::WindowPlacement& placement)
    : m_store(store), m_placement(placement) {}

void WindowGeometry::Restore(Gtk::Window& window) {
  Fallbacks fell;
  m_restored = ReadStoredBounds(m_store, &fell);
  platform::PixelRect pixels = ToPixels(m_restored);
  const auto monitors = m_placement.Monitors();
  if (!monitors.empty() && !ShowsOnAnyMonitor(pixels, monitors)) {
    m_restored.left = kDefaultBounds.left;
    m_restored.top = kDefaultBounds.top;
    fell.left = fell.top = true;
    pixels = ToPixels(m_restored);
  }
  // The default position counts from the primary monitor's corner, which is
  // not the screen's where another monitor lies to its left or above it.
  if (const auto primary = m_placement.PrimaryMonitor(); primary && (fell.left || fell.top)) {
    pixels.x += fell.left ? primary->x : 0;
    pixels.y += fell.top ? primary->y : 0;
  }
  m_placement.SetOuterBounds(window, pixels);
}

double WindowGeometry::Keep(int pixels, double restored) const {
  return ui::PixelsFromTwips(restored) == pixels ? restored : ui::TwipsFromPixels(pixels);
}

bool WindowGeometry::Store(Gtk::Window& window) {
  if (m_placement.IsMinimized(window)) {
    return false;
  }
  const auto bounds = m_placement.OuterBounds(window);
  if (!bounds) {
    return false;
  }
  const TwipsBounds twips{Keep(bounds->x, m_restored.left), Keep(bounds->y, m_restored.top),
                          Keep(bounds->width, m_restored.width),
                          Keep(bounds->height, m_restored.height)};
  return m_store.SaveSettings(kAppTitle, kSettingsSection,
                              {{kKeyLeft, FormatTwips(twips.left)},
                               {kKeyTop, FormatTwips(twips.top)},
                               {kKeyWidth, FormatTwips(twips.width)},
                               {kKeyHeight, FormatTwips(twips.height)}});
}

}  // namespace ticklark::app
