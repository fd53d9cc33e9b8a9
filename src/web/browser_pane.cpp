// SPDX-License-Identifier: MIT
#include "web/browser_pane.hpp"

#include <algorithm>
#include <chrono>
#include <exception>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include <gtkmm/label.h>
#include <gtkmm/overlay.h>
#include <webkit/webkit.h>

#include "platform/default_browser.hpp"
#include "web/pane_browsing.hpp"
#include "web/script_dialog_panel.hpp"
#include "web/web_session.hpp"

namespace ticklark::web {

namespace {

using Clock = std::chrono::steady_clock;

// Runs |body|, turning any exception into a warning and |fallback|: nothing
// may unwind through the engine's or GLib's C frames.
template <typename R, typename F>
R Guarded(const char* where, R fallback, F&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    g_warning("Browser pane, %s: %s", where, e.what());
  } catch (...) {
    g_warning("Browser pane, %s: unknown exception", where);
  }
  return fallback;
}

// Pages may go to web addresses and to the empty and inline documents that
// pages build their frames from; every other scheme stays out of the panes.
bool MayShowInPane(const char* uri) {
  if (!uri) {
    return false;
  }
  const std::string_view text(uri);
  return platform::IsWebAddress(text) || text == "about:blank" || text == "about:srcdoc";
}

bool IsAttachment(WebKitURIResponse* response) {
  SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
  if (!headers) {
    return false;
  }
  char* disposition = nullptr;
  GHashTable* parameters = nullptr;
  bool attachment = false;
  if (soup_message_headers_get_content_disposition(headers, &disposition, &parameters)) {
    attachment = g_ascii_strcasecmp(disposition, "attachment") == 0;
    g_free(disposition);
    g_hash_table_destroy(parameters);
  }
  return attachment;
}

std::string Escaped(const std::string& text) {
  char* escaped = g_markup_escape_text(text.c_str(), -1);
  std::string result(escaped);
  g_free(escaped);
  return result;
}

std::string NoticePage(PaneNotice notice, PaneRole role, const std::string& address) {
  const char* what = "This page was stopped.";
  if (notice == PaneNotice::kCrashed) {
    what = "This page stopped working: its web process crashed.";
  } else if (notice == PaneNotice::kMemoryLimit) {
    what = "This page was closed because it used too much memory.";
  }
  const char* hint = role == PaneRole::kMain ? "<p>Refresh loads it again.</p>" : "";
  return std::string(
             "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
             "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
             "style-src 'unsafe-inline'\"><meta name=\"color-scheme\" content=\"light dark\">"
             "<title>Page stopped</title><style>body{font:13px sans-serif;margin:12px}"
             "p{margin:0 0 6px}.address{opacity:.7;word-break:break-all}</style></head><body>"
             "<p id=\"notice\">") +
         what + "</p>" + hint + "<p class=\"address\">" + Escaped(address) + "</p></body></html>";
}

WebKitWebView* NewView(WebSession& session, WebKitWebView* related) {
  GObject* object = nullptr;
  if (related) {
    // Context and network session come with the related view.
    object = static_cast<GObject*>(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", related,
                                                "settings", session.Settings(), nullptr));
  } else {
    object = static_cast<GObject*>(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", session.Context(), "network-session",
                     session.NetworkSession(), "settings", session.Settings(), nullptr));
  }
  return WEBKIT_WEB_VIEW(g_object_ref_sink(object));
}

guint AddTimeout(std::chrono::milliseconds delay, GSourceFunc function, gpointer data) {
  const auto ms = std::max<std::chrono::milliseconds::rep>(delay.count(), 0);
  return g_timeout_add(static_cast<guint>(ms), function, data);
}

void RemoveSource(guint& id) {
  if (id != 0) {
    g_source_remove(id);
    id = 0;
  }
}

}  // namespace

