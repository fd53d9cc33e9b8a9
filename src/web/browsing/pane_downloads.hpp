// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/gobject_ptr.hpp"

typedef struct _WebKitDownload WebKitDownload;
typedef struct _GError GError;
typedef struct _WebKitWebView WebKitWebView;

namespace Gtk {
class Window;
}

namespace ticklark::web {

class PaneDesktop;

// A pane as the downloads see it.
class DownloadingPane {
 public:
  // Whether a user's action in the pane is there for a download; uses it up.
  virtual bool TakeUserAction() = 0;
  // The window the pane is in, for the save dialog; null while it is in none.
  virtual Gtk::Window* Window() const = 0;

 protected:
  ~DownloadingPane() = default;
};

// What the downloads need of the session: the panes by their views, and the
// desktop's dialogs and notifications.
class DownloadHost {
 public:
  virtual DownloadingPane* PaneShowing(WebKitWebView* view) = 0;
  virtual PaneDesktop& Desktop() = 0;

 protected:
  ~DownloadHost() = default;
};

// The downloads of a session. A download is kept only when a user's action in
// the pane it came from asked for it; then a save dialog over the pane's
// window proposes the server's file name in the user's download folder.
// Nothing is written before the user accepts. The data goes to a temporary
// "<name>.XXXXXX.part" file next to the chosen one and takes the chosen name
// only when complete; a file that appeared under that name meanwhile, which
// the user never agreed to replace, is kept and the download takes the next
// free name. Finishing and failing are announced as desktop notifications.
class Downloads {
 public:
  // |host| outlives the downloads.
  explicit Downloads(DownloadHost& host);
  ~Downloads();

  Downloads(const Downloads&) = delete;
  Downloads& operator=(const Downloads&) = delete;

  // A download the engine started. Returns false, leaving it to the caller to
  // cancel it, when no user's action in its pane asked for it.
  bool Start(WebKitDownload* download);

  // Downloads waiting for a destination or transferring.
  std::size_t Active() const { return m_jobs.size(); }

  // The folder a save dialog proposes: the XDG download folder, else
  // ~/Downloads (made when missing), else the home folder.
  static std::string Folder();

  // For the download's signal trampolines.
  struct Job;
  bool OnDecideDestination(Job& job, const char* suggestedName);
  void OnFailed(Job& job, const GError* error);
  void OnFinished(Job& job);

 private:
  std::string Reserve(std::uint64_t id, const std::string& path);
  void CancelByUser(std::uint64_t id);
  void Complete(Job& job);
  void Drop(Job& job);
  void RemoveDropped();

  DownloadHost& m_host;
  std::map<std::uint64_t, std::unique_ptr<Job>> m_jobs;
  std::uint64_t m_nextId = 1;
  platform::SourceId m_removal;
  // Dialogs may answer after the downloads are gone; they hold this weakly.
  std::shared_ptr<Downloads*> m_self;
};

}  // namespace ticklark::web
