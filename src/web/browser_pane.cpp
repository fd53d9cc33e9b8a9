// SPDX-License-Identifier: MIT
#include "web/browser_pane.hpp"

#include <array>
#include <chrono>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtkmm/label.h>
#include <gtkmm/overlay.h>
#include <webkit/webkit.h>

#include "platform/default_browser.hpp"
#include "platform/gobject_ptr.hpp"
#include "web/pane_browsing.hpp"
#include "web/pane_pages.hpp"
#include "web/pane_visibility.hpp"
#include "web/script_dialog_panel.hpp"
#include "web/web_session.hpp"

// The engine side of a pane: one WebKitWebView in the pane's frame. Its
// signals become questions for the pane's PanePolicy and reports for its
// PaneRecovery, and what the recovery decides is carried out on the view.
// Everything here is about the engine; the rules live in those two.

namespace ticklark::web {

namespace {

using Timer = PaneRecovery::Timer;
using SessionStatePtr =
    platform::CPtr<WebKitWebViewSessionState, webkit_web_view_session_state_unref>;

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

std::string_view Text(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

// The type of the response's Content-Disposition header, "" without one.
std::string DispositionOf(WebKitURIResponse* response) {
  SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
  if (!headers) {
    return {};
  }
  platform::GCharPtr disposition;
  platform::CPtr<GHashTable, g_hash_table_destroy> parameters;
  const bool found = soup_message_headers_get_content_disposition(
      headers, platform::Out(disposition), platform::Out(parameters));
  return found && disposition ? std::string(disposition.get()) : std::string();
}

Permission PermissionOf(WebKitPermissionRequest* request) {
  if (WEBKIT_IS_GEOLOCATION_PERMISSION_REQUEST(request)) {
    return Permission::kGeolocation;
  }
  if (WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request)) {
    return Permission::kNotifications;
  }
  if (WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) {
    return Permission::kCameraOrMicrophone;
  }
  if (WEBKIT_IS_DEVICE_INFO_PERMISSION_REQUEST(request)) {
    return Permission::kDeviceList;
  }
  if (WEBKIT_IS_POINTER_LOCK_PERMISSION_REQUEST(request)) {
    return Permission::kPointerLock;
  }
  if (WEBKIT_IS_CLIPBOARD_PERMISSION_REQUEST(request)) {
    return Permission::kClipboard;
  }
  return Permission::kOther;
}

// A page asking what it would get, by the name the Permissions API uses.
Permission PermissionNamed(std::string_view name) {
  if (name == "geolocation") {
    return Permission::kGeolocation;
  }
  if (name == "notifications" || name == "push") {
    return Permission::kNotifications;
  }
  if (name == "camera" || name == "microphone") {
    return Permission::kCameraOrMicrophone;
  }
  if (name == "clipboard-read" || name == "clipboard-write") {
    return Permission::kClipboard;
  }
  return Permission::kOther;
}

ScriptDialogKind KindOf(WebKitScriptDialogType type) {
  switch (type) {
    case WEBKIT_SCRIPT_DIALOG_ALERT:
      return ScriptDialogKind::kAlert;
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
      return ScriptDialogKind::kConfirm;
    case WEBKIT_SCRIPT_DIALOG_PROMPT:
      return ScriptDialogKind::kPrompt;
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
      return ScriptDialogKind::kBeforeUnload;
  }
  return ScriptDialogKind::kAlert;
}

}  // namespace

class BrowserPane::Impl final : private PaneRecovery::Engine {
 public:
  Impl(WebSession& session, PaneRole role, PaneBar bar, WebKitWebView* related);
  ~Impl() override;

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  // What the pane's features build on: the view, the frame it sits in (an
  // overlay that takes more children over the page), the rules and the
  // session.
  WebKitWebView* View() const { return m_view.get(); }
  Gtk::Overlay& Frame() { return m_frame; }
  const PanePolicy& Policy() const { return m_policy; }
  WebSession& Session() const { return m_session; }

  PaneNotice Notice() const { return m_showsRefusal ? PaneNotice::kRefused : m_recovery.Notice(); }
  bool ShowsScriptDialog() const { return m_dialog.IsOpen(); }

  void Navigate(const std::string& address);
  void GoBack();
  void GoForward();
  void Refresh();
  void Stop();

