// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <sigc++/connection.h>

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitFindController WebKitFindController;

namespace Gtk {
class Overlay;
}

#include "platform/gobject_ptr.hpp"

namespace ticklark::web {

// Find in page: a small bar over the bottom edge of a pane with the text to
// find, the previous and next buttons and "n of m" matches. Case does not
// matter; the search wraps around at either end of the page.
class FindBar {
 public:
  FindBar(WebKitWebView* view, Gtk::Overlay& frame);
  ~FindBar();

  FindBar(const FindBar&) = delete;
  FindBar& operator=(const FindBar&) = delete;

  // Shows the bar with the focus in its text, all of it selected. Returns
  // false, leaving the bar closed, when the pane is too small to hold it.
  bool Open();
  // Hides the bar, takes the highlight off the page and gives the page the focus.
  void Close();
  bool IsOpen() const;
  // The focus is in the bar.
  bool HasFocus() const;

  void Next();
  void Previous();
  // Searches again for the text in the bar (the page changed).
  void Refresh();

  // "2 of 5", "No matches", or empty while there is nothing to find.
  std::string MatchText() const { return m_matches.get_text(); }
  Gtk::Widget& Widget() { return m_box; }

  // For the find controller's signal trampolines.
  void OnCounted(unsigned count);
  void OnFound();
  void OnNotFound();

 private:
  void on_entry_changed();
  void Search();
  void ShowMatches();

  WebKitWebView* m_view;
  WebKitFindController* m_controller;
  Gtk::Overlay& m_frame;
  Gtk::Box m_box;
  Gtk::Entry m_entry;
  Gtk::Label m_matches;
  Gtk::Button m_previous;
  Gtk::Button m_next;
  Gtk::Button m_close;
  std::vector<sigc::connection> m_connections;
  platform::SignalHandlers m_handlers;
  unsigned m_total = 0;
  unsigned m_current = 0;  // 1-based; 0 while nothing is selected
  bool m_counted = false;
};

}  // namespace ticklark::web
