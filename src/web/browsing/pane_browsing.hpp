// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <glibmm/refptr.h>
#include <gtkmm/label.h>
#include <sigc++/connection.h>

#include "platform/gobject_ptr.hpp"
#include "web/browsing/pane_downloads.hpp"

typedef struct _WebKitWebView WebKitWebView;

namespace Gdk {
class Event;
}
namespace Gtk {
class EventControllerLegacy;
class Overlay;
class Window;
}  // namespace Gtk

namespace ticklark::platform {
class DefaultBrowser;
}

namespace ticklark::web {

enum class PaneCommand;
class FindBar;
class PaneCore;
class PaneContextMenu;
class PaneServices;

// What makes a pane behave like a browser, inside the pane and the same in
// every window (the windows see none of it):
// - keys while the focus is in the pane: Alt+Left and Alt+Right (and the
//   mouse's back and forward buttons) walk the history; F5 and Ctrl+R reload,
//   Ctrl+F5 and Ctrl+Shift+R without the cache; Escape stops a load in
//   progress and otherwise goes to the page; Ctrl+P prints; Ctrl+F finds;
// - zoom with Ctrl+plus, Ctrl+minus, Ctrl+0 and Ctrl+wheel, kept per site and
//   shown for a moment in a corner of the pane;
// - the find bar, printing and the context menu;
// - the user's clicks and keys in the pane go to the pane's core, which a
//   download or a print request of the page needs: one each, used within
//   half a minute.
// Every other key, click and wheel turn goes on to the page unchanged. What a
// key does is the core's to say; this carries it out.
class PaneBrowsing final : public DownloadingPane {
 public:
  // |core|, |view| and |frame| belong to one pane and outlive this; |frame|
  // holds |view|.
  PaneBrowsing(PaneCore& core, WebKitWebView* view, Gtk::Overlay& frame, PaneServices& services,
               platform::DefaultBrowser& browser);
  ~PaneBrowsing();

  PaneBrowsing(const PaneBrowsing&) = delete;
  PaneBrowsing& operator=(const PaneBrowsing&) = delete;

  // Whether a user's action in the pane is there for a download of the page;
  // uses it up.
  bool TakeUserAction() override;

  // The window the pane is in, for dialogs; null while it is in none.
  Gtk::Window* Window() const override;

  // The commands behind the keys.
  void Print();
  void Zoom(int direction);  // +1 in, -1 out, 0 back to 100%
  int ZoomPercent() const;
  FindBar& Find() { return *m_find; }

  // For the signal trampolines.
  void OnLoadCommitted();
  void OnLoadFinished();
  bool OnPrintRequested();

 private:
  bool on_event(const Glib::RefPtr<const Gdk::Event>& event);
  bool OnKey(unsigned keyval, unsigned modifiers);
  bool Carry(PaneCommand command);
  bool OnScroll(const Glib::RefPtr<const Gdk::Event>& event);
  std::string Host() const;
  void ApplyZoom(int percent);
  void ShowZoom(int percent);

  PaneCore& m_core;
  WebKitWebView* m_view;
  Gtk::Overlay& m_frame;
  PaneServices& m_services;
  std::unique_ptr<FindBar> m_find;
  std::unique_ptr<PaneContextMenu> m_menu;
  Glib::RefPtr<Gtk::EventControllerLegacy> m_events;
  Gtk::Label m_zoomIndicator;
  platform::SignalHandlers m_handlers;
  std::vector<sigc::connection> m_connections;
  sigc::connection m_hideZoom;
  std::size_t m_zoomListener = 0;
  double m_scrolled = 0;  // smooth wheel movement not yet turned into a step
};

}  // namespace ticklark::web
