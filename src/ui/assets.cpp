// SPDX-License-Identifier: MIT
#include "ui/assets.hpp"

#include <array>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>

#include <gdkmm/display.h>
#include <gdkmm/paintable.h>
#include <gdkmm/texture.h>
#include <glibmm/main.h>
#include <gtkmm/cssprovider.h>
#include <gtkmm/icontheme.h>
#include <gtkmm/settings.h>
#include <gtkmm/stylecontext.h>
#include <gtkmm/window.h>

#include <gtk/gtk.h>

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

// Where each picture lies: as designed, on a clear ground (navigation pictures
// only) and at twice the density.
struct PictureFiles {
  const char* designed;
  const char* clear;
  const char* dense;
};

PictureFiles FilesOf(Picture picture) {
  switch (picture) {
    case Picture::kProgramIcon:
      return {"ticklark2.ico", nullptr, "ticklark2@2x.png"};
    case Picture::kSplash:
      return {"splash.bmp", nullptr, "splash@2x.png"};
    case Picture::kBack:
      return {"back.bmp", "back.png", "back@2x.png"};
    case Picture::kBackPressed:
      return {"back_pressed.bmp", "back_pressed.png", "back_pressed@2x.png"};
    case Picture::kForward:
      return {"forward.bmp", "forward.png", "forward@2x.png"};
    case Picture::kForwardPressed:
      return {"forward_pressed.bmp", "forward_pressed.png", "forward_pressed@2x.png"};
    case Picture::kStop:
      return {"stop.bmp", "stop.png", "stop@2x.png"};
    case Picture::kStopPressed:
      return {"stop_pressed.bmp", "stop_pressed.png", "stop_pressed@2x.png"};
    case Picture::kRefresh:
      return {"refresh.bmp", "refresh.png", "refresh@2x.png"};
    case Picture::kRefreshPressed:
      return {"refresh_pressed.bmp", "refresh_pressed.png", "refresh_pressed@2x.png"};
    case Picture::kNone:
      break;
  }
  return {nullptr, nullptr, nullptr};
}

Glib::RefPtr<Gdk::Texture> LoadFile(const char* name) {
  static std::map<std::string, Glib::RefPtr<Gdk::Texture>> cache;
  if (!name) {
    return {};
  }
  auto& texture = cache[name];
  if (!texture) {
    EnsureResources();
    texture = Gdk::Texture::create_from_resource(std::string(kResourceRoot) + name);
  }
  return texture;
}

// A texture drawn at a size of our choosing: a picture with more pixels than
// its designed size, shown at that size, so that a dense screen gets them all.
// The interface comes before the object, so that GLib learns of it before
// the first instance makes the class.
class SizedPicture : public Gdk::Paintable, public Glib::Object {
 public:
  static Glib::RefPtr<SizedPicture> create(Glib::RefPtr<Gdk::Texture> texture, int width,
                                           int height) {
    return Glib::make_refptr_for_instance(new SizedPicture(std::move(texture), width, height));
  }

 protected:
  SizedPicture(Glib::RefPtr<Gdk::Texture> texture, int width, int height)
      : Glib::ObjectBase("TicklarkSizedPicture"),
        Gdk::Paintable(),
        Glib::Object(),
        m_texture(std::move(texture)),
        m_width(width),
        m_height(height) {}

  void snapshot_vfunc(const Glib::RefPtr<Gdk::Snapshot>& snapshot, double width,
                      double height) override {
    m_texture->snapshot(snapshot, width, height);
  }
  Flags get_flags_vfunc() const override { return Flags::STATIC_SIZE | Flags::STATIC_CONTENTS; }
  int get_intrinsic_width_vfunc() const override { return m_width; }
  int get_intrinsic_height_vfunc() const override { return m_height; }

 private:
  Glib::RefPtr<Gdk::Texture> m_texture;
  int m_width;
  int m_height;
};

std::string Hex(std::uint32_t colour) {
  char text[8];
  std::snprintf(text, sizeof text, "%06x", colour & 0xFFFFFFu);
  return text;
}

// The colours that the classic look takes from the platform, by role. A light
// theme keeps the classic values; a dark one derives them from its own.
constexpr const char* kClassicColours = R"css(
@define-color tl_face #c0c0c0;
@define-color tl_edge #808080;
@define-color tl_shade #a0a0a0;
@define-color tl_light #ffffff;
@define-color tl_window #ffffff;
@define-color tl_window_text #000000;
@define-color tl_focus #000000;
)css";

constexpr const char* kDarkColours = R"css(
@define-color tl_face mix(@theme_bg_color, @theme_fg_color, 0.12);
@define-color tl_edge mix(@theme_bg_color, @theme_fg_color, 0.35);
@define-color tl_shade shade(@theme_bg_color, 0.6);
@define-color tl_light mix(@theme_bg_color, @theme_fg_color, 0.22);
@define-color tl_window @theme_base_color;
@define-color tl_window_text @theme_text_color;
@define-color tl_focus @theme_fg_color;
)css";

