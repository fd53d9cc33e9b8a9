// SPDX-License-Identifier: MIT
#include "web/engine/web_session.hpp"

#include <chrono>
#include <optional>
#include <utility>

#include <webkit/webkit.h>

#include "platform/web_address.hpp"
#include "ticklark/version.hpp"
#include "web/browsing/pane_downloads.hpp"
#include "web/browsing/pane_services.hpp"
#include "web/core/load_guard.hpp"
#include "web/core/pane_policy.hpp"

namespace ticklark::web {

namespace {

void OnDownloadStartedSignal(WebKitNetworkSession*, WebKitDownload* download,
                             gpointer self) noexcept {
  static_cast<WebSession*>(self)->OnDownloadStarted(download);
}

// The engine sizes its caches from the cache model when a context is made, so
// the model is chosen before ours exists. The web-browser model keeps each web
// process whose pages have gone for five minutes, ready for another page of
// its site: a closed site window's process stayed behind that way, with all its
// memory. The document-browser model keeps no idle web process, and still the
// two pages Back and Forward restore at once, an object cache and a disk cache.
void ChooseCacheModel() {
  webkit_web_context_set_cache_model(webkit_web_context_get_default(),
                                     WEBKIT_CACHE_MODEL_DOCUMENT_BROWSER);
}

// The engine collects the script objects of pages left behind only now and
// then, and the documents they hold stay in the web process until it does: the
// main window's one web process grew by its size at rest every 300 menu
// commands or so, and pages that keep 30 MB of script objects each took the
// tree to 2.9 times its size in 200 commands. A web process beyond 64 MB is
// told to give back memory at the next look, every ten seconds: the engine
// then collects those objects, drops the pages kept for Back and the decoded
// resources, and ends no page. Pages of real sites keep a web process beyond
// that all the time, so Back there reloads the page (from the cache) instead
// of restoring it; with pages of that weight the process used no more
// processor time than without it (bench/site-windows-memory).
constexpr unsigned kGiveBackLimitMb = 128;
constexpr double kReleaseSomeAt = 0.4;  // of the limit: font and style caches
constexpr double kReleaseAllAt = 0.5;   // of the limit: script objects and kept pages
constexpr double kLookEverySeconds = 10;

platform::GObjectPtr<WebKitWebContext> NewContext(const WebSession::Options& options) {
  ChooseCacheModel();
  const platform::CPtr<WebKitMemoryPressureSettings, webkit_memory_pressure_settings_free> pressure(
      webkit_memory_pressure_settings_new());
  if (options.memoryLimitMb) {
    webkit_memory_pressure_settings_set_memory_limit(pressure.get(), *options.memoryLimitMb);
    // Ended on reaching the limit itself, not at a fraction of it.
    webkit_memory_pressure_settings_set_kill_threshold(pressure.get(), 1.0);
    webkit_memory_pressure_settings_set_poll_interval(
        pressure.get(), std::chrono::duration<double>(options.memoryCheckInterval).count());
  } else {
    webkit_memory_pressure_settings_set_memory_limit(pressure.get(), kGiveBackLimitMb);
    webkit_memory_pressure_settings_set_conservative_threshold(pressure.get(), kReleaseSomeAt);
    webkit_memory_pressure_settings_set_strict_threshold(pressure.get(), kReleaseAllAt);
    webkit_memory_pressure_settings_set_kill_threshold(pressure.get(), 0);  // never
    webkit_memory_pressure_settings_set_poll_interval(pressure.get(), kLookEverySeconds);
  }
  return platform::Adopt(WEBKIT_WEB_CONTEXT(
      g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "memory-pressure-settings", pressure.get(), nullptr)));
}

platform::GObjectPtr<WebKitNetworkSession> NewNetworkSession(WebSession::Storage storage) {
  if (storage == WebSession::Storage::kEphemeral) {
    return platform::Adopt(webkit_network_session_new_ephemeral());
  }
  auto session = platform::Adopt(webkit_network_session_new(WebSession::DataDirectory().c_str(),
                                                            WebSession::CacheDirectory().c_str()));
  // Without a file the engine keeps cookies in memory only.
  const std::string cookies = WebSession::DataDirectory() + "/cookies.sqlite";
  webkit_cookie_manager_set_persistent_storage(
      webkit_network_session_get_cookie_manager(session.get()), cookies.c_str(),
      WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
  return session;
}

// The same settings for every pane; anything that lets a page reach beyond
// its pane (new windows, devices, full screen, the file system) stays off.
platform::GObjectPtr<WebKitSettings> NewSettings() {
  return platform::Adopt(webkit_settings_new_with_settings(
      "enable-developer-extras", FALSE, "javascript-can-open-windows-automatically", FALSE,
      "javascript-can-access-clipboard", FALSE, "allow-file-access-from-file-urls", FALSE,
      "allow-universal-access-from-file-urls", FALSE, "allow-top-navigation-to-data-urls", FALSE,
      "disable-web-security", FALSE, "enable-media-stream", FALSE, "enable-webrtc", FALSE,
      "enable-fullscreen", FALSE, "media-playback-requires-user-gesture", TRUE, nullptr));
}

void KeepNavigationsInTheirProcess(WebKitSettings* settings) {
  const platform::CPtr<WebKitFeatureList, webkit_feature_list_unref> features(
      webkit_settings_get_all_features());
  for (gsize i = 0; i < webkit_feature_list_get_length(features.get()); ++i) {
    WebKitFeature* feature = webkit_feature_list_get(features.get(), i);
    if (g_strcmp0(webkit_feature_get_identifier(feature), "ProcessSwapOnCrossSiteNavigation") ==
        0) {
      webkit_settings_set_feature_enabled(settings, feature, FALSE);
    }
  }
}

using HostAndPort = WebSession::RefusedAddress;

std::optional<HostAndPort> HostAndPortOf(const char* address) {
  const auto parts = address ? platform::SplitAddress(address) : std::nullopt;
  if (!parts) {
    return std::nullopt;
  }
  return HostAndPort{parts->host, parts->port, platform::IsLoopbackHost(parts->host)};
}

}  // namespace

void WebSession::RefuseAddressesOf(const std::string& base) {
  m_refused = base.empty() ? std::nullopt : HostAndPortOf(base.c_str());
}

bool WebSession::Refuses(const char* address) const {
  if (m_loadGuard && address && !m_loadGuard->MayLoad(address)) {
    return true;
  }
  if (!m_refused) {
    return false;
  }
  const auto asked = HostAndPortOf(address);
  if (!asked || m_refused->port != asked->port) {
    return false;
  }
  return (m_refused->loopback && asked->loopback) ||
         g_ascii_strcasecmp(m_refused->host.c_str(), asked->host.c_str()) == 0;
}

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
      m_context(NewContext(options)),
      m_networkSession(NewNetworkSession(options.storage)),
      m_settings(NewSettings()),
      m_networkSessionHandlers(m_networkSession.get()),
      m_services(std::make_unique<PaneServices>(options.storage == Storage::kPersistent
                                                    ? ZoomStore::DefaultFile()
                                                    : std::filesystem::path())) {
  WebKitNetworkSession* network = m_networkSession.get();
  webkit_network_session_set_persistent_credential_storage_enabled(network, FALSE);
  webkit_network_session_set_itp_enabled(network, TRUE);
  webkit_network_session_set_tls_errors_policy(network, WEBKIT_TLS_ERRORS_POLICY_FAIL);
  m_networkSessionHandlers.Connect("download-started", G_CALLBACK(OnDownloadStartedSignal), this);
  // Pages are drawn without accelerated compositing: the panes show tables,
  // charts and news, and composited layers cost each view's web process more
  // than twice the memory (207 MB against 87 MB for the main window's three
  // panes, measured with bench/panes), rendered in software on most desktops
  // without a GPU anyway.
  webkit_settings_set_hardware_acceleration_policy(m_settings.get(),
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
}

platform::GObjectPtr<WebKitWebView> WebSession::MakeView(WebKitWebView* related) {
  GObject* object = nullptr;
  if (related) {
    // Context and network session come with the related view.
    object = static_cast<GObject*>(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", related,
                                                "settings", m_settings.get(), nullptr));
  } else {
    object = static_cast<GObject*>(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", m_context.get(), "network-session",
                     m_networkSession.get(), "settings", m_settings.get(), nullptr));
  }
  auto view = platform::Sink(WEBKIT_WEB_VIEW(object));
  if (!m_navigationsStayInTheirProcess) {
    // A page that goes to another site stays in its web process, as the
    // panes of one window share theirs from the start. Left to the engine, a
    // pane moves to a new web process at every other site and leaves the old
    // one behind, suspended for Back or kept for that site's next page: after
    // a day of menu commands the main window held ten web processes and almost
    // three times its memory. The engine reads this setting from the views
    // using it, so it is changed once the first view exists.
    m_navigationsStayInTheirProcess = true;
    KeepNavigationsInTheirProcess(m_settings.get());
  }
  return view;
}

