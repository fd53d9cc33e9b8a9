// SPDX-License-Identifier: MIT
#include "calc/calc_form.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <glibmm/main.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/window.h>

#include "platform/beep.hpp"
#include "platform/window_placement.hpp"
#include "support/gtk_fixture.hpp"
#include "support/screenshot.hpp"
#include "ui/assets.hpp"
#include "ui/definitions.hpp"
#include "ui/twips.hpp"

// Xlib's macros clash with gtkmm's names: after every gtkmm header.
#include <gdk/x11/gdkx.h>

namespace ticklark::calc {
namespace {

using namespace std::chrono_literals;
using ui::PixelsFromTwips;

class CountingBeeper : public platform::Beeper {
 public:
  void Beep() override { ++beeps; }
  int beeps = 0;
};

// Any window will do as the owner; the splash window's opens in the middle of
// the screen, away from the calculator in the top-left corner without a window
// manager, so that clicks land on the calculator.
class OwnerForm : public ui::Form {
 public:
  explicit OwnerForm(ui::FormServices services) : ui::Form(services, ui::SplashWindowDef()) {}

 protected:
  void BuildControls(ui::FormLayout&) override {}
};

// The calculator over a shown owner window; real X input comes from xdotool.
class CalcWindowTest : public test::GtkTest {
 protected:
  static void SetUpTestSuite() {
    test::GtkTest::SetUpTestSuite();
    static const bool styled = (ui::InstallStyle(), true);
    (void)styled;
  }
  void SetUp() override { m_owner.Show(); }
  void TearDown() override {
    m_calc.Unload();
    m_owner.Unload();
    ui::DestroyUnloadedWindows();
  }

  std::string Text(const char* label) const {
    return dynamic_cast<Gtk::Label&>(*m_calc.Control(label)).get_text();
  }
  std::string Display() const { return Text("lblOutput"); }
  Gtk::Button& Button(const char* name, int index = -1) const {
    return dynamic_cast<Gtk::Button&>(*m_calc.Control(name, index));
  }
  Gtk::Widget* Focus() const { return m_calc.Window()->get_focus(); }
  unsigned long Xid() const {
    return gdk_x11_surface_get_xid(m_calc.Window()->get_surface()->gobj());
  }

  void Xdo(const std::string& arguments) {
    const std::string command = "xdotool " + arguments;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }

  // A mouse click in the middle of a button.
  void Click(const char* name, int index = -1) {
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(Button(name, index).gobj()),
                                          GTK_WIDGET(m_calc.Window()->gobj()), &bounds));
    Xdo("mousemove --sync --window " + std::to_string(Xid()) + " " +
        std::to_string(static_cast<int>(bounds.origin.x + bounds.size.width / 2)) + " " +
        std::to_string(static_cast<int>(bounds.origin.y + bounds.size.height / 2)) + " click 1");
  }

  void ExpectDisplay(const std::string& text) {
    EXPECT_TRUE(test::PumpUntil([&] { return Display() == text; }))
        << "display \"" << Display() << "\", expected \"" << text << "\"";
  }

  // Shows the calculator modally and runs |script| inside the modal loop once
  // the window has the X keyboard focus; then closes it by its close control.
  void OpenAndRun(const std::function<void()>& script) {
    auto watchdog = Glib::signal_timeout().connect(
        [this] {
          ADD_FAILURE() << "the calculator was still open after 20 s";
          m_calc.Unload();
          return false;
        },
        20000);
    Glib::signal_idle().connect_once([this, &script] {
      [&] {
        ASSERT_TRUE(test::PumpUntil([&] { return m_calc.Window()->get_mapped(); }));
        ASSERT_TRUE(test::AwaitActive(*m_calc.Window()));
        script();
      }();
      if (m_calc.Window()) {
        m_calc.Window()->close();
      }
    });
    m_calc.ShowModal(m_owner);
    watchdog.disconnect();
    EXPECT_FALSE(m_calc.IsLoaded());
  }

  ui::LoadedWindows m_loaded;
  platform::X11WindowPlacement m_placement;
  CountingBeeper m_beeper;
  OwnerForm m_owner{{m_loaded, m_placement}};
  CalcForm m_calc{{m_loaded, m_placement}, m_beeper};
};

