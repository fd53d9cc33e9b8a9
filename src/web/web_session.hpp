// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitNetworkSession WebKitNetworkSession;
typedef struct _WebKitSettings WebKitSettings;
typedef struct _WebKitDownload WebKitDownload;

namespace ticklark::platform {
class DefaultBrowser;
}

namespace ticklark::web {

class PaneServices;

// How long a pane waits before it tells the user about trouble with its web
// process, and how it backs off from a page that keeps crashing.
struct PaneTimings {
  // A web process that has not answered for this long gets a notice.
  std::chrono::milliseconds unresponsiveNotice{10000};
  // A crash within this time of the previous one continues a crash streak.
  std::chrono::milliseconds crashStreakWindow{60000};
  // Second crash of a streak: loads wait this long after it; doubling after
  // every further crash, up to the maximum.
  std::chrono::milliseconds crashBackoffFirst{1000};
  std::chrono::milliseconds crashBackoffMax{30000};
  // A navigation ordered by the program that has not started after this long,
  // while the page keeps it waiting, replaces the page's web process.
  std::chrono::milliseconds navigationWatchdog{3000};
};

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
    // engine (its pane shows a notice); unset keeps the engine's own policy.
    std::optional<unsigned> memoryLimitMb;
    // How often the engine looks at a web process's memory against the limit.
    std::chrono::milliseconds memoryCheckInterval{5000};
  };

  WebSession(platform::DefaultBrowser& defaultBrowser, Options options);
  explicit WebSession(platform::DefaultBrowser& defaultBrowser);
  ~WebSession();

  WebSession(const WebSession&) = delete;
  WebSession& operator=(const WebSession&) = delete;

  WebKitWebContext* Context() const { return m_context; }
  WebKitNetworkSession* NetworkSession() const { return m_networkSession; }
  WebKitSettings* Settings() const { return m_settings; }
  platform::DefaultBrowser& DefaultBrowser() const { return m_defaultBrowser; }
  // Zoom levels, downloads, print settings and dialogs the panes share.
  PaneServices& Services() const { return *m_services; }

  const PaneTimings& Timings() const { return m_timings; }
  void SetTimings(const PaneTimings& timings) { m_timings = timings; }

  // Downloads refused so far (each one cancelled before anything was written).
  std::size_t CancelledDownloads() const { return m_cancelledDownloads; }

  // Where a persistent session keeps website data and cache.
  static std::string DataDirectory();
  static std::string CacheDirectory();

  // Called by the download-started trampoline: the download goes on when a
  // user's action in its pane asked for it, and is cancelled otherwise.
  void StartDownload(WebKitDownload* download);

 private:
  platform::DefaultBrowser& m_defaultBrowser;
  WebKitWebContext* m_context = nullptr;
  WebKitNetworkSession* m_networkSession = nullptr;
  WebKitSettings* m_settings = nullptr;
  unsigned long m_downloadHandler = 0;
  std::size_t m_cancelledDownloads = 0;
  PaneTimings m_timings;
  std::unique_ptr<PaneServices> m_services;
};

}  // namespace ticklark::web
