// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

#include <glibmm/datetime.h>
#include <gtkmm/box.h>
#include <gtkmm/label.h>

namespace ticklark::app {

// The main window's status bar: a text panel showing "Status", then the date
// and the time in the user's short formats, kept current to the minute
// (midnight included). It is docked: it spans the window and keeps its height.
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

 private:
  Clock m_clock;
  Gtk::Label m_text;
  Gtk::Label m_date;
  Gtk::Label m_time;
  sigc::connection m_timer;
};

// The user's short date and short time for |when|: the locale's date
// representation, and its time representation without the seconds.
Glib::ustring ShortDate(const Glib::DateTime& when);
Glib::ustring ShortTime(const Glib::DateTime& when);

}  // namespace ticklark::app