class BrowserPane::Impl {
 public:
  Impl(WebSession& session, PaneRole role, WebKitWebView* related);
  ~Impl();

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  WebKitWebView* View() const { return m_view; }
  Gtk::Widget& Frame() { return m_frame; }
  PaneRole Role() const { return m_role; }
  PaneNotice Notice() const { return m_notice; }
  bool ShowsScriptDialog() const { return m_dialog.IsOpen(); }

  void Navigate(const std::string& address);
  void GoBack();
  void GoForward();
  void Refresh();
  void Stop();

  // Signal handlers, reached through the trampolines below.
  gboolean OnDecidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
  void OnCreate(WebKitNavigationAction* action);
  gboolean OnScriptDialog(WebKitScriptDialog* dialog);
  void OnLoadChanged(WebKitLoadEvent event);
  void OnWebProcessTerminated(WebKitWebProcessTerminationReason reason);
  void EndWebProcess();
  void OnResponsivenessChanged();
  void OnLoadingChanged();

 private:
  using Load = std::function<void()>;

  void Connect(const char* signal, GCallback callback);
  void OrderLoad(Load load);
  void StartDeferredLoadWhenDue();
  void StartLoad(Load load);
  void IssuePendingLoad();
  void CloseOpenDialog();
  void ReplaceWebProcess();
  void RestartPendingLoad();
  void ShowNotice(PaneNotice notice);
  void SetHangNoticeVisible(bool visible);

  // Timer and idle callbacks; each clears its own source id.
  void OnUnresponsiveTimeout();
  void OnBackoffElapsed();
  void OnRecoverTimeout();
  void OnNavigationWatchdog();
  void OnLostLoadCheck();

  WebSession& m_session;
  const PaneRole m_role;
  Gtk::Overlay m_frame;
  Gtk::Label m_hangNotice;
  // The page's alert, confirm or prompt, in every pane but an ad pane.
  ScriptDialogPanel m_dialog;
  WebKitWebView* m_view = nullptr;
  std::vector<gulong> m_handlers;

  PaneNotice m_notice = PaneNotice::kNone;
  // The history as it was when the web process ended, before the notice
  // took a place in it; put back before the next load.
  WebKitWebViewSessionState* m_historyBeforeNotice = nullptr;

  // A navigation ordered by the program that has not started yet, and how
  // often the page answered it with a script dialog meanwhile.
  Load m_pendingLoad;
  bool m_loadPending = false;
  unsigned m_dialogsWhilePending = 0;
  bool m_replacingProcess = false;
  // The program's load has not finished yet; it is ordered once more if the
  // engine drops it without a word.
  bool m_loadInFlight = false;
  bool m_loadReissued = false;

  unsigned m_crashStreak = 0;
  Clock::time_point m_lastCrash{};
  Clock::time_point m_backoffUntil{};
  // A load ordered while a notice was loading or during the back-off.
  Load m_deferredLoad;
  bool m_noticeLoading = false;

  guint m_unresponsiveTimer = 0;
  guint m_backoffTimer = 0;
  guint m_watchdogTimer = 0;
  guint m_lostLoadCheck = 0;
  guint m_recoverTimer = 0;
};

