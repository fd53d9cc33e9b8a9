// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <gio/gio.h>

#include "endpoint/redirect_table.hpp"
#include "platform/gobject_ptr.hpp"

namespace ticklark::endpoint {

// The table in force: the built-in default with the entries of one table file
// (the user's, or the one named on the command line) laid over it.
struct LoadedTable {
  std::shared_ptr<const RedirectTable> table;
  std::vector<TableError> errors;

  bool Ok() const { return errors.empty(); }
};

// Builds the table from |defaultText| (named |defaultName| in errors, and
// required to give all ten keys) and the file at |path|. A missing file counts
// as an empty one unless |fileRequired|; a file that is not a regular file,
// or is larger than 1 MiB, is an error.
LoadedTable LoadRedirectTable(std::string_view defaultText, std::string_view defaultName,
                              const std::string& path, bool fileRequired);

// $XDG_CONFIG_HOME/Ticklark2/endpoint.conf (~/.config when unset).
std::string UserTablePath();

// Loads the table and reloads it whenever the table file changes. A reload
// that fails keeps the table in force and reports every error.
class RedirectSource {
 public:
  using TableChanged = std::function<void(std::shared_ptr<const RedirectTable>)>;
  using LogSink = std::function<void(std::string_view line)>;

  RedirectSource(std::string defaultText, std::string defaultName, std::string path,
                 bool fileRequired);
  ~RedirectSource();
  RedirectSource(const RedirectSource&) = delete;
  RedirectSource& operator=(const RedirectSource&) = delete;

  // The first load; the errors, if any. Nothing is in force until it succeeds.
  std::vector<TableError> Load();
  std::shared_ptr<const RedirectTable> Table() const { return m_table; }
  const std::string& Path() const { return m_path; }

  // Watches the table file on the thread's default main context. Returns false,
  // with |error| set, when the file cannot be watched.
  bool Watch(TableChanged onChanged, LogSink log, std::string& error);

  // Reloads now; what a change of the file leads to.
  void Reload();
  // A change of the file was seen: reload once the writing has settled.
  void ScheduleReload();
  // The settle timer has fired without a reload.
  void ForgetPendingReload();

 private:
  std::string m_defaultText;
  std::string m_defaultName;
  std::string m_path;
  bool m_fileRequired;
  std::shared_ptr<const RedirectTable> m_table;
  TableChanged m_onChanged;
  LogSink m_log;
  platform::GObjectPtr<GFileMonitor> m_monitor;
  std::unique_ptr<platform::SignalHandlers> m_monitorHandlers;  // goes before the monitor
  platform::SourceId m_reloadTimeout;
};

}  // namespace ticklark::endpoint