  // Signal handlers, reached through the trampolines below.
  gboolean OnDecidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
  void OnNewWindow(WebKitNavigationAction* action);
  gboolean OnScriptDialog(WebKitScriptDialog* dialog);
  void OnLoadChanged(WebKitLoadEvent event);
  bool OnLoadFailed(const char* address, const GError* error);
  void OnRequestStarted(WebKitWebResource* resource, WebKitURIRequest* request);
  void OnRequestSent(WebKitURIRequest* request);
  void OnWebProcessTerminated(WebKitWebProcessTerminationReason reason);
  void OnResponsivenessChanged();
  void OnLoadingChanged();

 private:
  // One of the recovery's timers, as GLib runs it.
  struct PaneTimer {
    Impl* pane = nullptr;
    Timer timer = Timer::kUnresponsive;
    platform::SourceId source;
  };
  static gboolean OnTimerSignal(gpointer data);
  platform::SourceId m_reloadSoon;
  static gboolean OnReloadSoon(gpointer data);

  // PaneRecovery::Engine
  void IssueLoad(const PaneLoad& load) override;
  void StopLoading() override;
  void EndWebProcess() override;
  void ReloadPage() override;
  void ShowNoticePage(PaneNotice notice, const std::string& address) override;
  void RestoreHistory() override;
  void SetHangNoticeVisible(bool visible) override;
  void CloseScriptDialog() override;
  bool IsResponsive() const override;
  bool IsLoading() const override;
  void StartTimer(Timer timer, std::chrono::milliseconds delay) override;
  void StopTimer(Timer timer) override;

  WebSession& m_session;
  const PanePolicy m_policy;
  Gtk::Overlay m_frame;
  Gtk::Label m_hangNotice;
  // The page's alert, confirm or prompt, in every pane but an ad pane.
  ScriptDialogPanel m_dialog;
  platform::GObjectPtr<WebKitWebView> m_view;
  platform::SignalHandlers m_handlers;
  // Off the screen while the window is wholly hidden.
  PaneVisibility m_visibility;
  // The history as it was when a notice took the page's place; put back
  // before the next load.
  SessionStatePtr m_historyBeforeNotice;
  // The session refuses the page's address (another user's endpoint holds it):
  // a notice stands in its place and nothing is sent there. The refusal is
  // settled here, before the recovery hears of any load.
  bool m_showsRefusal = false;
  bool m_refusalLoading = false;
  // This pane asked the engine to end its web process and has not yet heard
  // that it ended.
  bool m_endingItsProcess = false;
  void ShowRefusal(const std::string& address);
  // The pane's own pages (notices, failed loads) in place of a page: one
  // loading, then shown under |m_ownPageAddress|. A click on its "Try again"
  // link is the pane's Refresh.
  void LoadOwnPage(const std::string& html, const std::string& address);
  bool IsTryAgain(WebKitNavigationAction* action, const char* uri) const;
  OwnPage OwnPageFor(const std::string& address) const;
  std::string m_ownPageAddress;
  bool m_ownPageLoading = false;
  bool m_ownPageShown = false;
  // Requests that may be the program's load, watched until one is sent: a
  // load lost before is asked for again, one lost after is not.
  struct WatchedRequest {
    platform::GObjectPtr<WebKitWebResource> resource;
    std::unique_ptr<platform::SignalHandlers> handlers;  // goes first
  };
  std::vector<WatchedRequest> m_watchedRequests;
  std::array<PaneTimer, PaneRecovery::kTimerCount> m_timers;
  PaneRecovery m_recovery;
};

namespace {

// Trampolines: the engine's C signals back into the pane.
using Pane = BrowserPane::Impl;

// When a pane last asked the engine to end its web process. The panes that
// share that process hear of its end at once (WebKitGTK 2.42) or a moment
// later (2.52), never seconds later.
std::chrono::steady_clock::time_point g_lastProcessEndAsked{};
constexpr std::chrono::seconds kProcessEndHeardWithin{5};

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
    static_cast<Pane*>(self)->OnNewWindow(action);
    return 0;
  });
  return nullptr;  // never a new view inside the program
}

// Unhandled, the engine would grant some requests (pointer lock) itself.
gboolean OnPermissionRequestSignal(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
  if (PanePolicy::MayGrant(PermissionOf(request))) {
    webkit_permission_request_allow(request);
  } else {
    webkit_permission_request_deny(request);
  }
  return TRUE;
}

