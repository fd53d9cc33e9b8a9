// SPDX-License-Identifier: MIT
#include "ui/assets.hpp"

#include <array>
#include <cstdio>
#include <set>
#include <string>

#include <gdkmm/display.h>
#include <gdkmm/texture.h>
#include <gtkmm/cssprovider.h>
#include <gtkmm/icontheme.h>
#include <gtkmm/stylecontext.h>
#include <gtkmm/window.h>

#include "ui/definitions.hpp"

// Generated with the pictures; the resource registers itself when its object
// is linked in, which calling this makes sure of.
extern "C" GResource* ticklark_assets_get_resource(void);

namespace ticklark::ui {

namespace {

void EnsureResources() {
  static GResource* const resource = ticklark_assets_get_resource();
  (void)resource;
}

constexpr const char* kResourceRoot = "/org/ticklark/Ticklark2/";

const char* PictureResource(Picture picture) {
  switch (picture) {
    case Picture::kProgramIcon:
      return "ticklark2.ico";
    case Picture::kSplash:
      return "splash.bmp";
    case Picture::kBack:
      return "back.bmp";
    case Picture::kBackPressed:
      return "back_pressed.bmp";
    case Picture::kForward:
      return "forward.bmp";
    case Picture::kForwardPressed:
      return "forward_pressed.bmp";
    case Picture::kStop:
      return "stop.bmp";
    case Picture::kStopPressed:
      return "stop_pressed.bmp";
    case Picture::kRefresh:
      return "refresh.bmp";
    case Picture::kRefreshPressed:
      return "refresh_pressed.bmp";
    case Picture::kNone:
      break;
  }
  return nullptr;
}

std::string Hex(std::uint32_t colour) {
  char text[8];
  std::snprintf(text, sizeof text, "%06x", colour & 0xFFFFFFu);
  return text;
}

// The fixed part of the style: compact controls at their designed sizes, the
// classic grey face of picture buttons, single-line borders.
constexpr const char* kBaseStyle = R"css(
.tl-client { background-color: @theme_bg_color; }
button.tl-button { padding: 0 2px; min-height: 0; min-width: 0; }
button.tl-picture-button {
  padding: 0; min-height: 0; min-width: 0; border-radius: 0;
  background-image: none; background-color: #c0c0c0;
  border: 1px solid #808080; box-shadow: none;
}
button.tl-picture-button:focus-visible { outline: 1px dotted #000000; outline-offset: -4px; }
.tl-border { border: 1px solid #808080; }
label.tl-label { padding: 0 1px; }
.tl-statusbar { border-top: 1px solid alpha(#000000, 0.15); }
.tl-statuspanel {
  border-style: solid; border-width: 1px;
  border-color: #a0a0a0 #ffffff #ffffff #a0a0a0;
  padding: 0 4px; margin: 1px;
}
)css";

constexpr const char* kUncompositedStyle = R"css(
popover, popover > contents, popover.menu, popover.menu > contents {
  border-radius: 0; box-shadow: none; margin: 0;
}
popover.menu > contents { border: 1px solid #a0a0a0; }
popover.menu > arrow { min-height: 0; min-width: 0; }
)css";

}  // namespace

void InstallProgramIcon() {
  EnsureResources();
  auto display = Gdk::Display::get_default();
  if (!display) {
    return;
  }
  Gtk::IconTheme::get_for_display(display)->add_resource_path(std::string(kResourceRoot) + "icons");
  Gtk::Window::set_default_icon_name(kProgramIconName);
}

Glib::RefPtr<Gdk::Texture> LoadPicture(Picture picture) {
  static std::array<Glib::RefPtr<Gdk::Texture>, 16> cache;
  const auto slot = static_cast<std::size_t>(picture);
  const char* name = PictureResource(picture);
  if (!name) {
    return {};
  }
  if (!cache.at(slot)) {
    EnsureResources();
    cache.at(slot) = Gdk::Texture::create_from_resource(std::string(kResourceRoot) + name);
  }
  return cache.at(slot);
}

void InstallStyle() {
  auto display = Gdk::Display::get_default();
  if (!display) {
    return;
  }
  std::string css = kBaseStyle;
  std::set<std::uint32_t> backgrounds;
  std::set<std::uint32_t> foregrounds;
  for (const WindowDef* window : AllWindowDefs()) {
    for (const ControlDef& control : window->controls) {
      if (control.look.background != kDefaultColour) {
        backgrounds.insert(control.look.background);
      }
      if (control.look.foreground != kDefaultColour) {
        foregrounds.insert(control.look.foreground);
      }
    }
  }
  for (std::uint32_t colour : backgrounds) {
    css += ".tl-bg-" + Hex(colour) + " { background-color: #" + Hex(colour) + "; }\n";
  }
  for (std::uint32_t colour : foregrounds) {
    css += ".tl-fg-" + Hex(colour) + " { color: #" + Hex(colour) + "; }\n";
  }
  if (!display->is_composited()) {
    // Without a compositing manager the see-through corners and shadows of
    // menus show as black: menus get square corners and no shadow instead.
    css += kUncompositedStyle;
  }
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data(css);
  Gtk::StyleContext::add_provider_for_display(display, provider,
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

}  // namespace ticklark::ui