TEST_F(CalcWindowTest, ControlsStandAsDefinedAndTheFocusButtonIsOutOfSight) {
  EXPECT_EQ(m_calc.Engine(), nullptr);
  m_calc.Show();
  Gtk::Window& window = *m_calc.Window();
  ASSERT_TRUE(test::PumpUntil([&] { return window.get_mapped() && window.get_height() > 0; }));
  EXPECT_NE(m_calc.Engine(), nullptr);
  EXPECT_EQ(window.get_title(), "Calculator");
  EXPECT_FALSE(window.get_resizable());
  // The window is its client area; btnFocusEqual, below it, is never seen.
  EXPECT_EQ(window.get_width(), PixelsFromTwips(3930));
  EXPECT_EQ(window.get_height(), PixelsFromTwips(3330));

  for (const ui::ControlDef& control : ui::CalcWindowDef().controls) {
    SCOPED_TRACE(std::string(control.name) + "(" + std::to_string(control.index) + ")");
    Gtk::Widget* widget = m_calc.Control(control.name, control.index);
    ASSERT_NE(widget, nullptr);
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(widget->gobj(), window.get_child()->gobj(), &bounds));
    EXPECT_EQ(bounds.origin.x, PixelsFromTwips(control.left));
    EXPECT_EQ(bounds.origin.y, PixelsFromTwips(control.top));
    // A caption too wide for its button would make the button grow.
    EXPECT_EQ(bounds.size.width, PixelsFromTwips(control.width));
    EXPECT_EQ(bounds.size.height, PixelsFromTwips(control.height));
    if (auto* button = dynamic_cast<Gtk::Button*>(widget)) {
      EXPECT_EQ(button->get_label().raw(), control.caption);
    }
  }

  Gtk::Button& focusEqual = Button("btnFocusEqual");
  EXPECT_EQ(window.get_default_widget(), &focusEqual);
  EXPECT_EQ(Focus(), &focusEqual);
  EXPECT_TRUE(focusEqual.is_sensitive() && focusEqual.get_focusable() && focusEqual.is_visible());
  test::SaveScreenshot(window, "calc_window");
}

// Buttons clicked by caption (btnFocusEqual by name) after C and MC, and what
// the display and memory indicator then show.
TEST_F(CalcWindowTest, EachButtonRunsItsOwnActionWithItsIndex) {
  const std::vector<std::vector<const char*>> rows = {
      {"1 2 3 4 5 6 7 8 9 0", "1234567890", ""},
      {"7 + 2 =", "9", ""},
      {"7 - 2 =", "5", ""},
      {"7 * 2 btnFocusEqual", "14", ""},
      {"7 / 2 btnFocusEqual", "3.5", ""},
      {"1 . 5 +/-", "-1.5", ""},
      {"1 2 Backspace", "1", ""},
      {"5 + 3 CE 2 =", "7", ""},
      {"5 + 3 C", "0", ""},
      {"5 0 + 1 0 %", "5", ""},
      {"9 sqrt", "3", ""},
      {"4 1/x", "0.25", ""},
      {"5 MS 3 M+ C MR", "8", "M"},
      {"5 MS MC", "5", ""},
  };
  m_calc.Show();
  for (const auto& row : rows) {
    SCOPED_TRACE(row[0]);
    std::istringstream clicks(std::string("C MC ") + row[0]);
    for (std::string click; clicks >> click;) {
      const ui::ControlDef* control = ui::FindControl(ui::CalcWindowDef(), click);
      for (const ui::ControlDef& candidate : ui::CalcWindowDef().controls) {
        const bool button = candidate.kind == ui::ControlKind::kCommandButton;
        control = button && candidate.caption == click ? &candidate : control;
      }
      ASSERT_NE(control, nullptr) << click;
      g_signal_emit_by_name(Button(control->name.data(), control->index).gobj(), "clicked");
    }
    EXPECT_EQ(Display(), row[1]);
    EXPECT_EQ(Text("lblMem"), row[2]);
  }
  EXPECT_EQ(m_beeper.beeps, 0);
}

TEST_F(CalcWindowTest, EnterPerformsEqualsAfterADigitAndAgainAfterThat) {
  OpenAndRun([&] {
    EXPECT_EQ(Focus(), &Button("btnFocusEqual"));
    Xdo("type 12+3");
    Xdo("key Return");
    ExpectDisplay("15");
    Xdo("key Return");
    ExpectDisplay("18");
    Xdo("key space");
    ExpectDisplay("21");
  });
}