platform::GObjectPtr<WebKitWebView> WebSession::NewView(WebKitWebView* related) {
  // The first view of its own joins the web process started ahead for it.
  if (!related && m_viewStartedAhead) {
    const platform::GObjectPtr<WebKitWebView> startedAhead =
        std::exchange(m_viewStartedAhead, nullptr);
    return MakeView(startedAhead.get());
  }
  return MakeView(related);
}

void WebSession::StartWebProcessAhead(const std::string& address) {
  if (m_viewStartedAhead) {
    return;
  }
  // A view starts its web process with its first load, not before.
  m_viewStartedAhead = MakeView(nullptr);
  webkit_web_view_load_uri(m_viewStartedAhead.get(), "about:blank");
  // Starts the network process too; a name lookup sends nothing to the host.
  if (const auto parts = HostAndPortOf(address.c_str()); parts && !parts->host.empty()) {
    webkit_network_session_prefetch_dns(m_networkSession.get(), parts->host.c_str());
  }
}

void WebSession::EndWebProcessAhead() {
  if (m_viewStartedAhead) {
    webkit_web_view_terminate_web_process(m_viewStartedAhead.get());
    m_viewStartedAhead.reset();
  }
}

// The download code goes first, then the handler, the settings, the network
// session and the context, each with its holder.
WebSession::~WebSession() = default;

// A download goes on when a user's action in its pane asked for it and the
// user chose where it goes; anything else is cancelled.
void WebSession::OnDownloadStarted(WebKitDownload* download) {
  bool kept = false;
  try {
    kept = m_services->Transfers().Start(download);
  } catch (...) {
    g_warning("Web session: a download could not be started");
  }
  if (kept) {
    return;
  }
  // Cancelled before a destination is chosen: nothing reaches the disk.
  webkit_download_cancel(download);
  ++m_cancelledDownloads;
}

}  // namespace ticklark::web