namespace {

// Trampolines: the engine's C signals back into the pane.
using Pane = BrowserPane::Impl;

// The pane that is ending its web process right now, if any. Panes of one
// window share a process, and the others must not take its end for a fault
// of their own pages.
const Pane* g_paneEndingItsProcess = nullptr;

gboolean OnDecidePolicySignal(WebKitWebView*, WebKitPolicyDecision* decision,
                              WebKitPolicyDecisionType type, gpointer self) {
  try {
    return static_cast<Pane*>(self)->OnDecidePolicy(decision, type);
  } catch (...) {
    g_warning("Browser pane, decide-policy: exception; refused");
  }
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

GtkWidget* OnCreateSignal(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
  Guarded("create", 0, [&] {
    static_cast<Pane*>(self)->OnCreate(action);
    return 0;
  });
  return nullptr;  // never a new view inside the program
}

gboolean OnPermissionRequestSignal(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
  webkit_permission_request_deny(request);
  return TRUE;
}

gboolean OnQueryPermissionStateSignal(WebKitWebView*, WebKitPermissionStateQuery* query, gpointer) {
  webkit_permission_state_query_finish(query, WEBKIT_PERMISSION_STATE_DENIED);
  return TRUE;
}

gboolean OnScriptDialogSignal(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
  return Guarded("script-dialog", static_cast<gboolean>(TRUE),
                 [&] { return static_cast<Pane*>(self)->OnScriptDialog(dialog); });
}

void OnLoadChangedSignal(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
  Guarded("load-changed", 0, [&] {
    static_cast<Pane*>(self)->OnLoadChanged(event);
    return 0;
  });
}

void OnWebProcessTerminatedSignal(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                  gpointer self) {
  Guarded("web-process-terminated", 0, [&] {
    static_cast<Pane*>(self)->OnWebProcessTerminated(reason);
    return 0;
  });
}

void OnResponsiveSignal(GObject*, GParamSpec*, gpointer self) {
  Guarded("is-web-process-responsive", 0, [&] {
    static_cast<Pane*>(self)->OnResponsivenessChanged();
    return 0;
  });
}

void OnLoadingSignal(GObject*, GParamSpec*, gpointer self) {
  Guarded("is-loading", 0, [&] {
    static_cast<Pane*>(self)->OnLoadingChanged();
    return 0;
  });
}

// One-shot timers and idle callbacks.
template <void (Pane::*Handler)()>
gboolean OnTimer(gpointer self) {
  Guarded("timer", 0, [&] {
    (static_cast<Pane*>(self)->*Handler)();
    return 0;
  });
  return G_SOURCE_REMOVE;
}

}  // namespace

BrowserPane::Impl::Impl(WebSession& session, PaneRole role, WebKitWebView* related)
    : m_session(session), m_role(role), m_view(NewView(session, related)) {
  Connect("decide-policy", G_CALLBACK(OnDecidePolicySignal));
  Connect("create", G_CALLBACK(OnCreateSignal));
  Connect("permission-request", G_CALLBACK(OnPermissionRequestSignal));
  Connect("query-permission-state", G_CALLBACK(OnQueryPermissionStateSignal));
  Connect("script-dialog", G_CALLBACK(OnScriptDialogSignal));
  Connect("load-changed", G_CALLBACK(OnLoadChangedSignal));
  Connect("web-process-terminated", G_CALLBACK(OnWebProcessTerminatedSignal));
  Connect("notify::is-web-process-responsive", G_CALLBACK(OnResponsiveSignal));
  Connect("notify::is-loading", G_CALLBACK(OnLoadingSignal));

  gtk_overlay_set_child(m_frame.gobj(), GTK_WIDGET(m_view));
  m_hangNotice.set_text("This page is not responding. Stop ends it; Refresh loads it again.");
  m_hangNotice.set_wrap(true);
  m_hangNotice.set_valign(Gtk::Align::START);
  m_hangNotice.set_halign(Gtk::Align::FILL);
  m_hangNotice.add_css_class("osd");
  m_hangNotice.set_visible(false);
  m_frame.add_overlay(m_hangNotice);
  m_frame.add_overlay(m_dialog.Widget());
}

BrowserPane::Impl::~Impl() {
  RemoveSource(m_unresponsiveTimer);
  RemoveSource(m_backoffTimer);
  RemoveSource(m_watchdogTimer);
  RemoveSource(m_lostLoadCheck);
  RemoveSource(m_recoverTimer);
  for (gulong handler : m_handlers) {
    g_signal_handler_disconnect(m_view, handler);
  }
  CloseOpenDialog();
  if (m_historyBeforeNotice) {
    webkit_web_view_session_state_unref(m_historyBeforeNotice);
  }
  // Take the pane out of its window so that no view outlives its policies.
  if (GtkWidget* parent = gtk_widget_get_parent(GTK_WIDGET(m_frame.gobj()))) {
    if (GTK_IS_FIXED(parent)) {
      gtk_fixed_remove(GTK_FIXED(parent), GTK_WIDGET(m_frame.gobj()));
    } else if (GTK_IS_BOX(parent)) {
      gtk_box_remove(GTK_BOX(parent), GTK_WIDGET(m_frame.gobj()));
    } else if (GTK_IS_WINDOW(parent)) {
      gtk_window_set_child(GTK_WINDOW(parent), nullptr);
    }
  }
  gtk_overlay_set_child(m_frame.gobj(), nullptr);
  g_object_unref(m_view);
}

void BrowserPane::Impl::Connect(const char* signal, GCallback callback) {
  m_handlers.push_back(g_signal_connect(m_view, signal, callback, this));
}

// --- Operations ---------------------------------------------------------

void BrowserPane::Impl::Navigate(const std::string& address) {
  if (!MayShowInPane(address.c_str())) {
    return;  // a javascript: address would otherwise run in the current page
  }
  OrderLoad([this, address] { webkit_web_view_load_uri(m_view, address.c_str()); });
}

void BrowserPane::Impl::GoBack() {
  if (!webkit_web_view_can_go_back(m_view)) {
    return;
  }
  OrderLoad([this] { webkit_web_view_go_back(m_view); });
}

void BrowserPane::Impl::GoForward() {
  if (!webkit_web_view_can_go_forward(m_view)) {
    return;
  }
  OrderLoad([this] { webkit_web_view_go_forward(m_view); });
}

void BrowserPane::Impl::Refresh() {
  if (!m_historyBeforeNotice) {
    OrderLoad([this] { webkit_web_view_reload(m_view); });
    return;
  }
  // A notice stands in for the page: with the history put back, its current
  // entry is that page again.
  OrderLoad([this] {
    WebKitBackForwardList* history = webkit_web_view_get_back_forward_list(m_view);
    if (WebKitBackForwardListItem* current = webkit_back_forward_list_get_current_item(history)) {
      webkit_web_view_go_to_back_forward_list_item(m_view, current);
    } else {
      webkit_web_view_reload(m_view);
    }
  });
}

void BrowserPane::Impl::Stop() {
  RemoveSource(m_backoffTimer);
  m_deferredLoad = nullptr;
  RemoveSource(m_watchdogTimer);
  m_loadPending = false;
  m_loadInFlight = false;
  if (m_notice == PaneNotice::kUnresponsive ||
      !webkit_web_view_get_is_web_process_responsive(m_view)) {
    // A hung web process cannot stop anything itself.
    EndWebProcess();
    return;
  }
  webkit_web_view_stop_loading(m_view);
}

// Every load the program orders passes here: open dialogs are closed first,
// a hung web process is replaced, and after a crash the load waits for the
// notice to be in place and, after repeated crashes, for the back-off.
void BrowserPane::Impl::OrderLoad(Load load) {
  CloseOpenDialog();
  if (m_notice == PaneNotice::kUnresponsive) {
    ReplaceWebProcess();
  }
  m_deferredLoad = std::move(load);
  StartDeferredLoadWhenDue();
}

void BrowserPane::Impl::StartDeferredLoadWhenDue() {
  if (!m_deferredLoad || m_noticeLoading) {
    return;  // a notice still loading would replace the load; it calls again when done
  }
  const auto now = Clock::now();
  if (now < m_backoffUntil) {
    if (m_backoffTimer == 0) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_backoffUntil - now);
      m_backoffTimer = AddTimeout(wait, OnTimer<&Impl::OnBackoffElapsed>, this);
    }
    return;
  }
  RemoveSource(m_backoffTimer);
  StartLoad(std::exchange(m_deferredLoad, nullptr));
}

