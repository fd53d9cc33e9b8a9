// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>

#include "web/core/pane_policy.hpp"
#include "web/core/pane_recovery.hpp"

namespace Gtk {
class Widget;
}

namespace ticklark::web {

class WebSession;
class PaneBrowsing;
class PaneView;

// One embedded web view with the program's policies. Windows place Widget()
// and drive the pane through its five operations; everything the page itself
// asks for is settled by the pane's PanePolicy and its PaneRecovery, the same
// way in every pane:
// - only http, https and about:blank (and inline frames) are shown;
// - a new window asked for by a click on a web address opens in the desktop's
//   default browser, any other new window is refused;
// - permission requests are denied; a download is saved only where the user
//   says in a save dialog, after a user's action in the pane asked for it;
// - alert, confirm and prompt wait for the user in main and quotes panes and
//   are closed at once in ad panes; a page never keeps the pane on itself;
// - a crashed or ended web process leaves a notice; Refresh, the notice's
//   "Try again" or the next navigation brings a page back (after repeated
//   crashes, with a delay); a pane without a navigation bar brings it back by
//   itself after a crash;
// - a load that fails shows a page of the pane's own that says what failed
//   and offers "Try again"; nothing is loaded again by itself;
// - a hung web process gets a notice; Stop ends it, Refresh reloads;
// - a navigation ordered by the program closes an open dialog first and, if
//   the page keeps it from starting, replaces the page's web process;
// - keys, find, zoom, printing and the context menu work as in a browser
//   (PaneBrowsing).
class BrowserPane {
 public:
  // |sharesProcessWith|, a pane of the same window, puts both panes' pages in
  // one web process. |bar|: whether a navigation bar drives the pane.
  // |session| outlives the pane.
  BrowserPane(WebSession& session, PaneRole role, BrowserPane* sharesProcessWith = nullptr,
              PaneBar bar = PaneBar::kNone);
  ~BrowserPane();

  BrowserPane(const BrowserPane&) = delete;
  BrowserPane& operator=(const BrowserPane&) = delete;

  // The pane operations. Each returns at once; loading goes on by itself.
  // Back or Forward with nothing in that direction leaves the pane as it is.
  void Navigate(const std::string& address);
  void GoBack();
  void GoForward();
  void Refresh();
  void Stop();

  // The widget to place in a window. Whoever puts it in a container takes it
  // out again before the pane goes (a window's layout does, through the
  // control's slot); the pane never reaches into a parent it does not know.
  Gtk::Widget& Widget();

  PaneRole Role() const;
  std::string CurrentAddress() const;
  bool IsLoading() const;
  bool CanGoBack() const;
  bool CanGoForward() const;
  PaneNotice Notice() const;
  // An alert, confirm or prompt of the page waits for an answer.
  bool ShowsScriptDialog() const;

 private:
  std::unique_ptr<PaneView> m_impl;
  // Keys, find, zoom, printing, downloads and the context menu; goes first.
  std::unique_ptr<PaneBrowsing> m_browsing;
};

}  // namespace ticklark::web
