// SPDX-License-Identifier: MIT
#pragma once

#include <span>
#include <string_view>

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

// What a screen reader calls a control that shows no text of its own: a
// picture button (also its tooltip), a web pane, a picture. Empty for the
// others, which are known by their captions.
std::string_view SpokenName(const ControlDef& control);

}  // namespace ticklark::ui