void BrowserPane::Impl::StartLoad(Load load) {
  if (m_historyBeforeNotice) {
    webkit_web_view_restore_session_state(m_view, m_historyBeforeNotice);
    webkit_web_view_session_state_unref(m_historyBeforeNotice);
    m_historyBeforeNotice = nullptr;
  }
  m_notice = PaneNotice::kNone;
  SetHangNoticeVisible(false);
  m_pendingLoad = std::move(load);
  m_loadReissued = false;
  IssuePendingLoad();
}

void BrowserPane::Impl::IssuePendingLoad() {
  m_loadPending = true;
  m_loadInFlight = true;
  m_dialogsWhilePending = 0;
  RemoveSource(m_watchdogTimer);
  m_watchdogTimer = AddTimeout(m_session.Timings().navigationWatchdog,
                               OnTimer<&Impl::OnNavigationWatchdog>, this);
  m_pendingLoad();
}

void BrowserPane::Impl::CloseOpenDialog() {
  m_dialog.Close();
}

// Ends this pane's web process. The engine tells every pane that shares the
// process at once, before this returns.
void BrowserPane::Impl::EndWebProcess() {
  g_paneEndingItsProcess = this;
  webkit_web_view_terminate_web_process(m_view);
  g_paneEndingItsProcess = nullptr;
}

