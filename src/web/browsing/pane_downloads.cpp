// SPDX-License-Identifier: MIT
#include "web/browsing/pane_downloads.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <gtkmm/window.h>
#include <webkit/webkit.h>

#include "web/browsing/pane_desktop.hpp"
#include "web/core/download_names.hpp"
#include "web/core/guarded.hpp"

namespace ticklark::web {

namespace fs = std::filesystem;

struct Downloads::Job {
  Downloads* owner = nullptr;
  std::uint64_t id = 0;
  platform::GObjectPtr<WebKitDownload> download;
  std::unique_ptr<platform::SignalHandlers> handlers;  // goes before the download
  std::string name;                                    // as proposed
  fs::path target;                                     // the name the user chose
  fs::path part;                                       // where the data goes until complete
  bool replaceAgreed = false;
  bool failed = false;
  bool cancelledByUser = false;
  bool dropped = false;
};

namespace {

using Job = Downloads::Job;

gboolean OnDecideDestinationSignal(WebKitDownload*, gchar* suggested, gpointer data) {
  auto* job = static_cast<Job*>(data);
  gboolean handled = TRUE;
  Guarded("decide-destination",
          [&] { handled = job->owner->OnDecideDestination(*job, suggested) ? TRUE : FALSE; });
  return handled;
}

void OnFailedSignal(WebKitDownload*, GError* error, gpointer data) {
  auto* job = static_cast<Job*>(data);
  Guarded("failed", [&] { job->owner->OnFailed(*job, error); });
}

void OnFinishedSignal(WebKitDownload*, gpointer data) {
  auto* job = static_cast<Job*>(data);
  Guarded("finished", [&] { job->owner->OnFinished(*job); });
}

bool Exists(const fs::path& path) {
  struct stat info{};
  return lstat(path.c_str(), &info) == 0;
}

std::string Quoted(const std::string& text) {
  return "\u201C" + text + "\u201D";
}

// rename() that fails rather than replace an existing file.
int RenameNoReplace(const fs::path& from, const fs::path& to) {
  const int result = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (result == 0 || (errno != EINVAL && errno != ENOSYS)) {
    return result;
  }
  // A file system without that flag: a new link fails just as well on an
  // existing name.
  if (link(from.c_str(), to.c_str()) != 0) {
    return -1;
  }
  unlink(from.c_str());
  return 0;
}

void RemoveFile(const fs::path& path) {
  if (!path.empty()) {
    unlink(path.c_str());
  }
}

}  // namespace

Downloads::Downloads(DownloadHost& host)
    : m_host(host), m_self(std::make_shared<Downloads*>(this)) {}

Downloads::~Downloads() {
  *m_self = nullptr;
  m_removal.Reset();
  for (auto& [id, job] : m_jobs) {
    job->handlers.reset();
    if (!job->dropped) {
      webkit_download_cancel(job->download.get());
      RemoveFile(job->part);
    }
  }
}

std::string Downloads::Folder() {
  const char* xdg = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  std::error_code error;
  if (xdg && fs::is_directory(xdg, error)) {
    return xdg;
  }
  const fs::path home = g_get_home_dir();
  const fs::path downloads = home / "Downloads";
  if (fs::is_directory(downloads, error) || fs::create_directory(downloads, error)) {
    return downloads.string();
  }
  return home.string();
}

bool Downloads::Start(WebKitDownload* download) {
  DownloadingPane* pane = m_host.PaneShowing(webkit_download_get_web_view(download));
  if (!pane || !pane->TakeUserAction()) {
    return false;
  }
  auto job = std::make_unique<Job>();
  job->owner = this;
  job->id = m_nextId++;
  job->download = platform::Share(download);
  job->handlers = std::make_unique<platform::SignalHandlers>(download);
  job->handlers->Connect("decide-destination", G_CALLBACK(OnDecideDestinationSignal), job.get());
  job->handlers->Connect("failed", G_CALLBACK(OnFailedSignal), job.get());
  job->handlers->Connect("finished", G_CALLBACK(OnFinishedSignal), job.get());
  m_jobs.emplace(job->id, std::move(job));
  return true;
}

// Asked once the response is in: the user chooses where it goes, and until
// then the engine holds the data back.
bool Downloads::OnDecideDestination(Job& job, const char* suggestedName) {
  job.name = SafeFileName(suggestedName ? suggestedName : "");
  Gtk::Window* parent = nullptr;
  if (DownloadingPane* pane =
          m_host.PaneShowing(webkit_download_get_web_view(job.download.get()))) {
    parent = pane->Window();
  }
  const std::weak_ptr<Downloads*> self = m_self;
  const std::uint64_t id = job.id;
  SaveRequest request;
  request.parent = parent;
  request.folder = Folder();
  request.name = job.name;
  request.accept = [self, id](const std::string& path) -> std::string {
    const auto owner = self.lock();
    return owner && *owner ? (*owner)->Reserve(id, path) : std::string();
  };
  request.cancel = [self, id] {
    const auto owner = self.lock();
    if (owner && *owner) {
      (*owner)->CancelByUser(id);
    }
  };
  m_host.Desktop().ChooseSaveFile(std::move(request));
  return true;
}

// The user accepted |path|. The temporary file is made here, which also shows
// whether the folder takes files at all; if it does not, the dialog says so
// and stays open.
std::string Downloads::Reserve(std::uint64_t id, const std::string& path) {
  const auto it = m_jobs.find(id);
  if (it == m_jobs.end() || it->second->dropped) {
    return {};  // the download ended while the dialog was open
  }
  Job& job = *it->second;
  const fs::path target(path);
  std::error_code error;
  if (fs::is_directory(target, error)) {
    return Quoted(target.filename().string()) + " is a folder. Choose a file name.";
  }
  // The temporary name is the chosen one and more, which a long chosen name
  // leaves no room for: it is cut to fit the folder's limit.
  const fs::path folder = target.parent_path();
  const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
  const std::size_t maxName = limit > 0 ? static_cast<std::size_t>(limit) : kMaxNameBytes;
  const std::string name = target.filename().string();
  if (name.size() > maxName) {
    return "The name is too long: " + std::to_string(name.size()) +
           " bytes, where this folder takes at most " + std::to_string(maxName) +
           ". Choose a shorter name.";
  }
  std::string part = (folder / PartFileTemplate(name, maxName)).string();
  const int fd = mkostemps(part.data(), kPartSuffixBytes, O_CLOEXEC);
  if (fd < 0) {
    const int reason = errno;
    return "The file cannot be saved in the folder " + Quoted(folder.string()) + ": " +
           std::strerror(reason) +
           (reason == ENAMETOOLONG ? ". Choose a shorter name." : ". Choose another folder.");
  }
  fchmod(fd, 0644);
  close(fd);
  job.target = target;
  job.part = part;
  job.replaceAgreed = Exists(target);
  // The engine writes over the empty file made for it.
  webkit_download_set_allow_overwrite(job.download.get(), TRUE);
  webkit_download_set_destination(job.download.get(), job.part.c_str());
  return {};
}

void Downloads::CancelByUser(std::uint64_t id) {
  const auto it = m_jobs.find(id);
  if (it == m_jobs.end() || it->second->dropped) {
    return;
  }
  it->second->cancelledByUser = true;
  webkit_download_cancel(it->second->download.get());
}

void Downloads::OnFailed(Job& job, const GError* error) {
  job.failed = true;
  RemoveFile(job.part);
  const bool byUser =
      job.cancelledByUser || (error && g_error_matches(error, WEBKIT_DOWNLOAD_ERROR,
                                                       WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER));
  if (!byUser) {
    m_host.Desktop().Notify("Download failed", Quoted(job.name) + " could not be saved: " +
                                                   (error ? error->message : "unknown error") +
                                                   ".");
  }
  // The engine says "finished" after this; should it not, drop it now anyway.
  Drop(job);
}

void Downloads::OnFinished(Job& job) {
  if (!job.failed && !job.dropped) {
    Complete(job);
  }
  Drop(job);
}

// All data is in the temporary file: it takes the chosen name.
void Downloads::Complete(Job& job) {
  fs::path target = job.target;
  int result = 0;
  if (job.replaceAgreed) {
    result = rename(job.part.c_str(), target.c_str());
  } else {
    // Never over a file the user did not agree to replace.
    target = FreePath(target, Exists);
    result = target.empty() ? -1 : RenameNoReplace(job.part, target);
  }
  if (result != 0) {
    const int reason = errno;
    m_host.Desktop().Notify("Download incomplete",
                            Quoted(job.name) + " was downloaded to " + Quoted(job.part.string()) +
                                " but could not be renamed: " + std::strerror(reason) + ".");
    job.part.clear();  // kept: nothing is lost
    return;
  }
  job.part.clear();
  m_host.Desktop().Notify("Download finished", Quoted(target.filename().string()) +
                                                   " was saved in " +
                                                   Quoted(target.parent_path().string()) + ".");
}

// Forgets the download once the engine is done with it, outside its signal.
void Downloads::Drop(Job& job) {
  if (job.dropped) {
    return;
  }
  job.dropped = true;
  if (!m_removal.Active()) {
    m_removal.Reset(g_idle_add(
        [](gpointer self) -> gboolean {
          auto* downloads = static_cast<Downloads*>(self);
          downloads->m_removal.Forget();  // this source ends when the callback returns
          Guarded("removal", [&] { downloads->RemoveDropped(); });
          return G_SOURCE_REMOVE;
        },
        this));
  }
}

void Downloads::RemoveDropped() {
  for (auto it = m_jobs.begin(); it != m_jobs.end();) {
    Job& job = *it->second;
    if (!job.dropped) {
      ++it;
      continue;
    }
    it = m_jobs.erase(it);
  }
}

}  // namespace ticklark::web
