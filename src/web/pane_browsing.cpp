// SPDX-License-Identifier: MIT
#include "web/pane_browsing.hpp"

#include <cmath>
#include <exception>

#include <gdk/gdkkeysyms.h>
#include <glibmm/main.h>
#include <gtkmm/eventcontrollerlegacy.h>
#include <gtkmm/overlay.h>
#include <gtkmm/window.h>
#include <webkit/webkit.h>

#include "web/browser_pane.hpp"
#include "web/find_bar.hpp"
#include "web/pane_context_menu.hpp"
#include "web/pane_printing.hpp"
#include "web/pane_services.hpp"
#include "web/web_session.hpp"
#include "web/zoom_store.hpp"

namespace ticklark::web {

namespace {

constexpr char kPaneKey[] = "ticklark-pane-browsing";
constexpr unsigned kZoomIndicatorMs = 1200;

template <typename R, typename F>
R Guarded(const char* where, R fallback, F&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    g_warning("Pane browsing, %s: %s", where, e.what());
  } catch (...) {
    g_warning("Pane browsing, %s: unknown exception", where);
  }
  return fallback;
}

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

enum class Command {
  kNone,
  kBack,
  kForward,
  kReload,
  kReloadFromServer,
  kStop,
  kPrint,
  kFind,
  kFindNext,
  kFindPrevious,
  kZoomIn,
  kZoomOut,
  kZoomReset,
};

constexpr unsigned kCtrl = GDK_CONTROL_MASK;
constexpr unsigned kShift = GDK_SHIFT_MASK;
constexpr unsigned kAlt = GDK_ALT_MASK;

// The pane's keys. |modifiers| holds only Ctrl, Shift, Alt, Super and Meta.
Command CommandFor(unsigned keyval, unsigned modifiers) {
  keyval = gdk_keyval_to_lower(keyval);
  switch (modifiers) {
    case 0:
      switch (keyval) {
        case GDK_KEY_F5:
        case GDK_KEY_Reload:
          return Command::kReload;
        case GDK_KEY_Escape:
          return Command::kStop;
        case GDK_KEY_F3:
          return Command::kFindNext;
        case GDK_KEY_Back:
          return Command::kBack;
        case GDK_KEY_Forward:
          return Command::kForward;
      }
      break;
    case kAlt:
      if (keyval == GDK_KEY_Left || keyval == GDK_KEY_KP_Left) {
        return Command::kBack;
      }
      if (keyval == GDK_KEY_Right || keyval == GDK_KEY_KP_Right) {
        return Command::kForward;
      }
      break;
    case kShift:
      if (keyval == GDK_KEY_F3) {
        return Command::kFindPrevious;
      }
      if (keyval == GDK_KEY_F5) {
        return Command::kReloadFromServer;
      }
      break;
    case kCtrl:
      switch (keyval) {
        case GDK_KEY_r:
          return Command::kReload;
        case GDK_KEY_F5:
          return Command::kReloadFromServer;
        case GDK_KEY_p:
          return Command::kPrint;
        case GDK_KEY_f:
          return Command::kFind;
        case GDK_KEY_g:
          return Command::kFindNext;
        case GDK_KEY_plus:
        case GDK_KEY_equal:
        case GDK_KEY_KP_Add:
          return Command::kZoomIn;
        case GDK_KEY_minus:
        case GDK_KEY_KP_Subtract:
          return Command::kZoomOut;
        case GDK_KEY_0:
        case GDK_KEY_KP_0:
          return Command::kZoomReset;
      }
      break;
    case kCtrl | kShift:
      switch (keyval) {
        case GDK_KEY_r:
          return Command::kReloadFromServer;
        case GDK_KEY_g:
          return Command::kFindPrevious;
        // Plus is Shift and "=" on many keyboards.
        case GDK_KEY_plus:
        case GDK_KEY_KP_Add:
          return Command::kZoomIn;
      }
      break;
  }
  return Command::kNone;
}

bool IsEnter(unsigned keyval) {
  return keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter;
}

}  // namespace

PaneBrowsing::PaneBrowsing(BrowserPane& pane, WebKitWebView* view, Gtk::Overlay& frame,
                           WebSession& session)
    : m_pane(pane),
      m_view(view),
      m_frame(frame),
      m_services(session.Services()),
      m_find(std::make_unique<FindBar>(view, frame)),
      m_menu(
          std::make_unique<PaneContextMenu>(view, session.DefaultBrowser(), [this] { Print(); })),
      m_events(Gtk::EventControllerLegacy::create()) {
  g_object_set_data(G_OBJECT(view), kPaneKey, this);

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

  m_handlers = {
      g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChangedSignal), this),
      g_signal_connect(view, "print", G_CALLBACK(OnPrintSignal), this),
  };
  m_zoomListener = m_services.ListenToZoom([this](const std::string& host, int percent) {
    if (ZoomStore::HostKey(host) == ZoomStore::HostKey(Host())) {
      ApplyZoom(percent);
    }
  });
}

PaneBrowsing::~PaneBrowsing() {
  m_services.StopListening(m_zoomListener);
  for (unsigned long handler : m_handlers) {
    g_signal_handler_disconnect(m_view, handler);
  }
  for (auto& connection : m_connections) {
    connection.disconnect();
  }
  m_hideZoom.disconnect();
  m_frame.remove_controller(m_events);
  m_frame.remove_overlay(m_zoomIndicator);
  m_menu.reset();
  m_find.reset();
  g_object_set_data(G_OBJECT(m_view), kPaneKey, nullptr);
}