gboolean OnQueryPermissionStateSignal(WebKitWebView*, WebKitPermissionStateQuery* query, gpointer) {
  const Permission permission =
      PermissionNamed(Text(webkit_permission_state_query_get_name(query)));
  webkit_permission_state_query_finish(query, PanePolicy::MayGrant(permission)
                                                  ? WEBKIT_PERMISSION_STATE_PROMPT
                                                  : WEBKIT_PERMISSION_STATE_DENIED);
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

gboolean OnLoadFailedSignal(WebKitWebView*, WebKitLoadEvent, const char* address, GError* error,
                            gpointer self) {
  const gboolean engineShowsItsOwn = FALSE;
  return Guarded("load-failed", engineShowsItsOwn, [&]() -> gboolean {
    return static_cast<Pane*>(self)->OnLoadFailed(address, error) ? TRUE : FALSE;
  });
}

// The network side starts a request, and later sends it to the server.
void OnResourceLoadStartedSignal(WebKitWebView*, WebKitWebResource* resource,
                                 WebKitURIRequest* request, gpointer self) {
  Guarded("resource-load-started", 0, [&] {
    static_cast<Pane*>(self)->OnRequestStarted(resource, request);
    return 0;
  });
}

void OnSentRequestSignal(WebKitWebResource*, WebKitURIRequest* request, WebKitURIResponse*,
                         gpointer self) {
  Guarded("sent-request", 0, [&] {
    static_cast<Pane*>(self)->OnRequestSent(request);
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

}  // namespace

BrowserPane::Impl::Impl(WebSession& session, PaneRole role, PaneBar bar, WebKitWebView* related)
    : m_session(session),
      m_policy(role, bar),
      m_view(session.NewView(related)),
      m_handlers(m_view.get()),
      m_visibility(GTK_WIDGET(m_view.get())),
      m_recovery(
          *this, [] { return std::chrono::steady_clock::now(); }, session.Timings(),
          m_policy.RecoversByItself()) {
  for (std::size_t i = 0; i < m_timers.size(); ++i) {
    m_timers[i].pane = this;
    m_timers[i].timer = static_cast<Timer>(i);
  }
  m_handlers.Connect("decide-policy", G_CALLBACK(OnDecidePolicySignal), this);
  m_handlers.Connect("create", G_CALLBACK(OnCreateSignal), this);
  m_handlers.Connect("permission-request", G_CALLBACK(OnPermissionRequestSignal), this);
  m_handlers.Connect("query-permission-state", G_CALLBACK(OnQueryPermissionStateSignal), this);
  m_handlers.Connect("script-dialog", G_CALLBACK(OnScriptDialogSignal), this);
  m_handlers.Connect("load-changed", G_CALLBACK(OnLoadChangedSignal), this);
  m_handlers.Connect("load-failed", G_CALLBACK(OnLoadFailedSignal), this);
  m_handlers.Connect("resource-load-started", G_CALLBACK(OnResourceLoadStartedSignal), this);
  m_handlers.Connect("web-process-terminated", G_CALLBACK(OnWebProcessTerminatedSignal), this);
  m_handlers.Connect("notify::is-web-process-responsive", G_CALLBACK(OnResponsiveSignal), this);
  m_handlers.Connect("notify::is-loading", G_CALLBACK(OnLoadingSignal), this);

  gtk_overlay_set_child(m_frame.gobj(), GTK_WIDGET(m_view.get()));
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
  if (m_frame.get_parent()) {
    // Whoever put the pane in a container takes it out; an empty frame stays
    // there until the container goes.
    g_warning("Browser pane destroyed while still placed in a container");
  }
  // Nothing reaches the pane while it goes.
  for (PaneTimer& timer : m_timers) {
    timer.source.Reset();
  }
  m_reloadSoon.Reset();
  m_handlers.DisconnectAll();
  m_watchedRequests.clear();
  m_dialog.Close();
  m_historyBeforeNotice.reset();
  // The view goes with the pane, whatever holds the frame: no view outlives
  // its policies.
  gtk_overlay_set_child(m_frame.gobj(), nullptr);
}

// --- Operations ---------------------------------------------------------

void BrowserPane::Impl::Navigate(const std::string& address) {
  if (!PanePolicy::MayShow(address)) {
    return;  // a javascript: address would otherwise run in the current page
  }
  if (m_session.Refuses(address.c_str())) {
    CloseScriptDialog();
    ShowRefusal(address);
    return;
  }
  m_showsRefusal = false;
  m_recovery.Navigate(address);
}

void BrowserPane::Impl::GoBack() {
  if (webkit_web_view_can_go_back(View())) {
    m_recovery.GoBack();
  }
}

void BrowserPane::Impl::GoForward() {
  if (webkit_web_view_can_go_forward(View())) {
    m_recovery.GoForward();
  }
}

void BrowserPane::Impl::Refresh() {
  if (m_showsRefusal) {
    // A reload of the notice could ask the refused address itself.
    const char* uri = webkit_web_view_get_uri(View());
    ShowRefusal(uri ? uri : "about:blank");
    return;
  }
  m_recovery.Refresh();
}

void BrowserPane::Impl::Stop() {
  m_recovery.Stop();
}

// --- What the recovery decides --------------------------------------------

void BrowserPane::Impl::IssueLoad(const PaneLoad& load) {
  m_ownPageLoading = false;  // the program's load takes its place
  m_watchedRequests.clear();
  switch (load.kind) {
    case PaneLoad::Kind::kAddress:
      webkit_web_view_load_uri(View(), load.address.c_str());
      return;
    case PaneLoad::Kind::kBack:
      webkit_web_view_go_back(View());
      return;
    case PaneLoad::Kind::kForward:
      webkit_web_view_go_forward(View());
      return;
    case PaneLoad::Kind::kReload:
      webkit_web_view_reload(View());
      return;
    case PaneLoad::Kind::kCurrentEntry:
      WebKitBackForwardList* history = webkit_web_view_get_back_forward_list(View());
      if (WebKitBackForwardListItem* current = webkit_back_forward_list_get_current_item(history)) {
        webkit_web_view_go_to_back_forward_list_item(View(), current);
      } else {
        webkit_web_view_reload(View());
      }
      return;
  }
}

void BrowserPane::Impl::StopLoading() {
  webkit_web_view_stop_loading(View());
}

// Every pane that shares the process hears that it ended "by the program".
// WebKitGTK 2.42 tells them all before this returns; 2.52 tells the others
// later, from the main loop. So the pane that asked remembers it until it
// hears of the end itself, and a pane that hears of an end it did not ask for,
// just after another pane asked, knows that a pane sharing its process ended
// it.
void BrowserPane::Impl::EndWebProcess() {
  m_endingItsProcess = true;
  g_lastProcessEndAsked = std::chrono::steady_clock::now();
  webkit_web_view_terminate_web_process(View());
}

// Asked while the engine tells of the ended process. WebKitGTK 2.52 drops a
// reload ordered inside that signal, and 2.42 has forgotten the page's
// address once it is over; the history has not, so the page comes back from
// its entry there, ordered from the main loop right after the signal.
void BrowserPane::Impl::ReloadPage() {
  m_reloadSoon.Reset(g_idle_add(OnReloadSoon, this));
}

gboolean BrowserPane::Impl::OnReloadSoon(gpointer data) {
  auto* pane = static_cast<Impl*>(data);
  pane->m_reloadSoon.Forget();  // this source ends when the callback returns
  Guarded("reload", 0, [&] {
    pane->IssueLoad(PaneLoad{PaneLoad::Kind::kCurrentEntry, {}});
    return 0;
  });
  return G_SOURCE_REMOVE;
}

void BrowserPane::Impl::ShowNoticePage(PaneNotice notice, const std::string& lostAddress) {
  if (!m_historyBeforeNotice) {
    m_historyBeforeNotice.reset(webkit_web_view_get_session_state(View()));
  }
  const char* uri = webkit_web_view_get_uri(View());
  const std::string address = !lostAddress.empty() ? lostAddress
                              : uri && *uri        ? uri
                                                   : "about:blank";
  LoadOwnPage(NoticePage(notice, OwnPageFor(address)), address);
}

void BrowserPane::Impl::ShowRefusal(const std::string& address) {
  m_showsRefusal = true;
  m_refusalLoading = true;
  OwnPage page = OwnPageFor(address);
  page.offersRetry = false;  // nothing would be asked there again
  LoadOwnPage(NoticePage(PaneNotice::kRefused, page), address);
}

OwnPage BrowserPane::Impl::OwnPageFor(const std::string& address) const {
  return {address, true, m_policy.RecoversByItself()};
}

void BrowserPane::Impl::LoadOwnPage(const std::string& html, const std::string& address) {
  m_ownPageAddress = address;
  m_ownPageLoading = true;
  webkit_web_view_load_alternate_html(View(), html.c_str(), address.c_str(), nullptr);
}

// The user clicked the "Try again" link of the pane's own page. The pages run
// no script, so only a click follows the link, and only to the address the
// page names.
bool BrowserPane::Impl::IsTryAgain(WebKitNavigationAction* action, const char* uri) const {
  return m_ownPageShown && uri && m_ownPageAddress == uri &&
         webkit_navigation_action_get_navigation_type(action) ==
             WEBKIT_NAVIGATION_TYPE_LINK_CLICKED &&
         webkit_navigation_action_is_user_gesture(action);
}

void BrowserPane::Impl::RestoreHistory() {
  if (m_historyBeforeNotice) {
    webkit_web_view_restore_session_state(View(), m_historyBeforeNotice.get());
    m_historyBeforeNotice.reset();
  }
}

void BrowserPane::Impl::SetHangNoticeVisible(bool visible) {
  if (m_hangNotice.get_visible() != visible) {
    m_hangNotice.set_visible(visible);
  }
}

void BrowserPane::Impl::CloseScriptDialog() {
  m_dialog.Close();
}

bool BrowserPane::Impl::IsResponsive() const {
  return webkit_web_view_get_is_web_process_responsive(View());
}

bool BrowserPane::Impl::IsLoading() const {
  return webkit_web_view_is_loading(View());
}

void BrowserPane::Impl::StartTimer(Timer timer, std::chrono::milliseconds delay) {
  PaneTimer& slot = m_timers[static_cast<std::size_t>(timer)];
  if (timer == Timer::kLostLoad) {
    slot.source.Reset(g_idle_add(OnTimerSignal, &slot));
    return;
  }
  slot.source.Reset(g_timeout_add(static_cast<guint>(delay.count()), OnTimerSignal, &slot));
}

void BrowserPane::Impl::StopTimer(Timer timer) {
  m_timers[static_cast<std::size_t>(timer)].source.Reset();
}

gboolean BrowserPane::Impl::OnTimerSignal(gpointer data) {
  auto* slot = static_cast<PaneTimer*>(data);
  slot->source.Forget();  // this source ends when the callback returns
  Guarded("timer", 0, [&] {
    slot->pane->m_recovery.Fire(slot->timer);
    return 0;
  });
  return G_SOURCE_REMOVE;
}

// --- Signals ------------------------------------------------------------

gboolean BrowserPane::Impl::OnDecidePolicy(WebKitPolicyDecision* decision,
                                           WebKitPolicyDecisionType type) {
  switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
      WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision));
      const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
      if (IsTryAgain(action, uri)) {
        webkit_policy_decision_ignore(decision);
        Refresh();
        return TRUE;
      }
      if (uri && m_session.Refuses(uri)) {
        if (m_refusalLoading) {
          m_refusalLoading = false;  // the notice itself, shown under the address
          webkit_policy_decision_use(decision);
        } else {
          // Reached by a redirect, the history or a reload: nothing goes out.
          webkit_policy_decision_ignore(decision);
          ShowRefusal(uri);
        }
      } else if (uri && PanePolicy::MayShow(uri)) {
        m_showsRefusal = false;
        webkit_policy_decision_use(decision);
      } else {
        webkit_policy_decision_ignore(decision);
      }
      return TRUE;
    }
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: {
      webkit_policy_decision_ignore(decision);
      OnNewWindow(webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision)));
      return TRUE;
    }
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
      auto* response_decision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
      WebKitURIResponse* response = webkit_response_policy_decision_get_response(response_decision);
      const ResponseAnswer answer = PanePolicy::ForResponse(
          DispositionOf(response),
          webkit_response_policy_decision_is_mime_type_supported(response_decision));
      if (answer == ResponseAnswer::kShow) {
        webkit_policy_decision_use(decision);
      } else {
        // What the pane cannot show is saved at the user's word, else dropped.
        PaneBrowsing::OfferDownload(View(), decision);
      }
      return TRUE;
    }
  }
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

