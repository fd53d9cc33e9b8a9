// SPDX-License-Identifier: MIT
#include "web/browsing/find_bar.hpp"

#include <gtk/gtk.h>
#include <gtkmm/overlay.h>
#include <gtkmm/root.h>
#include <webkit/webkit.h>

namespace ticklark::web {

namespace {

// Counting beyond this many matches says "more than".
constexpr guint kMaxMatches = 1000;
constexpr guint32 kOptions = WEBKIT_FIND_OPTIONS_CASE_INSENSITIVE | WEBKIT_FIND_OPTIONS_WRAP_AROUND;

void OnCountedSignal(WebKitFindController*, guint count, gpointer self) {
  static_cast<FindBar*>(self)->OnCounted(count);
}

void OnFoundSignal(WebKitFindController*, guint, gpointer self) {
  static_cast<FindBar*>(self)->OnFound();
}

void OnNotFoundSignal(WebKitFindController*, gpointer self) {
  static_cast<FindBar*>(self)->OnNotFound();
}

Gtk::Button& IconButton(Gtk::Button& button, const char* icon, const char* tooltip) {
  button.set_icon_name(icon);
  button.set_tooltip_text(tooltip);
  button.set_has_frame(false);
  button.set_focus_on_click(false);
  return button;
}

}  // namespace

FindBar::FindBar(WebKitWebView* view, Gtk::Overlay& frame)
    : m_view(view),
      m_controller(webkit_web_view_get_find_controller(view)),
      m_frame(frame),
      m_box(Gtk::Orientation::HORIZONTAL, 2),
      m_handlers(m_controller) {
  m_box.add_css_class("osd");
  m_box.set_halign(Gtk::Align::END);
  m_box.set_valign(Gtk::Align::END);
  m_box.set_margin(4);
  m_entry.set_placeholder_text("Find in page");
  // The placeholder is no name for a screen reader.
  gtk_accessible_update_property(GTK_ACCESSIBLE(m_entry.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Find in page", -1);
  m_entry.set_width_chars(10);
  m_entry.set_max_width_chars(16);
  m_matches.set_width_chars(9);
  m_matches.set_margin_start(4);
  m_matches.set_margin_end(4);
  m_box.append(m_entry);
  m_box.append(m_matches);
  m_box.append(IconButton(m_previous, "go-up-symbolic", "Previous match (Shift+Enter)"));
  m_box.append(IconButton(m_next, "go-down-symbolic", "Next match (Enter)"));
  m_box.append(IconButton(m_close, "window-close-symbolic", "Close (Escape)"));
  m_box.set_visible(false);
  m_frame.add_overlay(m_box);

  m_connections = {
      m_entry.signal_changed().connect(sigc::mem_fun(*this, &FindBar::on_entry_changed)),
      m_previous.signal_clicked().connect(sigc::mem_fun(*this, &FindBar::Previous)),
      m_next.signal_clicked().connect(sigc::mem_fun(*this, &FindBar::Next)),
      m_close.signal_clicked().connect(sigc::mem_fun(*this, &FindBar::Close)),
  };
  m_handlers.Connect("counted-matches", G_CALLBACK(OnCountedSignal), this);
  m_handlers.Connect("found-text", G_CALLBACK(OnFoundSignal), this);
  m_handlers.Connect("failed-to-find-text", G_CALLBACK(OnNotFoundSignal), this);
}

FindBar::~FindBar() {
  for (auto& connection : m_connections) {
    connection.disconnect();
  }
  m_handlers.DisconnectAll();
  m_frame.remove_overlay(m_box);
}

bool FindBar::Open() {
  if (!m_box.get_visible()) {
    // Measured while shown: a hidden widget asks for no room at all.
    m_box.set_visible(true);
    int minWidth = 0;
    int minHeight = 0;
    int natural = 0;
    int baseline = 0;
    m_box.measure(Gtk::Orientation::HORIZONTAL, -1, minWidth, natural, baseline, baseline);
    m_box.measure(Gtk::Orientation::VERTICAL, minWidth, minHeight, natural, baseline, baseline);
    if (minWidth > m_frame.get_width() || minHeight > m_frame.get_height()) {
      m_box.set_visible(false);
      return false;
    }
    if (!m_entry.get_text().empty()) {
      Search();
    }
  }
  m_entry.grab_focus();
  m_entry.select_region(0, -1);
  return true;
}

void FindBar::Close() {
  if (!m_box.get_visible()) {
    return;
  }
  webkit_find_controller_search_finish(m_controller);
  m_box.set_visible(false);
  gtk_widget_grab_focus(GTK_WIDGET(m_view));
}

bool FindBar::IsOpen() const {
  return m_box.get_visible();
}

bool FindBar::HasFocus() const {
  GtkWidget* box = GTK_WIDGET(m_box.gobj());
  GtkRoot* root = gtk_widget_get_root(box);
  GtkWidget* focus = root ? gtk_root_get_focus(root) : nullptr;
  return focus && (focus == box || gtk_widget_is_ancestor(focus, box));
}

void FindBar::Next() {
  if (m_entry.get_text().empty()) {
    return;
  }
  if (m_counted && m_total > 0) {
    m_current = m_total > kMaxMatches ? m_current + 1 : m_current % m_total + 1;
  }
  webkit_find_controller_search_next(m_controller);
  ShowMatches();
}

void FindBar::Previous() {
  if (m_entry.get_text().empty()) {
    return;
  }
  if (m_counted && m_total > 0 && m_total <= kMaxMatches) {
    m_current = m_current <= 1 ? m_total : m_current - 1;
  }
  webkit_find_controller_search_previous(m_controller);
  ShowMatches();
}

void FindBar::Refresh() {
  if (IsOpen() && !m_entry.get_text().empty()) {
    Search();
  }
}

void FindBar::on_entry_changed() {
  Search();
}

void FindBar::Search() {
  m_total = 0;
  m_current = 0;
  m_counted = false;
  m_entry.remove_css_class("error");
  const std::string text = m_entry.get_text();
  if (text.empty()) {
    webkit_find_controller_search_finish(m_controller);
  } else {
    webkit_find_controller_count_matches(m_controller, text.c_str(), kOptions, kMaxMatches);
    webkit_find_controller_search(m_controller, text.c_str(), kOptions, kMaxMatches);
  }
  ShowMatches();
}

void FindBar::OnCounted(unsigned count) {
  m_counted = true;
  m_total = count;
  if (m_total > 0 && m_current == 0) {
    m_current = 1;
  }
  ShowMatches();
}

void FindBar::OnFound() {
  if (m_current == 0) {
    m_current = 1;
  }
  ShowMatches();
}

void FindBar::OnNotFound() {
  m_counted = true;
  m_total = 0;
  m_current = 0;
  ShowMatches();
}

void FindBar::ShowMatches() {
  if (m_entry.get_text().empty() || !m_counted) {
    m_matches.set_text("");
  } else if (m_total == 0) {
    m_matches.set_text("No matches");
  } else if (m_total > kMaxMatches) {
    m_matches.set_text(std::to_string(m_current) + " of " + std::to_string(kMaxMatches) + "+");
  } else {
    m_matches.set_text(std::to_string(m_current) + " of " + std::to_string(m_total));
  }
  if (m_counted && m_total == 0 && !m_entry.get_text().empty()) {
    m_entry.add_css_class("error");
  }
}

}  // namespace ticklark::web
