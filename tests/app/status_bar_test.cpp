// SPDX-License-Identifier: MIT
#include <cctype>
#include <clocale>
#include <string>

#include <giomm/settings.h>
#include <giomm/settingsschemasource.h>
#include <gtest/gtest.h>
#include <gtkmm/cssprovider.h>
#include <gtkmm/stylecontext.h>
#include <gtkmm/window.h>

#include "app/status_bar.hpp"
#include "support/gtk_fixture.hpp"
#include "ui/assets.hpp"
#include "ui/twips.hpp"

namespace ticklark::app {
namespace {

class StatusBarClock : public test::GtkTest {
 protected:
  static void SetUpTestSuite() {
    test::GtkTest::SetUpTestSuite();
    ui::InstallStyle();  // the panels' bevels and margins, as the program has them
  }
};

TEST_F(StatusBarClock, ShowsStatusDateAndTimeAndFollowsTheClockPastMidnight) {
  auto now = Glib::DateTime::create_local(2026, 12, 7, 23, 59, 30.0);
  StatusBar bar(18, 96, [&] { return now; });
  EXPECT_EQ(bar.TextPanel().get_text(), "Status");
  EXPECT_EQ(bar.DatePanel().get_text(), ShortDate(now));
  EXPECT_EQ(bar.TimePanel().get_text(), ShortTime(now));
  const Glib::ustring before = bar.DatePanel().get_text();

  now = Glib::DateTime::create_local(2026, 12, 8, 0, 0, 1.0);
  bar.Tick();
  EXPECT_NE(bar.DatePanel().get_text(), before);
  EXPECT_EQ(bar.DatePanel().get_text(), ShortDate(now));
  EXPECT_EQ(bar.TimePanel().get_text(), ShortTime(now));
}

// The bar is 270 twips high whatever the font, and the date and time panels
// keep their 1440 twips at the right end.
TEST_F(StatusBarClock, KeepsItsDesignedHeightWithTheDialogFontAndALargerOne) {
  const int height = ui::PixelsFromTwips(270);
  const int panel = ui::PixelsFromTwips(1440);
  ASSERT_EQ(height, 18);
  for (const char* font : {"", "window { font-size: 30px; }"}) {
    SCOPED_TRACE(font);
    Gtk::Window window;
    auto provider = Gtk::CssProvider::create();
    provider->load_from_data(font);
    window.get_style_context()->add_provider(provider, GTK_STYLE_PROVIDER_PRIORITY_USER);
    auto* bar = Gtk::make_managed<StatusBar>(height, panel);
    bar->set_valign(Gtk::Align::END);
    window.set_child(*bar);
    window.set_default_size(700, 100);
    window.present();
    ASSERT_TRUE(
        test::PumpUntil([&] { return window.get_width() == 700 && bar->get_height() > 0; }));
    EXPECT_EQ(bar->get_height(), height);
    graphene_rect_t time;
    auto* timePanel = GTK_WIDGET(const_cast<GtkLabel*>(bar->TimePanel().gobj()));
    ASSERT_TRUE(gtk_widget_compute_bounds(timePanel, GTK_WIDGET(bar->gobj()), &time));
    EXPECT_EQ(time.origin.x + time.size.width, 700 - 1);  // less its margin
    EXPECT_EQ(time.size.width, panel - 2);
  }
}

// A window narrower than the three panels is not widened for them: the bar
// asks for no width, and its panels keep their places and widths past the
// window's edge, where they are cut.
TEST_F(StatusBarClock, AsksForNoWidthAndIsCutAtTheEdgeOfANarrowWindow) {
  const int panel = ui::PixelsFromTwips(1440);
  Gtk::Window window;
  auto* bar = Gtk::make_managed<StatusBar>(18, panel);
  window.set_child(*bar);
  int minimum = -1;
  int natural = 0;
  int ignored = 0;
  bar->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, ignored, ignored);
  EXPECT_EQ(minimum, 0);
  window.set_default_size(100, 18);
  window.present();
  ASSERT_TRUE(test::PumpUntil([&] { return window.get_width() == 100 && bar->get_width() > 0; }));
  EXPECT_EQ(bar->get_width(), 100);
  const Gtk::Label* panels[] = {&bar->TextPanel(), &bar->DatePanel(), &bar->TimePanel()};
  for (int i = 0; i < 3; ++i) {
    graphene_rect_t bounds;
    auto* widget = GTK_WIDGET(const_cast<GtkLabel*>(panels[i]->gobj()));
    ASSERT_TRUE(gtk_widget_compute_bounds(widget, GTK_WIDGET(bar->gobj()), &bounds));
    EXPECT_EQ(bounds.origin.x, i * panel + 1) << i;  // after its margin
    EXPECT_EQ(bounds.size.width, panel - 2) << i;
  }
}

// ---- the short date and time in the user's locale ------------------------------

// Runs the test in |locale| for dates and times (and the text they come in).
class InLocale {
 public:
  explicit InLocale(const char* locale)
      : m_time(std::setlocale(LC_TIME, nullptr)), m_ctype(std::setlocale(LC_CTYPE, nullptr)) {
    m_ok = std::setlocale(LC_TIME, locale) && std::setlocale(LC_CTYPE, locale);
  }
  ~InLocale() {
    std::setlocale(LC_TIME, m_time.c_str());
    std::setlocale(LC_CTYPE, m_ctype.c_str());
  }
  bool Ok() const { return m_ok; }