// A page asked for a new window; never one inside the program.
void BrowserPane::Impl::OnNewWindow(WebKitNavigationAction* action) {
  const std::string_view uri =
      Text(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
  if (PanePolicy::ForNewWindow(uri, webkit_navigation_action_is_user_gesture(action)) ==
      NewWindowAnswer::kOpenInDefaultBrowser) {
    Guarded("default browser", false,
            [&] { return m_session.DefaultBrowser().Open(std::string(uri)); });
  }
}

gboolean BrowserPane::Impl::OnScriptDialog(WebKitScriptDialog* dialog) {
  const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
  const ScriptDialogKind kind = KindOf(type);
  const bool loadWaiting =
      kind != ScriptDialogKind::kBeforeUnload && m_recovery.ScriptDialogArrived();
  switch (m_policy.ForScriptDialog(kind, loadWaiting)) {
    case ScriptDialogAnswer::kLeavePage:
      webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
      break;
    case ScriptDialogAnswer::kDismiss:
      // Handled without showing: the dialog closes when the signal returns.
      if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM) {
        webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
      }
      break;
    case ScriptDialogAnswer::kShow:
      m_dialog.Show(dialog);
      break;
  }
  return TRUE;
}

void BrowserPane::Impl::OnLoadChanged(WebKitLoadEvent event) {
  if (event == WEBKIT_LOAD_STARTED) {
    m_recovery.LoadStarted();
  } else if (event == WEBKIT_LOAD_COMMITTED) {
    // Only the refusal notice ever commits under a refused address; the
    // history may bring it back without asking the navigation policy.
    const char* uri = webkit_web_view_get_uri(View());
    m_showsRefusal = uri && m_session.Refuses(uri);
    // The notice is in: the next load of a refused address is refused again.
    m_refusalLoading = false;
    m_ownPageShown = std::exchange(m_ownPageLoading, false);
    m_recovery.LoadCommitted();
    m_watchedRequests.clear();  // the page came: its requests no longer matter
  } else if (event == WEBKIT_LOAD_FINISHED) {
    m_recovery.LoadFinished();
  }
}

