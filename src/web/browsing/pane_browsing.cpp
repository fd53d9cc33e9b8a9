// SPDX-License-Identifier: MIT
#include "web/browsing/pane_browsing.hpp"

#include <cmath>
#include <exception>

#include <gdk/gdkkeysyms.h>
#include <glibmm/main.h>
#include <gtkmm/eventcontrollerlegacy.h>
#include <gtkmm/overlay.h>
#include <gtkmm/window.h>
#include <webkit/webkit.h>

#include "web/browsing/find_bar.hpp"
#include "web/browsing/pane_context_menu.hpp"
#include "web/browsing/pane_printing.hpp"
#include "web/browsing/pane_services.hpp"
#include "web/core/guarded.hpp"
#include "web/core/pane_core.hpp"
#include "web/core/zoom_store.hpp"

namespace ticklark::web {

namespace {

constexpr unsigned kZoomIndicatorMs = 1200;

void OnLoadChangedSignal(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
  Guarded("load-changed", 0, [&] {
    if (event == WEBKIT_LOAD_COMMITTED) {
      static_cast<PaneBrowsing*>(self)->OnLoadCommitted();
    } else if (event == WEBKIT_LOAD_FINISHED) {
      static_cast<PaneBrowsing*>(self)->OnLoadFinished();
    }
    return 0;
  });
}

gboolean OnPrintSignal(WebKitWebView*, WebKitPrintOperation*, gpointer self) {
  Guarded("print", false, [&] { return static_cast<PaneBrowsing*>(self)->OnPrintRequested(); });
  return TRUE;  // never the engine's own dialog
}

}  // namespace

PaneBrowsing::PaneBrowsing(PaneCore& core, WebKitWebView* view, Gtk::Overlay& frame,
                           PaneServices& services, platform::DefaultBrowser& browser)
    : m_core(core),
      m_view(view),
      m_frame(frame),
      m_services(services),
      m_find(std::make_unique<FindBar>(view, frame)),
      m_menu(std::make_unique<PaneContextMenu>(view, browser, [this] { Print(); })),
      m_events(Gtk::EventControllerLegacy::create()),
      m_handlers(view) {
  m_services.AddPane(view, *this);

  m_zoomIndicator.add_css_class("osd");
  m_zoomIndicator.set_halign(Gtk::Align::END);
  m_zoomIndicator.set_valign(Gtk::Align::START);
  m_zoomIndicator.set_margin(6);
  m_zoomIndicator.set_can_target(false);
  m_zoomIndicator.set_visible(false);
  m_frame.add_overlay(m_zoomIndicator);

  // Ahead of the page: the pane's keys are the pane's, whatever the page does.
  m_events->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  m_connections.push_back(
      m_events->signal_event().connect(sigc::mem_fun(*this, &PaneBrowsing::on_event), false));
  m_frame.add_controller(m_events);

  m_handlers.Connect("load-changed", G_CALLBACK(OnLoadChangedSignal), this);
  m_handlers.Connect("print", G_CALLBACK(OnPrintSignal), this);
  m_zoomListener = m_services.ListenToZoom([this](const std::string& host, int percent) {
    if (ZoomStore::HostKey(host) == ZoomStore::HostKey(Host())) {
      ApplyZoom(percent);
    }
  });
}

PaneBrowsing::~PaneBrowsing() {
  m_services.StopListening(m_zoomListener);
  m_handlers.DisconnectAll();
  for (auto& connection : m_connections) {
    connection.disconnect();
  }
  m_hideZoom.disconnect();
  m_frame.remove_controller(m_events);
  m_frame.remove_overlay(m_zoomIndicator);
  m_menu.reset();
  m_find.reset();
  m_services.RemovePane(m_view);
}

bool PaneBrowsing::TakeUserAction() {
  return m_core.TakeUserAction();
}

Gtk::Window* PaneBrowsing::Window() const {
  GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(m_frame.gobj()));
  return root && GTK_IS_WINDOW(root) ? Glib::wrap(GTK_WINDOW(root)) : nullptr;
}

// --- Input ------------------------------------------------------------------

bool PaneBrowsing::on_event(const Glib::RefPtr<const Gdk::Event>& event) {
  return Guarded("input", false, [&] {
    switch (event->get_event_type()) {
      case Gdk::Event::Type::KEY_PRESS:
        return OnKey(event->get_keyval(), static_cast<unsigned>(event->get_modifier_state()));
      case Gdk::Event::Type::BUTTON_PRESS:
        return Carry(m_core.ForButton(event->get_button()));
      case Gdk::Event::Type::TOUCH_BEGIN:
        m_core.UserActed();
        return false;
      case Gdk::Event::Type::BUTTON_RELEASE:
        // The release of a button the pane took is the pane's too.
        return event->get_button() == keys::kButtonBack ||
               event->get_button() == keys::kButtonForward;
      case Gdk::Event::Type::SCROLL:
        return OnScroll(event);
      default:
        return false;
    }
  });
}

