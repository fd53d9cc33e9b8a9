// SPDX-License-Identifier: MIT
#include "app/status_bar.hpp"

#include <langinfo.h>

#include <algorithm>
#include <cctype>
#include <string>

#include <giomm/settingsschemasource.h>
#include <glibmm/main.h>

namespace ticklark::app {

namespace {

constexpr const char* kInterfaceSchema = "org.gnome.desktop.interface";
constexpr const char* kClockFormatKey = "clock-format";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

void TrimSpaces(std::string& text) {
  const auto first = text.find_first_not_of(' ');
  const auto last = text.find_last_not_of(' ');
  text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string LocaleTwelveHourFormat() {
  std::string format = nl_langinfo(T_FMT_AMPM);
  return format.empty() ? "%I:%M:%S %p" : format;
}

// The locale's time format with its shorthands spelt out.
std::string Expanded(std::string format) {
  ReplaceAll(format, "%r", LocaleTwelveHourFormat());
  ReplaceAll(format, "%T", "%H:%M:%S");
  ReplaceAll(format, "%R", "%H:%M");
  return format;
}

bool UsesTwelveHours(const std::string& format) {
  return format.find("%I") != std::string::npos || format.find("%l") != std::string::npos ||
         format.find("%OI") != std::string::npos;
}

// "%I:%M:%S %p" -> "%H:%M:%S"; "%p%I時%M分%S秒" -> "%H時%M分%S秒".
std::string OnTwentyFourHours(std::string format) {
  for (const char* mark : {" %p", "%p ", "%p", " %P", "%P ", "%P"}) {
    ReplaceAll(format, mark, "");
  }
  ReplaceAll(format, "%I", "%H");
  ReplaceAll(format, "%l", "%k");
  return format;
}

// Takes the seconds out: with the separator before them ("%H:%M:%S" ->
// "%H:%M"), or with their unit after them ("%H時%M分%S秒" -> "%H時%M分").
std::string WithoutSeconds(std::string format) {
  std::size_t at = format.find("%S");
  std::size_t length = 2;
  if (const auto alternative = format.find("%OS"); alternative != std::string::npos) {
    at = alternative;
    length = 3;
  }
  if (at == std::string::npos) {
    return format;
  }
  // A unit is a word (or any non-ASCII character), a separator punctuation.
  const auto isUnit = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x80 || std::isalpha(byte) != 0;
  };
  std::size_t end = at + length;
  std::size_t start = at;
  if (end < format.size() && isUnit(format[end])) {
    while (end < format.size() && format[end] != ' ' && format[end] != '%') {
      ++end;
    }
    while (start > 0 && format[start - 1] == ' ') {
      --start;
    }
  } else {
    while (start > 0 && std::ispunct(static_cast<unsigned char>(format[start - 1])) != 0 &&
           format[start - 1] != '%' && (start < 2 || format[start - 2] != '%')) {
      --start;
    }
  }
  format.erase(start, end - start);
  TrimSpaces(format);
  return format;
}

Glib::RefPtr<Gio::Settings> DesktopInterfaceSettings() {
  auto source = Gio::SettingsSchemaSource::get_default();
  auto schema =
      source ? source->lookup(kInterfaceSchema, true) : Glib::RefPtr<Gio::SettingsSchema>();
  if (!schema || !schema->has_key(kClockFormatKey)) {
    return {};
  }
  return Gio::Settings::create(kInterfaceSchema);
}

// Only a clock format the user has set counts: the schema's default says
// nothing about the user's habit.
ClockHours ClockHoursOf(const Glib::RefPtr<Gio::Settings>& settings) {
  if (!settings) {
    return ClockHours::kLocale;
  }
  Glib::VariantBase chosen;
  if (!settings->get_user_value(kClockFormatKey, chosen)) {
    return ClockHours::kLocale;
  }
  const Glib::ustring value = settings->get_string(kClockFormatKey);
  return value == "12h" ? ClockHours::k12 : value == "24h" ? ClockHours::k24 : ClockHours::kLocale;
}

void MakePanel(Gtk::Label& label) {
  label.add_css_class("tl-statuspanel");
  label.set_xalign(0.0f);
  label.set_ellipsize(Pango::EllipsizeMode::END);
  label.set_single_line_mode(true);
}

}  // namespace

std::string ShortTimeFormat(ClockHours hours) {
  std::string format = Expanded(nl_langinfo(T_FMT));
  if (format.empty()) {
    format = "%H:%M:%S";
  }
  if (hours == ClockHours::k24 && UsesTwelveHours(format)) {
    format = OnTwentyFourHours(format);
  } else if (hours == ClockHours::k12 && !UsesTwelveHours(format)) {
    format = Expanded(LocaleTwelveHourFormat());
  }
  return WithoutSeconds(format);
}

Glib::ustring ShortDate(const Glib::DateTime& when) {
  return when.format("%x");
}

Glib::ustring ShortTime(const Glib::DateTime& when, ClockHours hours) {
  std::string format = ShortTimeFormat(hours);
  // A locale without morning and afternoon marks still says which it is on a
  // 12-hour clock.
  if (*nl_langinfo(AM_STR) == '\0') {
    ReplaceAll(format, "%p", when.get_hour() < 12 ? "AM" : "PM");
  }
  return when.format(format);
}

Glib::ustring ShortTime(const Glib::DateTime& when) {
  return ShortTime(when, DesktopClockHours());
}

ClockHours DesktopClockHours() {
  return ClockHoursOf(DesktopInterfaceSettings());
}

StatusBar::StatusBar(int height, int panelWidth, Clock clock)
    : Glib::ObjectBase("TicklarkStatusBar"),
      Gtk::Box(Gtk::Orientation::HORIZONTAL),
      m_height(height),
      m_panelWidth(panelWidth),
      m_clock(clock ? std::move(clock) : [] { return Glib::DateTime::create_now_local(); }),
      m_text("Status"),
      m_desktopClock(DesktopInterfaceSettings()) {
  // Our own measure and allocate, not the box's: the bar is as high as
  // designed, and the panels are cut at its edges.
  set_layout_manager({});
  set_overflow(Gtk::Overflow::HIDDEN);
  add_css_class("tl-statusbar");
  for (Gtk::Label* panel : {&m_text, &m_date, &m_time}) {
    MakePanel(*panel);
    append(*panel);
  }
  if (m_desktopClock) {
    m_desktopClock->signal_changed(kClockFormatKey).connect([this](const Glib::ustring&) {
      Tick();
    });
  }
  Tick();
}

StatusBar::~StatusBar() {
  m_timer.disconnect();
}

Gtk::SizeRequestMode StatusBar::get_request_mode_vfunc() const {
  return Gtk::SizeRequestMode::CONSTANT_SIZE;
}

void StatusBar::measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural,
                              int& minimum_baseline, int& natural_baseline) const {
  // The bar asks for no width of its own: a window may be narrower than its
  // panels, which are then cut at the window's edge.
  if (orientation == Gtk::Orientation::HORIZONTAL) {
    minimum = 0;
    natural = 3 * m_panelWidth;
  } else {
    minimum = natural = m_height;
  }
  minimum_baseline = natural_baseline = -1;
}

