// SPDX-License-Identifier: MIT
#include "web/web_session.hpp"

#include <chrono>

#include <webkit/webkit.h>

#include "ticklark/version.hpp"
#include "web/pane_downloads.hpp"
#include "web/pane_services.hpp"

namespace ticklark::web {

namespace {

void OnDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer self) noexcept {
  static_cast<WebSession*>(self)->StartDownload(download);
}

WebKitWebContext* NewContext(const WebSession::Options& options) {
  if (!options.memoryLimitMb) {
    return webkit_web_context_new();
  }
  WebKitMemoryPressureSettings* pressure = webkit_memory_pressure_settings_new();
  webkit_memory_pressure_settings_set_memory_limit(pressure, *options.memoryLimitMb);
  // Ended on reaching the limit itself, not at a fraction of it.
  webkit_memory_pressure_settings_set_kill_threshold(pressure, 1.0);
  webkit_memory_pressure_settings_set_poll_interval(
      pressure, std::chrono::duration<double>(options.memoryCheckInterval).count());
  auto* context = WEBKIT_WEB_CONTEXT(
      g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "memory-pressure-settings", pressure, nullptr));
  webkit_memory_pressure_settings_free(pressure);
  return context;
}

// The same settings for every pane; anything that lets a page reach beyond
// its pane (new windows, devices, full screen, the file system) stays off.
WebKitSettings* NewSettings() {
  return webkit_settings_new_with_settings(
      "enable-developer-extras", FALSE, "javascript-can-open-windows-automatically", FALSE,
      "javascript-can-access-clipboard", FALSE, "allow-file-access-from-file-urls", FALSE,
      "allow-universal-access-from-file-urls", FALSE, "allow-top-navigation-to-data-urls", FALSE,
      "disable-web-security", FALSE, "enable-media-stream", FALSE, "enable-webrtc", FALSE,
      "enable-fullscreen", FALSE, "media-playback-requires-user-gesture", TRUE, nullptr);
}

}  // namespace

std::string WebSession::DataDirectory() {
  return std::string(g_get_user_data_dir()) + "/" + kAppTitle;
}

std::string WebSession::CacheDirectory() {
  return std::string(g_get_user_cache_dir()) + "/" + kAppTitle;
}

WebSession::WebSession(platform::DefaultBrowser& defaultBrowser)
    : WebSession(defaultBrowser, Options{}) {}

WebSession::WebSession(platform::DefaultBrowser& defaultBrowser, Options options)
    : m_defaultBrowser(defaultBrowser),
      m_services(std::make_unique<PaneServices>(options.storage == Storage::kPersistent
                                                    ? ZoomStore::DefaultFile()
                                                    : std::filesystem::path())) {
  m_context = NewContext(options);
  if (options.storage == Storage::kEphemeral) {
    m_networkSession = webkit_network_session_new_ephemeral();
  } else {
    m_networkSession =
        webkit_network_session_new(DataDirectory().c_str(), CacheDirectory().c_str());
    // Without a file the engine keeps cookies in memory only.
    const std::string cookies = DataDirectory() + "/cookies.sqlite";
    webkit_cookie_manager_set_persistent_storage(
        webkit_network_session_get_cookie_manager(m_networkSession), cookies.c_str(),
        WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
  }
  webkit_network_session_set_persistent_credential_storage_enabled(m_networkSession, FALSE);
  webkit_network_session_set_itp_enabled(m_networkSession, TRUE);
  webkit_network_session_set_tls_errors_policy(m_networkSession, WEBKIT_TLS_ERRORS_POLICY_FAIL);
  m_downloadHandler =
      g_signal_connect(m_networkSession, "download-started", G_CALLBACK(OnDownloadStarted), this);
  m_settings = NewSettings();
  // Pages are drawn without accelerated compositing: the panes show tables,
  // charts and news, and composited layers cost each view's web process more
  // than twice the memory (207 MB against 87 MB for the main window's three
  // panes, measured with bench/panes), rendered in software on most desktops
  // without a GPU anyway.
  webkit_settings_set_hardware_acceleration_policy(m_settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
}

WebSession::~WebSession() {
  g_signal_handler_disconnect(m_networkSession, m_downloadHandler);
  m_services.reset();
  g_object_unref(m_settings);
  g_object_unref(m_networkSession);
  g_object_unref(m_context);
}

void WebSession::StartDownload(WebKitDownload* download) {
  bool kept = false;
  try {
    kept = m_services->Transfers().Start(download);
  } catch (...) {
    g_warning("Web session: a download could not be started");
  }
  if (!kept) {
    // Cancelled before a destination is chosen: nothing reaches the disk.
    webkit_download_cancel(download);
    ++m_cancelledDownloads;
  }
}

}  // namespace ticklark::web