// Ends the page's web process without a notice; the caller loads anew.
void BrowserPane::Impl::ReplaceWebProcess() {
  m_noticeLoading = false;
  m_replacingProcess = true;
  EndWebProcess();
  m_replacingProcess = false;
  m_notice = PaneNotice::kNone;
  SetHangNoticeVisible(false);
}

void BrowserPane::Impl::ShowNotice(PaneNotice notice) {
  m_notice = notice;
  if (!m_historyBeforeNotice) {
    m_historyBeforeNotice = webkit_web_view_get_session_state(m_view);
  }
  const char* uri = webkit_web_view_get_uri(m_view);
  const std::string address = uri && *uri ? uri : "about:blank";
  const std::string page = NoticePage(notice, m_role, address);
  m_noticeLoading = true;
  webkit_web_view_load_alternate_html(m_view, page.c_str(), address.c_str(), nullptr);
}

void BrowserPane::Impl::SetHangNoticeVisible(bool visible) {
  if (m_hangNotice.get_visible() != visible) {
    m_hangNotice.set_visible(visible);
  }
}

// --- Signals ------------------------------------------------------------

gboolean BrowserPane::Impl::OnDecidePolicy(WebKitPolicyDecision* decision,
                                           WebKitPolicyDecisionType type) {
  switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
      WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision));
      const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
      if (MayShowInPane(uri)) {
        webkit_policy_decision_use(decision);
      } else {
        webkit_policy_decision_ignore(decision);
      }
      return TRUE;
    }
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: {
      webkit_policy_decision_ignore(decision);
      OnCreate(webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision)));
      return TRUE;
    }
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
      auto* response_decision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
      WebKitURIResponse* response = webkit_response_policy_decision_get_response(response_decision);
      // What the pane cannot show is saved at the user's word, else dropped.
      if (IsAttachment(response) ||
          !webkit_response_policy_decision_is_mime_type_supported(response_decision)) {
        PaneBrowsing::OfferDownload(m_view, decision);
      } else {
        webkit_policy_decision_use(decision);
      }
      return TRUE;
    }
  }
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

// A page asked for a new window. Only a web address the user clicked on goes
// out, to the desktop's default browser.
void BrowserPane::Impl::OnCreate(WebKitNavigationAction* action) {
  if (!webkit_navigation_action_is_user_gesture(action)) {
    return;
  }
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (uri && platform::IsWebAddress(uri)) {
    Guarded("default browser", false, [&] { return m_session.DefaultBrowser().Open(uri); });
  }
}