PaneBrowsing* PaneBrowsing::Of(WebKitWebView* view) {
  return view ? static_cast<PaneBrowsing*>(g_object_get_data(G_OBJECT(view), kPaneKey)) : nullptr;
}

void PaneBrowsing::OfferDownload(WebKitWebView* view, WebKitPolicyDecision* decision) {
  const PaneBrowsing* pane = Of(view);
  if (pane && pane->HasUserAction()) {
    webkit_policy_decision_download(decision);
  } else {
    webkit_policy_decision_ignore(decision);
  }
}

bool PaneBrowsing::HasUserAction() const {
  return m_userAction && std::chrono::steady_clock::now() - m_userActionAt < kUserActionLifetime;
}

bool PaneBrowsing::TakeUserAction() {
  const bool had = HasUserAction();
  m_userAction = false;
  return had;
}

Gtk::Window* PaneBrowsing::Window() const {
  GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(m_frame.gobj()));
  return root && GTK_IS_WINDOW(root) ? Glib::wrap(GTK_WINDOW(root)) : nullptr;
}

// --- Input ------------------------------------------------------------------

bool PaneBrowsing::on_event(const Glib::RefPtr<const Gdk::Event>& event) {
  return Guarded("input", false, [&] {
    switch (event->get_event_type()) {
      case Gdk::Event::Type::KEY_PRESS: {
        m_userAction = true;
        m_userActionAt = std::chrono::steady_clock::now();
        const auto modifiers = static_cast<unsigned>(event->get_modifier_state()) &
                               (kCtrl | kShift | kAlt | GDK_SUPER_MASK | GDK_META_MASK);
        return OnKey(event->get_keyval(), modifiers);
      }
      case Gdk::Event::Type::BUTTON_PRESS:
      case Gdk::Event::Type::TOUCH_BEGIN:
        m_userAction = true;
        m_userActionAt = std::chrono::steady_clock::now();
        if (event->get_event_type() == Gdk::Event::Type::BUTTON_PRESS) {
          if (event->get_button() == 8) {
            m_pane.GoBack();
            return true;
          }
          if (event->get_button() == 9) {
            m_pane.GoForward();
            return true;
          }
        }
        return false;
      case Gdk::Event::Type::BUTTON_RELEASE:
        return event->get_button() == 8 || event->get_button() == 9;
      case Gdk::Event::Type::SCROLL:
        return OnScroll(event);
      default:
        return false;
    }
  });
}

bool PaneBrowsing::OnKey(unsigned keyval, unsigned modifiers) {
  if (m_find->IsOpen() && m_find->HasFocus()) {
    if (keyval == GDK_KEY_Escape && modifiers == 0) {
      m_find->Close();
      return true;
    }
    if (IsEnter(keyval) && (modifiers == 0 || modifiers == kShift)) {
      if (modifiers == kShift) {
        m_find->Previous();
      } else {
        m_find->Next();
      }
      return true;
    }
  }
  const Command command = CommandFor(keyval, modifiers);
  switch (command) {
    case Command::kNone:
      return false;
    case Command::kBack:
      m_pane.GoBack();
      return true;
    case Command::kForward:
      m_pane.GoForward();
      return true;
    case Command::kReload:
      m_pane.Refresh();
      return true;
    case Command::kReloadFromServer:
      // A notice or a page dialog stands in the way: the pane's own Refresh
      // deals with those first.
      if (m_pane.Notice() != PaneNotice::kNone || m_pane.ShowsScriptDialog()) {
        m_pane.Refresh();
      } else {
        webkit_web_view_reload_bypass_cache(m_view);
      }
      return true;
    case Command::kStop:
      if (!m_pane.IsLoading()) {
        return false;  // the page's own Escape
      }
      m_pane.Stop();
      return true;
    case Command::kPrint:
      Print();
      return true;
    case Command::kFind:
      return m_find->Open();
    case Command::kFindNext:
    case Command::kFindPrevious:
      if (!m_find->IsOpen()) {
        return m_find->Open();
      }
      if (command == Command::kFindNext) {
        m_find->Next();
      } else {
        m_find->Previous();
      }
      return true;
    case Command::kZoomIn:
      Zoom(+1);
      return true;
    case Command::kZoomOut:
      Zoom(-1);
      return true;
    case Command::kZoomReset:
      Zoom(0);
      return true;
  }
  return false;
}

// Ctrl and the wheel zoom; a wheel without Ctrl scrolls the page.
bool PaneBrowsing::OnScroll(const Glib::RefPtr<const Gdk::Event>& event) {
  if ((static_cast<unsigned>(event->get_modifier_state()) & kCtrl) == 0) {
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
  GUri* parsed = g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr);
  if (!parsed) {
    return {};
  }
  const char* scheme = g_uri_get_scheme(parsed);
  const char* host = g_uri_get_host(parsed);
  std::string result;
  if (scheme && host &&
      (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0)) {
    result = host;
  }
  g_uri_unref(parsed);
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
  if (TakeUserAction()) {
    Print();
  }
  return true;
}

}  // namespace ticklark::web