// The fixed part of the style: compact controls at their designed sizes, the
// face of picture buttons, single-line borders, sunken status panels.
constexpr const char* kBaseStyle = R"css(
.tl-client { background-color: @theme_bg_color; }
button.tl-button { padding: 0 2px; min-height: 0; min-width: 0; }
button.tl-picture-button {
  padding: 0; min-height: 0; min-width: 0; border-radius: 0;
  background-image: none; background-color: @tl_face;
  border: 1px solid @tl_edge; box-shadow: none;
}
button.tl-picture-button:focus-visible { outline: 1px dotted @tl_focus; outline-offset: -4px; }
.tl-border { border: 1px solid @tl_edge; }
label.tl-label { padding: 0 1px; }
.tl-statusbar { box-shadow: inset 0 1px alpha(currentColor, 0.15); }
.tl-statuspanel {
  box-shadow: inset 1px 1px @tl_shade, inset -1px -1px @tl_light;
  padding: 0 4px; margin: 0 1px;
}
)css";

// Definition colours that stand for a platform colour, and the role each
// takes; lines draw the etched separator, so white there is the light edge.
const char* RoleOf(std::uint32_t colour, bool background) {
  if (background) {
    switch (colour) {
      case 0xC0C0C0:
        return "tl_face";
      case 0x808080:
        return "tl_edge";
      case 0xFFFFFF:
        return "tl_window";
      default:
        return nullptr;
    }
  }
  return colour == 0x000000 ? "tl_window_text" : nullptr;
}

constexpr const char* kUncompositedStyle = R"css(
popover, popover > contents, popover.menu, popover.menu > contents {
  border-radius: 0; box-shadow: none; margin: 0;
}
popover.menu > contents { border: 1px solid #a0a0a0; }
popover.menu > arrow { min-height: 0; min-width: 0; }
menubar > item popover.menu popover.menu { padding: 0; }
)css";

std::string BuildStyle(bool dark, bool composited) {
  std::string css = dark ? kDarkColours : kClassicColours;
  css += kBaseStyle;
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
    const char* role = RoleOf(colour, true);
    css += ".tl-bg-" + Hex(colour) +
           " { background-color: " + (role ? std::string("@") + role : "#" + Hex(colour)) + "; }\n";
  }
  css += ".tl-line.tl-bg-ffffff { background-color: @tl_light; }\n";
  for (std::uint32_t colour : foregrounds) {
    const char* role = RoleOf(colour, false);
    css += ".tl-fg-" + Hex(colour) +
           " { color: " + (role ? std::string("@") + role : "#" + Hex(colour)) + "; }\n";
  }
  if (!composited) {
    // Without a compositing manager the see-through corners, shadows and
    // margins of menus show as black: square menus with no shadow instead.
    css += kUncompositedStyle;
  }
  return css;
}

// A label's text colour as the theme gives it, without our own style; the
// label needs a window for its style to be worked out, one never shown.
bool DetectDarkTheme() {
  GtkWidget* window = gtk_window_new();
  GtkWidget* probe = gtk_label_new(nullptr);
  gtk_window_set_child(GTK_WINDOW(window), probe);
  GdkRGBA text{};
  gtk_style_context_get_color(gtk_widget_get_style_context(probe), &text);
  gtk_window_destroy(GTK_WINDOW(window));
  const float luminance = 0.2126F * text.red + 0.7152F * text.green + 0.0722F * text.blue;
  return luminance > 0.5F;
}

bool s_dark = false;