gboolean BrowserPane::Impl::OnScriptDialog(WebKitScriptDialog* dialog) {
  const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
  if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
    // A page never holds the pane on itself.
    webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
    return TRUE;
  }
  if (m_loadPending) {
    ++m_dialogsWhilePending;
  }
  if (m_role == PaneRole::kAd || m_loadPending) {
    // Handled without showing: the dialog closes when the signal returns.
    if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM) {
      webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
    }
    return TRUE;
  }
  m_dialog.Show(dialog);
  return TRUE;
}

void BrowserPane::Impl::OnLoadChanged(WebKitLoadEvent event) {
  if (event == WEBKIT_LOAD_STARTED) {
    m_loadPending = false;
    RemoveSource(m_watchdogTimer);
  } else if (event == WEBKIT_LOAD_FINISHED) {
    m_loadInFlight = false;
    if (m_noticeLoading) {
      m_noticeLoading = false;
      StartDeferredLoadWhenDue();
    }
  }
}

void BrowserPane::Impl::OnWebProcessTerminated(WebKitWebProcessTerminationReason reason) {
  RemoveSource(m_unresponsiveTimer);
  SetHangNoticeVisible(false);
  CloseOpenDialog();
  if (m_replacingProcess) {
    return;
  }
  RemoveSource(m_watchdogTimer);
  m_loadPending = false;
  m_loadInFlight = false;

  if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API && g_paneEndingItsProcess &&
      g_paneEndingItsProcess != this) {
    // Another pane of this window ended the web process they share (its page
    // hung, or it made way for a new process); this pane's page was fine and
    // comes back by itself.
    if (!webkit_web_view_get_uri(m_view)) {
      return;
    }
    webkit_web_view_reload(m_view);
    return;
  }

  PaneNotice notice = PaneNotice::kStopped;
  if (reason == WEBKIT_WEB_PROCESS_CRASHED) {
    notice = PaneNotice::kCrashed;
  } else if (reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT) {
    notice = PaneNotice::kMemoryLimit;
  }
  if (notice != PaneNotice::kStopped) {
    // Crashes close together make a streak; from the second one on, loads
    // wait a little longer each time instead of restarting a crashing page
    // over and over.
    const auto now = Clock::now();
    const PaneTimings& timings = m_session.Timings();
    m_crashStreak = (m_crashStreak > 0 && now - m_lastCrash <= timings.crashStreakWindow)
                        ? m_crashStreak + 1
                        : 1;
    m_lastCrash = now;
    if (m_crashStreak >= 2) {
      auto delay = timings.crashBackoffFirst;
      for (unsigned i = 2; i < m_crashStreak && delay < timings.crashBackoffMax; ++i) {
        delay *= 2;
      }
      m_backoffUntil = now + std::min(delay, timings.crashBackoffMax);
    }
  }
  ShowNotice(notice);
  // A pane without a navigation bar has no Refresh for the user to press: it
  // brings its page back by itself, a moment later (and later still, by the
  // crash back-off, if the page keeps crashing).
  if (notice != PaneNotice::kStopped && m_role != PaneRole::kMain) {
    RemoveSource(m_recoverTimer);
    m_recoverTimer =
        AddTimeout(m_session.Timings().crashBackoffFirst, OnTimer<&Impl::OnRecoverTimeout>, this);
  }
}

void BrowserPane::Impl::OnRecoverTimeout() {
  m_recoverTimer = 0;
  if (m_notice == PaneNotice::kCrashed || m_notice == PaneNotice::kMemoryLimit) {
    Refresh();
  }
}

void BrowserPane::Impl::OnResponsivenessChanged() {
  if (webkit_web_view_get_is_web_process_responsive(m_view)) {
    RemoveSource(m_unresponsiveTimer);
    if (m_notice == PaneNotice::kUnresponsive) {
      m_notice = PaneNotice::kNone;
      SetHangNoticeVisible(false);
    }
    return;
  }
  if (m_loadPending) {
    // The page holds up a load the program asked for.
    RestartPendingLoad();
    return;
  }
  if (m_unresponsiveTimer == 0) {
    m_unresponsiveTimer = AddTimeout(m_session.Timings().unresponsiveNotice,
                                     OnTimer<&Impl::OnUnresponsiveTimeout>, this);
  }
}

