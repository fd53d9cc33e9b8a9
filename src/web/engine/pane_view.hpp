// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtkmm/label.h>
#include <gtkmm/overlay.h>
#include <webkit/webkit.h>

#include "platform/gobject_ptr.hpp"
#include "web/core/pane_core.hpp"
#include "web/engine/pane_visibility.hpp"
#include "web/engine/script_dialog_panel.hpp"

namespace ticklark::web {

class WebSession;

// The engine side of a pane: one WebKitWebView in the pane's frame. Its
// signals become reports and questions for the pane's PaneCore, and what the
// core decides is carried out on the view. Everything here is about the
// engine; the rules live in the core.
class PaneView final : private PaneEngine {
 public:
  PaneView(WebSession& session, PaneRole role, PaneBar bar, WebKitWebView* related);
  ~PaneView() override;

  PaneView(const PaneView&) = delete;
  PaneView& operator=(const PaneView&) = delete;

  // What the pane's features build on: the view, the frame it sits in (an
  // overlay that takes more children over the page), the core and the session.
  WebKitWebView* View() const { return m_view.get(); }
  Gtk::Overlay& Frame() { return m_frame; }
  PaneCore& Core() { return m_core; }
  const PaneCore& Core() const { return m_core; }
  WebSession& Session() const { return m_session; }

  // PaneEngine, as the pane's own operations use it too.
  bool ShowsScriptDialog() const override { return m_dialog.IsOpen(); }
  bool IsLoading() const override;
  bool CanGoBack() const override;
  bool CanGoForward() const override;
  std::string CurrentAddress() const override;

  // Signal handlers, reached through the trampolines (pane_view_signals.cpp).
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
  // One of the core's timers, as GLib runs it.
  struct PaneTimer {
    PaneView* pane = nullptr;
    Timer timer = Timer::kUnresponsive;
    platform::SourceId source;
  };
  static gboolean OnTimerSignal(gpointer data);
  static gboolean OnReloadSoon(gpointer data);
  // Connects the view's signals to the trampolines.
  void ConnectSignals();

  // PaneEngine
  void IssueLoad(const PaneLoad& load) override;
  void StopLoading() override;
  void EndWebProcess() override;
  void ReloadPage() override;
  void LoadOwnPage(const std::string& html, const std::string& address) override;
  void KeepHistory() override;
  void RestoreHistory() override;
  void SetHangNoticeVisible(bool visible) override;
  void CloseScriptDialog() override;
  bool IsResponsive() const override;
  bool Refuses(const std::string& address) const override;
  void StartTimer(Timer timer, std::chrono::milliseconds delay) override;
  void StopTimer(Timer timer) override;

  using SessionStatePtr =
      platform::CPtr<WebKitWebViewSessionState, webkit_web_view_session_state_unref>;

  WebSession& m_session;
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
  // This pane asked the engine to end its web process and has not yet heard
  // that it ended.
  bool m_endingItsProcess = false;
  // Requests that may be the program's load, watched until one is sent: a
  // load lost before is asked for again, one lost after is not.
  struct WatchedRequest {
    platform::GObjectPtr<WebKitWebResource> resource;
    std::unique_ptr<platform::SignalHandlers> handlers;  // goes first
  };
  std::vector<WatchedRequest> m_watchedRequests;
  std::array<PaneTimer, PaneRecovery::kTimerCount> m_timers;
  platform::SourceId m_reloadSoon;
  PaneCore m_core;
};

}  // namespace ticklark::web