// Keys pressed after Escape, then Return, and the display they end with.
TEST_F(CalcWindowTest, MainKeyboardAndKeypadTypeTheSameCharacters) {
  const std::vector<std::pair<const char*, const char*>> rows = {
      {"type 5*4-2/3", "6"},
      {"key KP_5 KP_Multiply KP_4 KP_Subtract KP_2 KP_Divide KP_3", "6"},
      {"type 12+3.5=cC", "15.5"},
      {"key KP_1 KP_2 KP_Add KP_3 KP_Decimal KP_5", "15.5"},
      {"type 50+10%", "55"},
      {"key KP_1 KP_2 KP_3 KP_4 BackSpace", "123"},
  };
  OpenAndRun([&] {
    for (const auto& [keys, display] : rows) {
      SCOPED_TRACE(keys);
      Xdo("key Escape");
      ExpectDisplay("0");
      Xdo(keys);
      Xdo("key Return");
      ExpectDisplay(display);
    }
    Xdo("key KP_Divide KP_7 KP_Enter");
    ExpectDisplay("17.5714285714286");
    EXPECT_EQ(m_beeper.beeps, 0);
  });
}

TEST_F(CalcWindowTest, ClearKeysLeaveTheErrorStateAndKeepTheWindowOpen) {
  OpenAndRun([&] {
    for (const char* key : {"Escape", "Delete", "KP_Delete"}) {
      SCOPED_TRACE(key);
      Xdo("type 1/0");
      Xdo("key Return");
      ExpectDisplay("Cannot divide by zero.");
      Xdo(std::string("key ") + key);
      ExpectDisplay("0");
      Xdo("type 7");
      ExpectDisplay("7");
      EXPECT_TRUE(m_calc.IsVisible());
    }
  });
}

TEST_F(CalcWindowTest, EnterRepeatsAClickedButtonUntilADigitIsTyped) {
  OpenAndRun([&] {
    Xdo("type 81");
    Click("cmdSQRT");
    ExpectDisplay("9");
    EXPECT_EQ(Focus(), &Button("cmdSQRT"));
    Xdo("key Return");
    ExpectDisplay("3");
    Xdo("key space");
    ExpectDisplay("1.73205080756888");
    Xdo("type 4+2");
    Xdo("key Return");
    ExpectDisplay("6");
    EXPECT_EQ(Focus(), &Button("btnFocusEqual"));
  });
}

TEST_F(CalcWindowTest, ThirtySevenDigitsKeepThirtySixAndBeep) {
  OpenAndRun([&] {
    Xdo("type 1234567890123456789012345678901234567");
    ExpectDisplay("123456789012345678901234567890123456");
    EXPECT_TRUE(test::PumpUntil([&] { return m_beeper.beeps == 1; }));
    ASSERT_TRUE(test::AwaitNextFrame(*m_calc.Window()));  // the new text laid out and drawn
    // Drawn smaller, on the one line the display has room for.
    auto& output = dynamic_cast<Gtk::Label&>(*m_calc.Control("lblOutput"));
    EXPECT_EQ(output.get_layout()->get_line_count(), 1);
    test::SaveScreenshot(*m_calc.Window(), "calc_window_full");
  });
}

// Where the ink of the display's text lies, in its own pixels, inside its
// border.
struct Ink {
  int left = -1, right = -1, top = -1, bottom = -1;
  int Width() const { return right - left + 1; }
  int Height() const { return bottom - top + 1; }
};

