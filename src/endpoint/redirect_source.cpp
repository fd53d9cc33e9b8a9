// SPDX-License-Identifier: MIT
#include "endpoint/redirect_source.hpp"

#include <sys/stat.h>

#include <cstddef>
#include <optional>
#include <utility>

#include "platform/small_file.hpp"

namespace ticklark::endpoint {

namespace {

// A table is a few lines; a file larger than this is not one.
constexpr std::size_t kMaxTableBytes = std::size_t{1} << 20;

std::string FileKind(mode_t mode) {
  if (S_ISFIFO(mode)) {
    return "a named pipe";
  }
  if (S_ISDIR(mode)) {
    return "a folder";
  }
  if (S_ISCHR(mode) || S_ISBLK(mode)) {
    return "a device";
  }
  if (S_ISSOCK(mode)) {
    return "a socket";
  }
  return "not a plain file";
}

// The text of the table file at |path|: nothing when it does not exist; an
// error unless it is a regular file of at most kMaxTableBytes. A named pipe or
// a device is refused without reading from it, so it cannot block the endpoint.
struct TableFile {
  bool missing = false;
  std::string text;
  std::optional<std::string> error;
};

TableFile ReadTableFile(const std::string& path) {
  platform::SmallFile read = platform::ReadSmallFile(path, kMaxTableBytes);
  TableFile file;
  switch (read.result) {
    case platform::FileRead::kRead:
      file.text = std::move(read.text);
      break;
    case platform::FileRead::kMissing:
      file.missing = true;
      file.error = g_strerror(read.error);
      break;
    case platform::FileRead::kFailed:
      file.error = g_strerror(read.error);
      break;
    case platform::FileRead::kNotRegular:
      file.error = "not a regular file but " + FileKind(read.type) +
                   "; a table is read from a regular file only";
      break;
    case platform::FileRead::kTooLarge:
      file.error = "larger than 1 MiB, too large for a table";
      break;
  }
  return file;
}

// Writers often truncate, write and close, or write a new file and rename it
// over the old one; a short quiet time lets all of that arrive as one change.
constexpr guint kSettleMilliseconds = 150;

void OnFileChanged(GFileMonitor*, GFile*, GFile*, GFileMonitorEvent, gpointer self) {
  static_cast<RedirectSource*>(self)->ScheduleReload();
}

gboolean OnSettled(gpointer self) {
  auto* source = static_cast<RedirectSource*>(self);
  try {
    source->Reload();
  } catch (...) {
    // Out of memory while reading: the table in force stays, as after a bad file.
    source->ForgetPendingReload();
  }
  return G_SOURCE_REMOVE;
}

}  // namespace

LoadedTable LoadRedirectTable(std::string_view defaultText, std::string_view defaultName,
                              const std::string& path, bool fileRequired) {
  LoadedTable loaded;
  ParsedTable defaults = ParseRedirectTable(defaultText, defaultName);
  loaded.errors = std::move(defaults.errors);
  for (const auto key : kRedirectKeys) {
    if (loaded.errors.empty() && !defaults.table.Find(key)) {
      loaded.errors.push_back(
          {std::string(defaultName), 0, "no address for '" + std::string(key) + "'"});
    }
  }

  const TableFile file = ReadTableFile(path);
  if (!file.error) {
    ParsedTable overrides = ParseRedirectTable(file.text, path);
    loaded.errors.insert(loaded.errors.end(), overrides.errors.begin(), overrides.errors.end());
    defaults.table.Override(overrides.table);
  } else if (fileRequired || !file.missing) {
    loaded.errors.push_back({path, 0, *file.error});
  }
  if (loaded.errors.empty()) {
    loaded.table = std::make_shared<const RedirectTable>(std::move(defaults.table));
  }
  return loaded;
}

std::string UserTablePath() {
  const platform::GCharPtr path(
      g_build_filename(g_get_user_config_dir(), "Ticklark2", "endpoint.conf", nullptr));
  return path.get();
}

RedirectSource::RedirectSource(std::string defaultText, std::string defaultName, std::string path,
                               bool fileRequired)
    : m_defaultText(std::move(defaultText)),
      m_defaultName(std::move(defaultName)),
      m_path(std::move(path)),
      m_fileRequired(fileRequired) {}

RedirectSource::~RedirectSource() {
  m_reloadTimeout.Reset();
  m_monitorHandlers.reset();
  if (m_monitor) {
    g_file_monitor_cancel(m_monitor.get());
  }
}

std::vector<TableError> RedirectSource::Load() {
  LoadedTable loaded = LoadRedirectTable(m_defaultText, m_defaultName, m_path, m_fileRequired);
  if (loaded.Ok()) {
    m_table = std::move(loaded.table);
  }
  return std::move(loaded.errors);
}

bool RedirectSource::Watch(TableChanged onChanged, LogSink log, std::string& error) {
  m_onChanged = std::move(onChanged);
  m_log = std::move(log);
  const auto file = platform::Adopt(g_file_new_for_path(m_path.c_str()));
  platform::GErrorPtr monitorError;
  m_monitor = platform::Adopt(g_file_monitor_file(file.get(), G_FILE_MONITOR_WATCH_MOVES, nullptr,
                                                  platform::Out(monitorError)));
  if (!m_monitor) {
    error = monitorError ? monitorError->message : "the file cannot be watched";
    return false;
  }
  m_monitorHandlers = std::make_unique<platform::SignalHandlers>(m_monitor.get());
  m_monitorHandlers->Connect("changed", G_CALLBACK(OnFileChanged), this);
  return true;
}

void RedirectSource::ScheduleReload() {
  m_reloadTimeout.Reset(g_timeout_add(kSettleMilliseconds, OnSettled, this));
}

void RedirectSource::ForgetPendingReload() {
  m_reloadTimeout.Forget();
}

void RedirectSource::Reload() {
  m_reloadTimeout.Forget();
  LoadedTable loaded = LoadRedirectTable(m_defaultText, m_defaultName, m_path, m_fileRequired);
  if (!loaded.Ok()) {
    if (m_log) {
      for (const auto& problem : loaded.errors) {
        m_log("redirects: " + problem.ToString());
      }
      m_log("redirects: " + m_path + " has errors; the table in force is kept");
    }
    return;
  }
  if (*loaded.table == *m_table) {
    return;
  }
  m_table = std::move(loaded.table);
  if (m_log) {
    m_log("redirects: reloaded " + m_path);
  }
  if (m_onChanged) {
    m_onChanged(m_table);
  }
}

}  // namespace ticklark::endpoint
