// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <string>

#include <giomm/settings.h>
#include <glibmm/datetime.h>
#include <gtkmm/box.h>
#include <gtkmm/label.h>

namespace ticklark::app {

// Which clock the user reads: the locale's habit, or one the user chose.
enum class ClockHours { kLocale, k24, k12 };

// The main window's status bar: a text panel showing "Status", then the date
// and the time in the user's short formats, kept current to the minute
// (midnight included). It is docked: it spans the window and keeps its height
// whatever the font, cutting off what does not fit rather than growing.
class StatusBar : public Gtk::Box {
 public:
  using Clock = std::function<Glib::DateTime()>;

  // Heights and widths in pixels.
  StatusBar(int height, int panelWidth, Clock clock = {});
  ~StatusBar() override;

  // Shows the clock's present date and time and plans the next update for the
  // start of the next minute.
  void Tick();

  const Gtk::Label& TextPanel() const { return m_text; }
  const Gtk::Label& DatePanel() const { return m_date; }
  const Gtk::Label& TimePanel() const { return m_time; }

 protected:
  Gtk::SizeRequestMode get_request_mode_vfunc() const override;
  void measure_vfunc(Gtk::Orientation orientation, int for_size, int& minimum, int& natural,
                     int& minimum_baseline, int& natural_baseline) const override;
  void size_allocate_vfunc(int width, int height, int baseline) override;

 private:
  int m_height;
  int m_panelWidth;
  Clock m_clock;
  Gtk::Label m_text;
  Gtk::Label m_date;
  Gtk::Label m_time;
  Glib::RefPtr<Gio::Settings> m_desktopClock;  // GNOME's interface settings, when installed
  sigc::connection m_timer;
};

// The user's short date for |when|: the locale's date representation.
Glib::ustring ShortDate(const Glib::DateTime& when);

// The user's short time for |when|: hours and minutes in the locale's order
// and marks, on the 12- or 24-hour clock that the user has chosen on the
// desktop (GNOME's clock format) or else that the locale uses.
Glib::ustring ShortTime(const Glib::DateTime& when);
Glib::ustring ShortTime(const Glib::DateTime& when, ClockHours hours);

// The strftime-style format behind ShortTime for the current locale.
std::string ShortTimeFormat(ClockHours hours);

// The clock the user has chosen on the desktop, or kLocale when none is set.
ClockHours DesktopClockHours();

}  // namespace ticklark::app
