// SPDX-License-Identifier: MIT
#include "app/status_bar.hpp"

#include <langinfo.h>

#include <string>

#include <glibmm/main.h>

namespace ticklark::app {

namespace {

// The locale's time format without its seconds: "%H:%M:%S" -> "%H:%M",
// "%I:%M:%S %p" -> "%I:%M %p".
std::string ShortTimeFormat() {
  std::string format = nl_langinfo(T_FMT);
  if (format.empty()) {
    return "%H:%M";
  }
  for (const char* seconds : {":%S", ".%S", "%S"}) {
    if (const auto at = format.find(seconds); at != std::string::npos) {
      format.erase(at, std::char_traits<char>::length(seconds));
      break;
    }
  }
  if (format == "%T") {
    format = "%H:%M";
  }
  return format;
}

void MakePanel(Gtk::Label& label, int width) {
  label.add_css_class("tl-statuspanel");
  label.set_xalign(0.0f);
  label.set_ellipsize(Pango::EllipsizeMode::END);
  label.set_single_line_mode(true);
  if (width > 0) {
    label.set_size_request(width, -1);
  } else {
    label.set_hexpand(true);
  }
}

}  // namespace

Glib::ustring ShortDate(const Glib::DateTime& when) {
  return when.format("%x");
}

Glib::ustring ShortTime(const Glib::DateTime& when) {
  static const std::string format = ShortTimeFormat();
  return when.format(format);
}

StatusBar::StatusBar(int height, int panelWidth, Clock clock)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL),
      m_clock(clock ? std::move(clock) : [] { return Glib::DateTime::create_now_local(); }),
      m_text("Status") {
  add_css_class("tl-statusbar");
  set_size_request(-1, height);
  // The text panel takes what the date and time leave, never less than them.
  MakePanel(m_text, 0);
  m_text.set_size_request(panelWidth, -1);
  MakePanel(m_date, panelWidth);
  MakePanel(m_time, panelWidth);
  append(m_text);
  append(m_date);
  append(m_time);
  Tick();
}

StatusBar::~StatusBar() {
  m_timer.disconnect();
}

void StatusBar::Tick() {
  const Glib::DateTime now = m_clock();
  m_date.set_text(ShortDate(now));
  m_time.set_text(ShortTime(now));
  m_timer.disconnect();
  // Wake at the start of the next minute of the real clock.
  const Glib::DateTime real = Glib::DateTime::create_now_local();
  const double intoMinute = real.get_seconds();
  const auto wait = static_cast<unsigned>((60.0 - intoMinute) * 1000.0) + 50;
  m_timer = Glib::signal_timeout().connect(
      [this] {
        Tick();
        return false;
      },
      wait);
}

}  // namespace ticklark::app