void LoadStyle() {
  auto display = Gdk::Display::get_default();
  if (!display) {
    return;
  }
  static Glib::RefPtr<Gtk::CssProvider> provider;
  if (provider) {
    Gtk::StyleContext::remove_provider_for_display(display, provider);
  }
  s_dark = DetectDarkTheme();
  provider = Gtk::CssProvider::create();
  provider->load_from_data(BuildStyle(s_dark, display->is_composited()));
  Gtk::StyleContext::add_provider_for_display(display, provider,
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

// ---- access keys in menus --------------------------------------------------
// A menu's labels underline their access keys when the menu says so, but GTK
// neither passes on its window's state nor watches Alt inside the menu. Every
// menu is tied to its window here: it shows the keys when the window does, and
// Alt pressed or released inside it tells the window.

constexpr const char* kTiedKey = "ticklark-menu-tied";

gboolean OnMenuAltKey(GtkEventControllerKey* keys, guint keyval, guint, GdkModifierType,
                      gpointer pressed) {
  if (keyval != GDK_KEY_Alt_L && keyval != GDK_KEY_Alt_R) {
    return FALSE;
  }
  GtkWidget* menu = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(keys));
  if (auto* window = GTK_WINDOW(gtk_widget_get_root(menu))) {
    gtk_window_set_mnemonics_visible(window, pressed != nullptr);
  }
  return FALSE;
}

void OnMenuAltReleased(GtkEventControllerKey* keys, guint keyval, guint keycode,
                       GdkModifierType state, gpointer) {
  OnMenuAltKey(keys, keyval, keycode, state, nullptr);
}

gboolean TieMenuToItsWindow(GSignalInvocationHint*, guint, const GValue* values, gpointer) {
  auto* widget = static_cast<GtkWidget*>(g_value_get_object(&values[0]));
  if (!GTK_IS_POPOVER_MENU(widget) || g_object_get_data(G_OBJECT(widget), kTiedKey)) {
    return TRUE;
  }
  GtkRoot* root = gtk_widget_get_root(widget);
  if (!GTK_IS_WINDOW(root)) {
    return TRUE;
  }
  g_object_set_data(G_OBJECT(widget), kTiedKey, GINT_TO_POINTER(1));
  g_object_bind_property(root, "mnemonics-visible", widget, "mnemonics-visible",
                         G_BINDING_SYNC_CREATE);
  GtkEventController* keys = gtk_event_controller_key_new();
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "key-pressed", G_CALLBACK(OnMenuAltKey), GINT_TO_POINTER(1));
  g_signal_connect(keys, "key-released", G_CALLBACK(OnMenuAltReleased), nullptr);
  gtk_widget_add_controller(widget, keys);
  return TRUE;
}

}  // namespace

void InstallProgramIcon() {
  EnsureResources();
  auto display = Gdk::Display::get_default();
  if (!display) {
    return;
  }
  static bool installed = false;
  if (!installed) {
    Gtk::IconTheme::get_for_display(display)->add_resource_path(std::string(kResourceRoot) +
                                                                "icons");
    installed = true;
  }
}

Glib::RefPtr<Gdk::Texture> LoadPicture(Picture picture) {
  return LoadFile(FilesOf(picture).designed);
}

Glib::RefPtr<Gdk::Paintable> PictureFor(Picture picture, int scale, bool themedFace) {
  const PictureFiles files = FilesOf(picture);
  Glib::RefPtr<Gdk::Texture> designed = LoadFile(files.designed);
  if (!designed) {
    return {};
  }
  const char* file = scale >= 2 && files.dense   ? files.dense
                     : themedFace && files.clear ? files.clear
                                                 : nullptr;
  if (!file) {
    return designed;
  }
  // Cached per picture and file, so that widgets can compare what they show.
  static std::map<std::pair<Picture, const char*>, Glib::RefPtr<Gdk::Paintable>> cache;
  auto& paintable = cache[{picture, file}];
  if (!paintable) {
    paintable = SizedPicture::create(LoadFile(file), designed->get_width(), designed->get_height());
  }
  return paintable;
}

namespace {

// The windows are laid out to the pixel around their captions. GTK 4.16 and
// later set text by default at unhinted widths and fractional positions, which
// makes a caption a pixel or two wider than GTK 4.8 makes it ("Backspace"
// fills more than its 72-px button); their "manual" font rendering keeps the
// hinted metrics of GTK 4.8. Older GTKs have no such setting and need none.
void KeepHintedTextMetrics(const Glib::RefPtr<Gdk::Display>& display) {
  auto settings = Gtk::Settings::get_for_display(display);
  if (settings &&
      g_object_class_find_property(G_OBJECT_GET_CLASS(settings->gobj()), "gtk-font-rendering")) {
    constexpr int kManualFontRendering = 1;  // GTK_FONT_RENDERING_MANUAL, GTK 4.16
    g_object_set(settings->gobj(), "gtk-font-rendering", kManualFontRendering, nullptr);
  }
}

}  // namespace

void InstallStyle() {
  auto display = Gdk::Display::get_default();
  if (!display) {
    return;
  }
  static bool installed = false;
  if (installed) {
    LoadStyle();
    return;
  }
  installed = true;
  KeepHintedTextMetrics(display);
  LoadStyle();
  g_signal_add_emission_hook(g_signal_lookup("map", GTK_TYPE_WIDGET), 0, &TieMenuToItsWindow,
                             nullptr, nullptr);

  // A new theme, or the dark variant switched on or off: the style follows
  // once GTK has loaded the theme's own.
  const auto follow = [] {
    Glib::signal_idle().connect_once([] {
      LoadStyle();
      SignalStyleChanged().emit();
    });
  };
  if (auto settings = Gtk::Settings::get_for_display(display)) {
    settings->property_gtk_theme_name().signal_changed().connect(follow);
    settings->property_gtk_application_prefer_dark_theme().signal_changed().connect(follow);
  }
}

bool ThemeIsDark() {
  return s_dark;
}

sigc::signal<void()>& SignalStyleChanged() {
  static sigc::signal<void()> signal;
  return signal;
}

}  // namespace ticklark::ui
