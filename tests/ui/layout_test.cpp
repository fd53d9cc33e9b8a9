// SPDX-License-Identifier: MIT
#include <string>
#include <tuple>
#include <vector>

#include <gdkmm/display.h>
#include <gdkmm/paintable.h>
#include <gdkmm/texture.h>
#include <giomm/menu.h>
#include <gtest/gtest.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/popovermenubar.h>
#include <gtkmm/settings.h>
#include <gtkmm/window.h>

#include "support/gtk_fixture.hpp"
#include "support/screenshot.hpp"
#include "ui/assets.hpp"
#include "ui/definitions.hpp"
#include "ui/form_layout.hpp"
#include "ui/twips.hpp"

namespace ticklark::ui {
namespace {

class Layout : public test::GtkTest {
 protected:
  static void SetUpTestSuite() {
    test::GtkTest::SetUpTestSuite();
    InstallStyle();
  }

  // Shows |def|'s layout in a window, with a plain box in place of every
  // control the layout does not make itself.
  void Show(const WindowDef& def, int width, int height) {
    layout = std::make_unique<FormLayout>(def);
    layout->BuildStandardControls();
    for (const ControlDef& control : def.controls) {
      if (control.kind == ControlKind::kWebBrowser || control.kind == ControlKind::kStatusBar) {
        auto* stand_in = Gtk::make_managed<Gtk::Box>();
        stand_in->set_focusable(true);
        layout->Place(control, *stand_in);
      }
    }
    window.set_child(layout->ClientArea());
    window.set_default_size(width, height);
    window.present();
    ASSERT_TRUE(test::PumpUntil([&] { return window.get_width() == width; }));
    ASSERT_TRUE(test::AwaitNextFrame(window));
  }

  // A control's rectangle in the client area, in pixels.
  std::vector<int> Bounds(std::string_view name, int index = -1) {
    Gtk::Widget* widget = layout->Control(name, index);
    graphene_rect_t rect;
    if (!widget || !gtk_widget_compute_bounds(widget->gobj(), layout->ClientArea().gobj(), &rect)) {
      return {};
    }
    return {static_cast<int>(rect.origin.x), static_cast<int>(rect.origin.y),
            static_cast<int>(rect.size.width), static_cast<int>(rect.size.height)};
  }

  std::vector<int> Designed(const WindowDef& def, std::string_view name, int index = -1) {
    const ControlDef& control = GetControl(def, name, index);
    return {PixelsFromTwips(control.left), PixelsFromTwips(control.top),
            PixelsFromTwips(control.width), PixelsFromTwips(control.height)};
  }

  std::vector<std::string> TabOrderFrom(std::string_view first) {
    std::vector<std::string> order;
    EXPECT_TRUE(test::AwaitActive(window));
    layout->Control(first)->grab_focus();
    for (int i = 0; i < 4; ++i) {
      Gtk::Widget* focus = window.get_focus();
      for (const ControlDef& control : window_def->controls) {
        if (layout->Control(control.name, control.index) == focus) {
          order.emplace_back(control.name);
        }
      }
      window.child_focus(Gtk::DirectionType::TAB_FORWARD);
    }
    return order;
  }