bool PaneBrowsing::OnKey(unsigned keyval, unsigned modifiers) {
  modifiers &= keys::kModifiers;
  if (m_find->IsOpen() && m_find->HasFocus()) {
    if (keyval == keys::kEscape && modifiers == 0) {
      m_find->Close();
      return true;
    }
    if (IsEnterKey(keyval) && (modifiers == 0 || modifiers == keys::kShift)) {
      if (modifiers == keys::kShift) {
        m_find->Previous();
      } else {
        m_find->Next();
      }
      return true;
    }
  }
  return Carry(m_core.ForKey(keyval, modifiers));
}

// Carries out what the core made of a key or a button; false leaves the event
// to the page.
bool PaneBrowsing::Carry(PaneCommand command) {
  switch (command) {
    case PaneCommand::kNone:
      return false;
    case PaneCommand::kBack:
      m_core.GoBack();
      return true;
    case PaneCommand::kForward:
      m_core.GoForward();
      return true;
    case PaneCommand::kReload:
      m_core.Refresh();
      return true;
    case PaneCommand::kReloadFromServer:
      webkit_web_view_reload_bypass_cache(m_view);
      return true;
    case PaneCommand::kStop:
      m_core.Stop();
      return true;
    case PaneCommand::kPrint:
      Print();
      return true;
    case PaneCommand::kFind:
      return m_find->Open();
    case PaneCommand::kFindNext:
    case PaneCommand::kFindPrevious:
      if (!m_find->IsOpen()) {
        return m_find->Open();
      }
      if (command == PaneCommand::kFindNext) {
        m_find->Next();
      } else {
        m_find->Previous();
      }
      return true;
    case PaneCommand::kZoomIn:
      Zoom(+1);
      return true;
    case PaneCommand::kZoomOut:
      Zoom(-1);
      return true;
    case PaneCommand::kZoomReset:
      Zoom(0);
      return true;
  }
  return false;
}

// Ctrl and the wheel zoom; a wheel without Ctrl scrolls the page.
bool PaneBrowsing::OnScroll(const Glib::RefPtr<const Gdk::Event>& event) {
  if ((static_cast<unsigned>(event->get_modifier_state()) & keys::kCtrl) == 0) {
    m_scrolled = 0;
    return false;
  }
  switch (event->get_direction()) {
    case Gdk::ScrollDirection::UP:
      Zoom(+1);
      break;
    case Gdk::ScrollDirection::DOWN:
      Zoom(-1);
      break;
    case Gdk::ScrollDirection::SMOOTH: {
      double dx = 0;
      double dy = 0;
      event->get_deltas(dx, dy);
      m_scrolled += dy;
      for (; m_scrolled <= -1; m_scrolled += 1) {
        Zoom(+1);
      }
      for (; m_scrolled >= 1; m_scrolled -= 1) {
        Zoom(-1);
      }
      break;
    }
    default:
      break;
  }
  return true;
}

// --- Zoom -------------------------------------------------------------------

std::string PaneBrowsing::Host() const {
  const char* uri = webkit_web_view_get_uri(m_view);
  if (!uri) {
    return {};
  }
  const platform::CPtr<GUri, g_uri_unref> parsed(g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr));
  if (!parsed) {
    return {};
  }
  const char* scheme = g_uri_get_scheme(parsed.get());
  const char* host = g_uri_get_host(parsed.get());
  std::string result;
  if (scheme && host &&
      (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0)) {
    result = host;
  }
  return result;
}

int PaneBrowsing::ZoomPercent() const {
  return static_cast<int>(std::lround(webkit_web_view_get_zoom_level(m_view) * 100.0));
}

void PaneBrowsing::Zoom(int direction) {
  const int percent = direction == 0 ? kZoomDefault : StepZoom(ZoomPercent(), direction);
  ApplyZoom(percent);
  ShowZoom(percent);
  const std::string host = Host();
  if (!ZoomStore::HostKey(host).empty()) {
    // Every pane on the same site follows.
    m_services.SetZoom(host, percent);
  }
}

void PaneBrowsing::ApplyZoom(int percent) {
  if (ZoomPercent() != percent) {
    webkit_web_view_set_zoom_level(m_view, percent / 100.0);
  }
}

void PaneBrowsing::ShowZoom(int percent) {
  m_zoomIndicator.set_text(std::to_string(percent) + "%");
  m_zoomIndicator.set_visible(true);
  m_hideZoom.disconnect();
  m_hideZoom = Glib::signal_timeout().connect(
      [this] {
        m_zoomIndicator.set_visible(false);
        return false;
      },
      kZoomIndicatorMs);
}

void PaneBrowsing::OnLoadCommitted() {
  ApplyZoom(m_services.Zoom().Level(Host()));
}

void PaneBrowsing::OnLoadFinished() {
  m_find->Refresh();
}

// --- Printing ---------------------------------------------------------------

void PaneBrowsing::Print() {
  PrintPage(m_view, Window(), m_services);
}

// A page's window.print(): only right after the user did something in the pane.
bool PaneBrowsing::OnPrintRequested() {
  if (m_core.TakeUserAction()) {
    Print();
  }
  return true;
}

}  // namespace ticklark::web