 private:
  std::string m_time;
  std::string m_ctype;
  bool m_ok = false;
};

struct LocaleCase {
  const char* locale;
  ClockHours hours;
  const char* morning;    // 09:05:42
  const char* afternoon;  // 21:05:42
  const char* date;       // 4 March 2026
};

void PrintTo(const LocaleCase& c, std::ostream* out) {
  *out << c.locale << " " << static_cast<int>(c.hours);
}

class ShortDateAndTime : public test::GtkTest, public ::testing::WithParamInterface<LocaleCase> {};

TEST_P(ShortDateAndTime, HoursAndMinutesOnTheChosenClockAndTheLocalesDate) {
  const LocaleCase& c = GetParam();
  InLocale locale(c.locale);
  if (!locale.Ok()) {
    GTEST_SKIP() << c.locale << " is not generated on this machine (scripts/install-deps does it)";
  }
  const auto morning = Glib::DateTime::create_local(2026, 3, 4, 9, 5, 42.0);
  const auto afternoon = Glib::DateTime::create_local(2026, 3, 4, 21, 5, 42.0);
  EXPECT_EQ(ShortTime(morning, c.hours).raw(), c.morning);
  EXPECT_EQ(ShortTime(afternoon, c.hours).raw(), c.afternoon);
  EXPECT_EQ(ShortDate(morning).raw(), c.date);
}

using H = ClockHours;
INSTANTIATE_TEST_SUITE_P(
    Locales, ShortDateAndTime,
    ::testing::Values(
        LocaleCase{"C", H::kLocale, "09:05", "21:05", "03/04/26"},
        LocaleCase{"C", H::k12, "09:05 AM", "09:05 PM", "03/04/26"},
        LocaleCase{"en_US.UTF-8", H::kLocale, "09:05 AM", "09:05 PM", "03/04/2026"},
        LocaleCase{"en_US.UTF-8", H::k24, "09:05", "21:05", "03/04/2026"},
        LocaleCase{"de_DE.UTF-8", H::kLocale, "09:05", "21:05", "04.03.2026"},
        LocaleCase{"de_DE.UTF-8", H::k12, "09:05 AM", "09:05 PM", "04.03.2026"},
        LocaleCase{"ja_JP.UTF-8", H::kLocale, "09時05分", "21時05分", "2026年03月04日"},
        LocaleCase{"ja_JP.UTF-8", H::k12, "午前09時05分", "午後09時05分", "2026年03月04日"}),
    [](const auto& param_info) {
      std::string name = std::string(param_info.param.locale).substr(0, 5) + "_" +
                         std::to_string(static_cast<int>(param_info.param.hours));
      for (char& ch : name) {
        ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      }
      return name;
    });

// The clock format chosen on a GNOME desktop wins over the locale's habit,
// and the bar follows a change of it at once.
TEST_F(StatusBarClock, FollowsTheClockFormatChosenOnTheDesktop) {
  auto source = Gio::SettingsSchemaSource::get_default();
  if (!source || !source->lookup("org.gnome.desktop.interface", true)) {
    GTEST_SKIP() << "the desktop's interface settings are not installed";
  }
  InLocale locale("C");
  auto settings = Gio::Settings::create("org.gnome.desktop.interface");
  settings->reset("clock-format");
  EXPECT_EQ(DesktopClockHours(), ClockHours::kLocale) << "the default is no choice";
  const auto afternoon = Glib::DateTime::create_local(2026, 3, 4, 21, 5, 42.0);
  StatusBar bar(18, 96, [&] { return afternoon; });
  EXPECT_EQ(bar.TimePanel().get_text(), "21:05");
  settings->set_string("clock-format", "12h");
  EXPECT_TRUE(test::PumpUntil([&] { return bar.TimePanel().get_text() == "09:05 PM"; }))
      << bar.TimePanel().get_text();
  EXPECT_EQ(DesktopClockHours(), ClockHours::k12);
  settings->set_string("clock-format", "24h");
  EXPECT_TRUE(test::PumpUntil([&] { return bar.TimePanel().get_text() == "21:05"; }));
  settings->reset("clock-format");
}

}  // namespace
}  // namespace ticklark::app
