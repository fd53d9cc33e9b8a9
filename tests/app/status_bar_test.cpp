// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "app/status_bar.hpp"
#include "support/gtk_fixture.hpp"

namespace ticklark::app {
namespace {

class StatusBarClock : public test::GtkTest {};

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

TEST_F(StatusBarClock, ShortTimeHasHoursAndMinutesButNoSeconds) {
  const auto when = Glib::DateTime::create_local(2026, 3, 4, 9, 5, 42.0);
  const std::string time = ShortTime(when);
  EXPECT_NE(time.find("05"), std::string::npos) << time;
  EXPECT_EQ(time.find("42"), std::string::npos) << time;
  const std::string date = ShortDate(when);
  EXPECT_NE(date.find("03"), std::string::npos) << date;
}

}  // namespace
}  // namespace ticklark::app