Ink InkOf(const test::Pixels& pixels) {
  Ink ink;
  for (int y = 2; y < pixels.height - 2; ++y) {
    for (int x = 2; x < pixels.width - 2; ++x) {
      const std::uint32_t rgb = pixels.Rgb(x, y);
      if ((rgb >> 16) + (rgb >> 8 & 0xFF) + (rgb & 0xFF) >= 3 * 0x80) {
        continue;
      }
      ink.left = ink.left < 0 ? x : std::min(ink.left, x);
      ink.right = std::max(ink.right, x);
      ink.top = ink.top < 0 ? y : std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

// Every length a typed number can have, and each message: one line, whole,
// against the right edge, at the dialog font's size where that fits and else
// at the largest size that does.
TEST_F(CalcWindowTest, DisplayShowsEveryTextOfUpTo36CharactersOnOneLineWhole) {
  m_calc.Show();
  auto& output = dynamic_cast<Gtk::Label&>(*m_calc.Control("lblOutput"));
  ASSERT_TRUE(test::PumpUntil([&] { return output.get_mapped() && output.get_width() > 0; }));
  const auto click = [&](const char* name, int index = -1) {
    g_signal_emit_by_name(Button(name, index).gobj(), "clicked");
  };
  const int padding = 5;  // the display's own, inside its one-pixel border
  int lineHeight = 0;
  int digitHeight = 0;
  const auto check = [&](const std::string& text) {
    SCOPED_TRACE("\"" + text + "\"");
    ASSERT_EQ(Display(), text);
    // Drawn once the new text has been laid out.
    test::Pixels pixels;
    ASSERT_TRUE(test::PumpUntil([&] {
      pixels = test::RenderPixels(output);
      return pixels.width > 0;
    }));
    const Ink ink = InkOf(pixels);
    const int room = pixels.width - 2 - 2 * padding;
    int fullWidth = 0;
    int fullHeight = 0;
    output.create_pango_layout(text)->get_pixel_size(fullWidth, fullHeight);
    lineHeight = std::max(lineHeight, fullHeight);
    EXPECT_GE(ink.left, 1 + padding - 1) << "cut on the left";
    EXPECT_LE(pixels.width - 1 - ink.right, 1 + padding + 2) << "not against the right edge";
    EXPECT_GE(pixels.width - 1 - ink.right, 1 + padding - 1);
    EXPECT_LT(ink.Height(), lineHeight) << "more than one line";
    EXPECT_EQ(output.get_layout()->get_line_count(), 1);
    if (fullWidth <= room) {
      EXPECT_EQ(output.get_attributes().to_string(), "") << "shrunk though it fits";
    } else {
      EXPECT_GE(ink.Width(), room * 8 / 10) << "smaller than it needs to be";
    }
    if (text.find_first_not_of("0123456789") == std::string::npos) {
      digitHeight = digitHeight == 0 ? ink.Height() : digitHeight;
      if (fullWidth <= room) {
        EXPECT_EQ(ink.Height(), digitHeight);
      }
    }
    if (text.size() > 30 || text.back() == '.') {
      test::SaveScreenshot(output, "calc_display_" + std::to_string(text.size()) +
                                       (text.back() == '.' ? "_message" : ""));
    }
  };

  std::string typed;
  for (int length = 1; length <= 36; ++length) {
    const int digit = length % 10;
    click("cmdNum", digit);
    typed += static_cast<char>('0' + digit);
    check(typed);
  }
  click("cmdC");
  click("cmdNum", 1);
  click("cmdOP", 4);
  click("cmdNum", 0);
  click("cmdEqual");
  check("Cannot divide by zero.");
  click("cmdC");
  click("cmdNum", 1);
  click("cmdPlusMinus");
  click("cmdSQRT");
  check("Invalid input for function.");
  click("cmdC");
  for (int i = 0; i < 36; ++i) {
    click("cmdNum", 9);
  }
  click("cmdOP", 3);
  for (int i = 0; i < 12 && Display().front() != 'V'; ++i) {
    click("cmdEqual");  // squares, then multiplies by 10^36 again and again
  }
  check("Value is over max calculation limit.");
}

TEST_F(CalcWindowTest, MemoryAndErrorStateOutlastClosingTheWindow) {
  OpenAndRun([&] {
    Xdo("type 5");
    Click("cmdMEM", 2);
    EXPECT_TRUE(test::PumpUntil([&] { return Text("lblMem") == "M"; }));
  });
  OpenAndRun([&] {
    EXPECT_EQ(Display(), "0");
    EXPECT_EQ(Text("lblMem"), "");
    Click("cmdMEM", 1);
    ExpectDisplay("5");
    Xdo("type /0");
    Xdo("key Return");
    ExpectDisplay("Cannot divide by zero.");
  });
  OpenAndRun([&] {
    EXPECT_EQ(Display(), "0");
    Xdo("type 5");
    EXPECT_TRUE(test::PumpUntil([&] { return m_beeper.beeps == 1; }));
    EXPECT_EQ(Display(), "0");
    Xdo("key Escape");
    Xdo("type 5");
    ExpectDisplay("5");
  });
}

}  // namespace
}  // namespace ticklark::calc