void BrowserPane::Impl::OnUnresponsiveTimeout() {
  m_unresponsiveTimer = 0;
  if (webkit_web_view_get_is_web_process_responsive(m_view)) {
    return;
  }
  m_notice = PaneNotice::kUnresponsive;
  SetHangNoticeVisible(true);
}

void BrowserPane::Impl::OnBackoffElapsed() {
  m_backoffTimer = 0;
  StartDeferredLoadWhenDue();
}

// The program's navigation has not started. If the page kept it waiting with
// dialogs or has stopped answering, its web process gives way to a new one.
void BrowserPane::Impl::OnNavigationWatchdog() {
  m_watchdogTimer = 0;
  if (!m_loadPending) {
    return;
  }
  if (m_dialogsWhilePending == 0 && webkit_web_view_get_is_web_process_responsive(m_view)) {
    return;
  }
  RestartPendingLoad();
}

// The engine can drop a pane's load without finishing or failing it, seen when
// a pane sharing its web process moves its page to another process at the same
// moment: the pane stops loading with no page. Such a load is ordered again,
// once. A load that ends normally reports FINISHED in the same turn of the
// main loop, hence the check on idle.
void BrowserPane::Impl::OnLoadingChanged() {
  if (!webkit_web_view_is_loading(m_view) && m_loadInFlight && m_lostLoadCheck == 0) {
    m_lostLoadCheck = g_idle_add(OnTimer<&Impl::OnLostLoadCheck>, this);
  }
}

void BrowserPane::Impl::OnLostLoadCheck() {
  m_lostLoadCheck = 0;
  if (!m_loadInFlight || webkit_web_view_is_loading(m_view)) {
    return;
  }
  m_loadInFlight = false;
  if (!m_loadReissued && m_pendingLoad) {
    m_loadReissued = true;
    IssuePendingLoad();
  }
}

void BrowserPane::Impl::RestartPendingLoad() {
  Load load = m_pendingLoad;
  ReplaceWebProcess();
  StartLoad(std::move(load));
}

// --- BrowserPane ----------------------------------------------------------

BrowserPane::BrowserPane(WebSession& session, PaneRole role, BrowserPane* sharesProcessWith)
    : m_impl(std::make_unique<Impl>(
          session, role, sharesProcessWith ? sharesProcessWith->m_impl->View() : nullptr)),
      m_browsing(std::make_unique<PaneBrowsing>(
          *this, m_impl->View(), dynamic_cast<Gtk::Overlay&>(m_impl->Frame()), session)) {}

BrowserPane::~BrowserPane() = default;

void BrowserPane::Navigate(const std::string& address) {
  m_impl->Navigate(address);
}

void BrowserPane::GoBack() {
  m_impl->GoBack();
}

void BrowserPane::GoForward() {
  m_impl->GoForward();
}

void BrowserPane::Refresh() {
  m_impl->Refresh();
}

void BrowserPane::Stop() {
  m_impl->Stop();
}

Gtk::Widget& BrowserPane::Widget() {
  return m_impl->Frame();
}

PaneRole BrowserPane::Role() const {
  return m_impl->Role();
}

PaneNotice BrowserPane::Notice() const {
  return m_impl->Notice();
}

bool BrowserPane::ShowsScriptDialog() const {
  return m_impl->ShowsScriptDialog();
}

std::string BrowserPane::CurrentAddress() const {
  const char* uri = webkit_web_view_get_uri(m_impl->View());
  return uri ? uri : "";
}

bool BrowserPane::IsLoading() const {
  return webkit_web_view_is_loading(m_impl->View());
}

bool BrowserPane::CanGoBack() const {
  return webkit_web_view_can_go_back(m_impl->View());
}

bool BrowserPane::CanGoForward() const {
  return webkit_web_view_can_go_forward(m_impl->View());
}

}  // namespace ticklark::web