  Gtk::Window window;
  std::unique_ptr<FormLayout> layout;
  const WindowDef* window_def = nullptr;
};

TEST_F(Layout, ControlsKeepDesignedPlacesWhenTheWindowIsSmallOrLarge) {
  const WindowDef& def = MainWindowDef();
  window_def = &def;
  Show(def, 433, 400);  // the first-run size: only the upper-left part shows
  for (const char* name : {"WebBrowser12", "cmdWB2Back", "cmdWB2Refresh", "WebBrowser2"}) {
    EXPECT_EQ(Bounds(name), Designed(def, name)) << name;
  }
  test::SaveScreenshot(window, "layout-main-small");
  window.set_default_size(1100, 760);
  ASSERT_TRUE(test::PumpUntil([&] { return window.get_width() == 1100; }));
  for (const ControlDef& control : def.controls) {
    if (control.kind != ControlKind::kStatusBar) {
      EXPECT_EQ(Bounds(control.name), Designed(def, control.name)) << control.name;
    }
  }
}

TEST_F(Layout, TabFollowsTheDesignedOrder) {
  window_def = &CalendarWindowDef();
  Show(CalendarWindowDef(), 1016, 686);
  EXPECT_EQ(
      TabOrderFrom("cmdWB6Stop"),
      (std::vector<std::string>{"cmdWB6Stop", "cmdWB6Back", "cmdWB6Forward", "cmdWB6Refresh"}));
  EXPECT_EQ(layout->FirstInTabOrder(), layout->Control("WebBrowser6"));
}

TEST_F(Layout, TheCalculatorsHiddenButtonIsPlacedButCutOff) {
  window_def = &CalcWindowDef();
  Show(CalcWindowDef(), 262, 222);
  EXPECT_EQ(layout->FirstInTabOrder(), layout->Control("btnFocusEqual"));
  const auto hidden = Bounds("btnFocusEqual");
  ASSERT_EQ(hidden.size(), 4u);
  EXPECT_GE(hidden[1], layout->ClientArea().get_height());
  EXPECT_EQ(Bounds("cmdNum", 7), Designed(CalcWindowDef(), "cmdNum", 7));
  auto* seven = layout->Button("cmdNum", 7);
  ASSERT_NE(seven, nullptr);
  EXPECT_EQ(seven->get_label(), "7");
}

TEST_F(Layout, AccessKeysAreUnderlinedMnemonics) {
  window_def = &AboutWindowDef();
  Show(AboutWindowDef(), 391, 242);
  auto* sysinfo = layout->Button("cmdSysInfo");
  ASSERT_NE(sysinfo, nullptr);
  EXPECT_TRUE(sysinfo->get_use_underline());
  EXPECT_EQ(sysinfo->get_label(), "_System Info...");
  EXPECT_FALSE(layout->Button("cmdOK")->get_use_underline());
}

// A window's own controls (its web panes) outlive neither the window nor the
// layout's knowledge of them: one is taken out through its slot before its
// owner destroys it, and one that left its slot some other way is forgotten
// too. Nothing of the layout may point at either afterwards.
TEST_F(Layout, ControlsThatLeaveTheirSlotsAreForgotten) {
  const WindowDef& def = HeatmapWindowDef();
  layout = std::make_unique<FormLayout>(def);
  layout->BuildStandardControls();
  // Held by their owner, not by the layout, as a pane holds its frame.
  auto mainPane = std::make_unique<Gtk::Box>();
  auto adPane = std::make_unique<Gtk::Box>();
  layout->Place(GetControl(def, "WebBrowser5"), *mainPane);
  layout->Place(GetControl(def, "WebBrowser8"), *adPane);
  window.set_child(layout->ClientArea());
  window.present();
  ASSERT_EQ(layout->FirstInTabOrder(), mainPane.get());

  layout->Remove(*mainPane);
  EXPECT_EQ(mainPane->get_parent(), nullptr);
  EXPECT_EQ(layout->Control("WebBrowser5"), nullptr);
  EXPECT_EQ(layout->FirstInTabOrder(), adPane.get());

  gtk_widget_unparent(GTK_WIDGET(adPane->gobj()));
  adPane.reset();
  EXPECT_EQ(layout->Control("WebBrowser8"), nullptr);
  EXPECT_EQ(layout->FirstInTabOrder(), layout->Control("cmdWB5Back"));
  // Laying out and focusing again touch only what is still there.
  window.set_default_size(1000, 700);
  ASSERT_TRUE(test::AwaitNextFrame(window));
  layout->FocusFirst();
  EXPECT_EQ(window.get_focus(), layout->Control("cmdWB5Back"));
}

// ---- pictures for the screen and the theme -------------------------------------

// What a control lays out is the designed size, whatever it draws from.
TEST(PictureFor, KeepsTheDesignedSizeAndDrawsFromTheSharperOrClearPicture) {
  const std::tuple<Picture, int, bool, bool> cases[] = {
      // picture, screen scale, themed face, drawn from the designed picture
      {Picture::kBack, 1, false, true},
      {Picture::kBack, 1, true, false},
      {Picture::kStopPressed, 2, false, false},
      {Picture::kSplash, 2, false, false},
  };
  for (const auto& [picture, scale, themed, designed] : cases) {
    SCOPED_TRACE(static_cast<int>(picture) * 10 + scale);
    auto paintable = PictureFor(picture, scale, themed);
    ASSERT_TRUE(paintable);
    EXPECT_EQ(paintable->get_intrinsic_width(), LoadPicture(picture)->get_width());
    EXPECT_EQ(paintable->get_intrinsic_height(), LoadPicture(picture)->get_height());
    EXPECT_EQ(paintable == Glib::RefPtr<Gdk::Paintable>(LoadPicture(picture)), designed);
  }
}

// The face of a picture button and the ground of its picture, as drawn.
TEST_F(Layout, PictureButtonFacesAreClassicGreyOnALightThemeAndFollowADarkOne) {
  window_def = &MainWindowDef();
  Show(MainWindowDef(), 433, 400);
  Gtk::Widget& back = *layout->Control("cmdWB2Back");
  auto settings = Gtk::Settings::get_default();
  const auto look = [&](bool dark) {
    EXPECT_TRUE(test::PumpUntil([&] { return ThemeIsDark() == dark; }));
    ASSERT_TRUE(test::AwaitNextFrame(window));  // drawn in the theme's colours
    const test::Pixels pixels = test::RenderPixels(back);
    ASSERT_GT(pixels.width, 60);
    // Inside the border; beside the picture; the middle of the black disc.
    const std::uint32_t face = pixels.Rgb(2, 2);
    EXPECT_EQ(pixels.Rgb(5, pixels.height - 4), face);
    const std::uint32_t disc =
        pixels.Rgb((pixels.width - 64) / 2 + 12, (pixels.height - 61) / 2 + 40);
    EXPECT_LT((disc >> 16) + (disc >> 8 & 0xFF) + (disc & 0xFF), 3 * 0x30u) << std::hex << disc;
    if (!dark) {
      EXPECT_EQ(face, 0xC0C0C0u);
    } else {
      EXPECT_LT(face & 0xFF, 0x60u) << std::hex << face;
    }
  };
  look(false);
  settings->property_gtk_application_prefer_dark_theme() = true;
  look(true);
  test::SaveScreenshot(window, "layout-main-dark");
  settings->property_gtk_application_prefer_dark_theme() = false;
  look(false);
}

// ---- menus -----------------------------------------------------------------------

std::vector<GtkWidget*> MenusIn(GtkWidget* widget, std::vector<GtkWidget*> found = {}) {
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
       child = gtk_widget_get_next_sibling(child)) {
    if (GTK_IS_POPOVER_MENU(child)) {
      found.push_back(child);
    }
    found = MenusIn(child, std::move(found));
  }
  return found;
}

bool MenuShowsAccessKeys(GtkWidget* menu) {
  gboolean visible = FALSE;
  g_object_get(menu, "mnemonics-visible", &visible, nullptr);
  return visible != FALSE;
}

TEST_F(Layout, MenusShowAccessKeysWithTheirWindowAndSitFlushWithoutACompositor) {
  auto bar = Gio::Menu::create();
  auto file = Gio::Menu::create();
  file->append(MnemonicFromCaption("E&xit"), "win.exit");
  auto options = Gio::Menu::create();
  auto island = Gio::Menu::create();
  island->append("Java Version", "win.java");
  options->append_submenu("Real Time Quotes Window", island);
  bar->append_submenu(MnemonicFromCaption("&File"), file);
  bar->append_submenu(MnemonicFromCaption("&Options"), options);
  Gtk::PopoverMenuBar menuBar(bar);
  window.set_child(menuBar);
  window.present();
  ASSERT_TRUE(test::PumpUntil([&] { return window.get_mapped(); }));

  // File's menu, Options' menu and the submenu inside it.
  const auto menus = MenusIn(GTK_WIDGET(menuBar.gobj()));
  ASSERT_EQ(menus.size(), 3u);
  GtkWidget* fileMenu = menus[0];
  gtk_popover_popup(GTK_POPOVER(fileMenu));
  ASSERT_TRUE(test::PumpUntil([&] { return gtk_widget_get_mapped(fileMenu); }));
  window.set_mnemonics_visible(true);
  EXPECT_TRUE(MenuShowsAccessKeys(fileMenu));
  window.set_mnemonics_visible(false);
  EXPECT_FALSE(MenuShowsAccessKeys(fileMenu));

  // Alt pressed and released inside the menu, which has the keyboard.
  for (const bool pressed : {true, false}) {
    GListModel* controllers = gtk_widget_observe_controllers(fileMenu);
    for (guint i = 0; i < g_list_model_get_n_items(controllers); ++i) {
      GObject* controller = G_OBJECT(g_list_model_get_item(controllers, i));
      gboolean handled = FALSE;  // the result of a press; a release has none
      if (GTK_IS_EVENT_CONTROLLER_KEY(controller)) {
        g_signal_emit_by_name(controller, pressed ? "key-pressed" : "key-released", GDK_KEY_Alt_L,
                              64u, GdkModifierType{}, &handled);
      }
      g_object_unref(controller);
    }
    g_object_unref(controllers);
    EXPECT_EQ(window.get_mnemonics_visible(), pressed);
    EXPECT_EQ(MenuShowsAccessKeys(fileMenu), pressed);
  }
  gtk_popover_popdown(GTK_POPOVER(fileMenu));

  // A submenu's edges are its border: nothing see-through below it to show
  // black where no compositing manager runs.
  gtk_popover_popup(GTK_POPOVER(menus[1]));
  gtk_popover_popup(GTK_POPOVER(menus[2]));
  ASSERT_TRUE(test::PumpUntil([&] { return gtk_widget_get_mapped(menus[2]); }));
  if (!window.get_display()->is_composited()) {
    GtkBorder padding{};
    gtk_style_context_get_padding(gtk_widget_get_style_context(menus[2]), &padding);
    EXPECT_EQ(padding.bottom, 0);
    EXPECT_EQ(padding.top, 0);
  }
  test::SaveScreenScreenshot("layout-submenu");
  gtk_popover_popdown(GTK_POPOVER(menus[2]));
  gtk_popover_popdown(GTK_POPOVER(menus[1]));
}

}  // namespace
}  // namespace ticklark::ui
