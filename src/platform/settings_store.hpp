// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ticklark::platform {

// The per-user settings store: text values by application name, section and key.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The stored text, or |defaultValue| when the key is absent or unreadable.
  virtual std::string GetSetting(std::string_view appName, std::string_view section,
                                 std::string_view key, std::string_view defaultValue) = 0;
  // Stores every pair under |section|, all or none. Returns false, leaving what
  // was stored before untouched, when the store cannot be written.
  virtual bool SaveSettings(std::string_view appName, std::string_view section,
                            const std::vector<std::pair<std::string, std::string>>& values) = 0;
};

// $XDG_CONFIG_HOME (or ~/.config when unset).
std::filesystem::path UserConfigDir();

// The store as a key file per application: <configDir>/<appName>/settings.ini,
// one group per section. Writes go to a temporary file that replaces the old
// one, so a crash or a full disk never leaves half a file. What the user made
// of the file stays: a link is written through to the file it leads to, the
// file keeps its permissions, a file without write permission for its owner
// is read but never written, and a file that cannot be read is first copied
// aside (settings.ini.unreadable, then .unreadable.1, ...), never over an
// earlier copy, nor left half made. A UTF-8 byte-order mark is read past and
// written back; a key given twice counts once, with its last value. A save
// that fails says why on standard error, once a run.
class KeyFileSettingsStore : public SettingsStore {
 public:
  explicit KeyFileSettingsStore(std::filesystem::path configDir = UserConfigDir());

  std::string GetSetting(std::string_view appName, std::string_view section, std::string_view key,
                         std::string_view defaultValue) override;
  bool SaveSettings(std::string_view appName, std::string_view section,
                    const std::vector<std::pair<std::string, std::string>>& values) override;

  std::filesystem::path FileFor(std::string_view appName) const;

 private:
  // Says on standard error why the values could not be stored, the first
  // time only; returns false.
  bool NotSaved(const std::string& why);

  std::filesystem::path m_configDir;
  bool m_toldNotSaved = false;
};

}  // namespace ticklark::platform
