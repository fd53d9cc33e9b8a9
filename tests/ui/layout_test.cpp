// SPDX-License-Identifier: MIT
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
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
    test::PumpFor(std::chrono::milliseconds(100));
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
  test::PumpFor(std::chrono::milliseconds(100));
  layout->FocusFirst();
  EXPECT_EQ(window.get_focus(), layout->Control("cmdWB5Back"));
}

}  // namespace
}  // namespace ticklark::ui
