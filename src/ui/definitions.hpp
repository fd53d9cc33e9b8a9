// SPDX-License-Identifier: MIT
#pragma once

#include <span>

#include "ui/window_definition.hpp"

namespace ticklark::ui {

const WindowDef& MainWindowDef();
const WindowDef& SplashWindowDef();
const WindowDef& AboutWindowDef();
const WindowDef& HeatmapWindowDef();
const WindowDef& CalendarWindowDef();
const WindowDef& GlobalWindowDef();
const WindowDef& TickerWindowDef();
const WindowDef& CalcWindowDef();

// The eight windows, main window first.
std::span<const WindowDef* const> AllWindowDefs();

// The main window's menu tree in screen order.
std::span<const MenuItemDef> MainMenuDef();

}  // namespace ticklark::ui
