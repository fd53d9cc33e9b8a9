// SPDX-License-Identifier: MIT
// The engine's signals of a pane's view: what they report, in the core's
// terms, and the core's answers carried out on the view.
#include <memory>
#include <string>
#include <string_view>

#include <webkit/webkit.h>

#include "platform/default_browser.hpp"
#include "web/core/guarded.hpp"
#include "web/engine/pane_view.hpp"
#include "web/engine/web_session.hpp"

namespace ticklark::web {

namespace {

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

// Trampolines: the engine's C signals back into the pane.
using Pane = PaneView;

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

void PaneView::ConnectSignals() {
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
}

gboolean PaneView::OnDecidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) {
  switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
      WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision));
      const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
      if (!uri) {
        break;
      }
      const bool clicked = webkit_navigation_action_get_navigation_type(action) ==
                               WEBKIT_NAVIGATION_TYPE_LINK_CLICKED &&
                           webkit_navigation_action_is_user_gesture(action);
      const NavigationAnswer answer = m_core.ForNavigation(uri, clicked);
      if (answer == NavigationAnswer::kUse) {
        webkit_policy_decision_use(decision);
        return TRUE;
      }
      webkit_policy_decision_ignore(decision);
      if (answer == NavigationAnswer::kIgnoreAndTryAgain) {
        m_core.Refresh();
      } else if (answer == NavigationAnswer::kIgnoreAndRefuse) {
        m_core.ShowRefusal(uri);
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
      switch (m_core.ForResponse(
          DispositionOf(response),
          webkit_response_policy_decision_is_mime_type_supported(response_decision))) {
        case ResponseStep::kShow:
          webkit_policy_decision_use(decision);
          return TRUE;
        case ResponseStep::kSave:
          webkit_policy_decision_download(decision);
          return TRUE;
        case ResponseStep::kDrop:
          break;
      }
      break;
    }
  }
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

// A page asked for a new window; never one inside the program.
void PaneView::OnNewWindow(WebKitNavigationAction* action) {
  const std::string_view uri =
      Text(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
  if (PanePolicy::ForNewWindow(uri, webkit_navigation_action_is_user_gesture(action)) ==
      NewWindowAnswer::kOpenInDefaultBrowser) {
    Guarded("default browser", false,
            [&] { return m_session.DefaultBrowser().Open(std::string(uri)); });
  }
}

gboolean PaneView::OnScriptDialog(WebKitScriptDialog* dialog) {
  const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
  switch (m_core.ForScriptDialog(KindOf(type))) {
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

void PaneView::OnLoadChanged(WebKitLoadEvent event) {
  if (event == WEBKIT_LOAD_STARTED) {
    m_core.LoadStarted();
  } else if (event == WEBKIT_LOAD_COMMITTED) {
    m_core.LoadCommitted(CurrentAddress());
    m_watchedRequests.clear();  // the page came: its requests no longer matter
  } else if (event == WEBKIT_LOAD_FINISHED) {
    m_core.LoadFinished();
  }
}

bool PaneView::OnLoadFailed(const char* address, const GError* error) {
  if (!address || !error) {
    return false;
  }
  return m_core.LoadFailed(
      {address, std::string(Text(g_quark_to_string(error->domain))), error->code,
       std::string(Text(error->message)),
       g_network_monitor_get_network_available(g_network_monitor_get_default()) != FALSE});
}

void PaneView::OnRequestStarted(WebKitWebResource* resource, WebKitURIRequest* request) {
  if (!m_core.WatchesRequestFor(std::string(Text(webkit_uri_request_get_uri(request))))) {
    return;
  }
  auto handlers = std::make_unique<platform::SignalHandlers>(resource);
  handlers->Connect("sent-request", G_CALLBACK(OnSentRequestSignal), this);
  m_watchedRequests.push_back({platform::Share(resource), std::move(handlers)});
}

void PaneView::OnRequestSent(WebKitURIRequest* request) {
  m_core.RequestSent(std::string(Text(webkit_uri_request_get_uri(request))));
}

void PaneView::OnWebProcessTerminated(WebKitWebProcessTerminationReason reason) {
  PaneRecovery::Ending ending = PaneRecovery::Ending::kOnPurpose;
  if (reason == WEBKIT_WEB_PROCESS_CRASHED) {
    ending = PaneRecovery::Ending::kCrashed;
  } else if (reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT) {
    ending = PaneRecovery::Ending::kMemoryLimit;
  } else if (!m_endingItsProcess && m_session.ProcessEndAskedJustNow()) {
    ending = PaneRecovery::Ending::kByPaneSharingIt;
  }
  m_endingItsProcess = false;
  m_core.WebProcessEnded(ending);
}

void PaneView::OnResponsivenessChanged() {
  m_core.ResponsivenessChanged(IsResponsive());
}

void PaneView::OnLoadingChanged() {
  m_core.LoadingChanged(IsLoading());
}

}  // namespace ticklark::web