// In place of the engine's one line of text: a page of the pane's own that
// says what failed. Nothing is asked for again until the user says so.
bool BrowserPane::Impl::OnLoadFailed(const char* address, const GError* error) {
  if (!address || !error) {
    return false;
  }
  if (m_showsRefusal || m_recovery.Notice() != PaneNotice::kNone) {
    return true;  // a notice stands in the page's place already
  }
  const char* domain = g_quark_to_string(error->domain);
  if (!ShowsAProblemPage(domain, error->code)) {
    return false;
  }
  const bool networkAvailable =
      g_network_monitor_get_network_available(g_network_monitor_get_default());
  const LoadProblem problem = ProblemOf(domain, error->code, address, networkAvailable);
  LoadOwnPage(ProblemPage(problem, OwnPageFor(address), Text(error->message)), address);
  return true;
}

void BrowserPane::Impl::OnRequestStarted(WebKitWebResource* resource, WebKitURIRequest* request) {
  if (!m_recovery.WatchesRequestFor(std::string(Text(webkit_uri_request_get_uri(request))))) {
    return;
  }
  auto handlers = std::make_unique<platform::SignalHandlers>(resource);
  handlers->Connect("sent-request", G_CALLBACK(OnSentRequestSignal), this);
  m_watchedRequests.push_back({platform::Share(resource), std::move(handlers)});
}

