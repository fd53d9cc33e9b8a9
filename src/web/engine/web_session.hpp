// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/gobject_ptr.hpp"
#include "web/core/pane_recovery.hpp"

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitNetworkSession WebKitNetworkSession;
typedef struct _WebKitSettings WebKitSettings;
typedef struct _WebKitDownload WebKitDownload;
typedef struct _WebKitWebView WebKitWebView;

namespace ticklark::platform {
class DefaultBrowser;
}

namespace ticklark::web {

class LoadGuard;
class PaneServices;

// What every browser pane of the program shares: one web context, one network
// session (cookies, cache, website data), one set of engine settings and the
// way out to the desktop's default browser. One per program.
class WebSession {
 public:
  enum class Storage {
    kPersistent,  // website data under the user's data and cache folders
    kEphemeral,   // nothing written to disk (tests)
  };

  struct Options {
    Storage storage = Storage::kPersistent;
    // A web process that grows beyond this many megabytes is ended by the
    // engine (its pane shows a notice); unset, none is ended, and one beyond
    // 64 MB is told to give memory back.
    std::optional<unsigned> memoryLimitMb;
    // How often the engine looks at a web process's memory against the limit.
    std::chrono::milliseconds memoryCheckInterval{5000};
  };

  WebSession(platform::DefaultBrowser& defaultBrowser, Options options);
  explicit WebSession(platform::DefaultBrowser& defaultBrowser);
  ~WebSession();

  WebSession(const WebSession&) = delete;
  WebSession& operator=(const WebSession&) = delete;

  WebKitWebContext* Context() const { return m_context.get(); }
  WebKitNetworkSession* NetworkSession() const { return m_networkSession.get(); }
  WebKitSettings* Settings() const { return m_settings.get(); }
  platform::DefaultBrowser& DefaultBrowser() const { return m_defaultBrowser; }
  // Zoom levels, downloads, print settings and dialogs the panes share.
  PaneServices& Services() const { return *m_services; }

  const PaneTimings& Timings() const { return m_timings; }
  void SetTimings(const PaneTimings& timings) { m_timings = timings; }

  // Nothing is loaded from |base| ("scheme://host[:port]") any more: a pane
  // asked for an address there shows a notice instead. A loopback base counts
  // for every loopback name of the same port. Empty refuses nothing.
  void RefuseAddressesOf(const std::string& base);
  // An address's host and port as the refusal compares them.
  struct RefusedAddress {
    std::string host;
    int port = -1;
    bool loopback = false;
  };
  bool Refuses(const char* address) const;
  // From now on an address is refused too when |guard| does not allow it. The
  // guard outlives every pane of the session.
  void SetLoadGuard(LoadGuard& guard) { m_loadGuard = &guard; }

  // A pane asks the engine to end its web process. Every pane that shares the
  // process hears that it ended "by the program": WebKitGTK 2.42 tells them
  // all before the pane's call returns, 2.52 tells the others a moment later
  // from the main loop, never seconds later. A pane that hears of an end it
  // did not ask for, just after another pane asked, knows that a pane sharing
  // its process ended it.
  void NoteProcessEndAsked() { m_lastProcessEndAsked = std::chrono::steady_clock::now(); }
  bool ProcessEndAskedJustNow() const {
    return std::chrono::steady_clock::now() - m_lastProcessEndAsked < kProcessEndHeardWithin;
  }

  // Downloads refused so far (each one cancelled before anything was written).
  std::size_t CancelledDownloads() const { return m_cancelledDownloads; }

  // Where a persistent session keeps website data and cache.
  static std::string DataDirectory();
  static std::string CacheDirectory();

  // A new view for a pane, with the session's context, network session and
  // settings. |related| given: the view shares its web process. Else the view
  // started ahead takes the view's place when there is one, and a view of its
  // own otherwise.
  platform::GObjectPtr<WebKitWebView> NewView(WebKitWebView* related);

  // Starts the first window's web process and the network process ahead of
  // it: a view that no window shows loads the empty page, which asks nothing
  // of any server, and the host of |address| is looked up. The next view made
  // without a related view joins that process (NewView).
  void StartWebProcessAhead(const std::string& address);
  // Ends that web process again when no window will take it (the program is
  // told to end during the splash). Ended now, it goes at once and quietly;
  // left to go with the program, WebKitGTK 2.52's web process warns that its
  // bus connection closed under it.
  void EndWebProcessAhead();

  // Every download the engine starts, from any pane, comes here: it goes on
  // when a user's action in its pane asked for it, and is cancelled otherwise.
  // Called by its trampoline.
  void OnDownloadStarted(WebKitDownload* download);

 private:
  platform::GObjectPtr<WebKitWebView> MakeView(WebKitWebView* related);

  platform::DefaultBrowser& m_defaultBrowser;
  platform::GObjectPtr<WebKitWebContext> m_context;
  platform::GObjectPtr<WebKitNetworkSession> m_networkSession;
  platform::GObjectPtr<WebKitSettings> m_settings;
  platform::SignalHandlers m_networkSessionHandlers;
  std::size_t m_cancelledDownloads = 0;
  PaneTimings m_timings;
  // The refused base, taken apart once: it is asked about at every navigation.
  std::optional<RefusedAddress> m_refused;
  LoadGuard* m_loadGuard = nullptr;
  std::unique_ptr<PaneServices> m_services;
  // Goes before the settings, network session and context it was made with.
  platform::GObjectPtr<WebKitWebView> m_viewStartedAhead;
  bool m_navigationsStayInTheirProcess = false;
  static constexpr std::chrono::seconds kProcessEndHeardWithin{5};
  std::chrono::steady_clock::time_point m_lastProcessEndAsked{};
};

}  // namespace ticklark::web