void StatusBar::size_allocate_vfunc(int width, int height, int) {
  // One pixel of the bar's own edge along the top, then the panels: the
  // text panel takes what the date and the time leave, and never less than
  // either; on a bar narrower than that the panels run on past its right
  // edge, where they are cut.
  const int top = 1;
  const int room = std::max(height - top, 0);
  const int span = std::max(width, 3 * m_panelWidth);
  const int panelX[] = {0, span - 2 * m_panelWidth, span - m_panelWidth};
  const int panelWidths[] = {span - 2 * m_panelWidth, m_panelWidth, m_panelWidth};
  Gtk::Label* panels[] = {&m_text, &m_date, &m_time};
  for (int i = 0; i < 3; ++i) {
    int minHeight = 0;
    int natHeight = 0;
    int minWidth = 0;
    int natWidth = 0;
    int ignored = 0;
    panels[i]->measure(Gtk::Orientation::HORIZONTAL, -1, minWidth, natWidth, ignored, ignored);
    const int panelWidth = std::max(panelWidths[i], minWidth);
    panels[i]->measure(Gtk::Orientation::VERTICAL, panelWidth, minHeight, natHeight, ignored,
                       ignored);
    // A font too tall for the bar is centred on it and cut at both edges.
    const int panelHeight = std::max(room, minHeight);
    panels[i]->size_allocate(
        Gtk::Allocation(panelX[i], top + (room - panelHeight) / 2, panelWidth, panelHeight), -1);
  }
}

void StatusBar::Tick() {
  const Glib::DateTime now = m_clock();
  m_date.set_text(ShortDate(now));
  m_time.set_text(ShortTime(now, ClockHoursOf(m_desktopClock)));
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