void BrowserPane::Impl::OnRequestSent(WebKitURIRequest* request) {
  m_recovery.RequestSent(std::string(Text(webkit_uri_request_get_uri(request))));
}

void BrowserPane::Impl::OnWebProcessTerminated(WebKitWebProcessTerminationReason reason) {
  PaneRecovery::Ending ending = PaneRecovery::Ending::kOnPurpose;
  if (reason == WEBKIT_WEB_PROCESS_CRASHED) {
    ending = PaneRecovery::Ending::kCrashed;
  } else if (reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT) {
    ending = PaneRecovery::Ending::kMemoryLimit;
  } else if (!m_endingItsProcess &&
             std::chrono::steady_clock::now() - g_lastProcessEndAsked < kProcessEndHeardWithin) {
    ending = PaneRecovery::Ending::kByPaneSharingIt;
  }
  m_endingItsProcess = false;
  m_recovery.WebProcessEnded(ending);
}

void BrowserPane::Impl::OnResponsivenessChanged() {
  m_recovery.ResponsivenessChanged(IsResponsive());
}

void BrowserPane::Impl::OnLoadingChanged() {
  m_recovery.LoadingChanged(IsLoading());
}

// --- BrowserPane ----------------------------------------------------------

BrowserPane::BrowserPane(WebSession& session, PaneRole role, BrowserPane* sharesProcessWith,
                         PaneBar bar)
    : m_impl(std::make_unique<Impl>(
          session, role, bar, sharesProcessWith ? sharesProcessWith->m_impl->View() : nullptr)),
      m_browsing(std::make_unique<PaneBrowsing>(*this, m_impl->View(), m_impl->Frame(), session)) {}

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
  return m_impl->Policy().Role();
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
