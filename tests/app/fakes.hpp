// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/settings_store.hpp"
#include "platform/window_placement.hpp"

namespace ticklark::test {

// A settings store in memory that records what was read and written.
class FakeSettingsStore : public platform::SettingsStore {
 public:
  std::map<std::string, std::string> values;  // by key
  std::vector<std::string> reads;
  int saves = 0;
  bool failWrites = false;
  std::function<void()> onRead;

  std::string GetSetting(std::string_view, std::string_view, std::string_view key,
                         std::string_view defaultValue) override {
    reads.emplace_back(key);
    if (onRead) {
      onRead();
    }
    const auto it = values.find(std::string(key));
    return it == values.end() ? std::string(defaultValue) : it->second;
  }

  bool SaveSettings(std::string_view, std::string_view,
                    const std::vector<std::pair<std::string, std::string>>& pairs) override {
    if (failWrites) {
      return false;
    }
    ++saves;
    for (const auto& [key, value] : pairs) {
      values[key] = value;
    }
    return true;
  }
};

// Placement without a window manager: remembers what it was told.
class FakePlacement : public platform::WindowPlacement {
 public:
  std::optional<platform::PixelRect> bounds;
  std::vector<platform::PixelRect> monitors{{0, 0, 1600, 1200}};
  std::optional<platform::PixelRect> primary;  // the first monitor when unset
  bool minimized = false;

  void SetOuterBounds(Gtk::Window&, const platform::PixelRect& rect) override { bounds = rect; }
  std::optional<platform::PixelRect> OuterBounds(Gtk::Window&) override { return bounds; }
  void MoveClientTo(Gtk::Window&, int, int) override {}
  void CenterOn(Gtk::Window&, const platform::PixelRect&) override {}
  void SetSkipTaskbar(Gtk::Window&, bool) override {}
  std::vector<platform::PixelRect> Monitors() override { return monitors; }
  std::optional<platform::PixelRect> PrimaryMonitor() override {
    return primary ? primary : WindowPlacement::PrimaryMonitor();
  }
  platform::FrameExtents Frame(Gtk::Window&) override { return {}; }
  bool IsMinimized(Gtk::Window&) override { return minimized; }
};

}  // namespace ticklark::test
