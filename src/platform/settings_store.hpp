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
// one, so a crash or a full disk never leaves half a file.
class KeyFileSettingsStore : public SettingsStore {
 public:
  explicit KeyFileSettingsStore(std::filesystem::path configDir = UserConfigDir());

  std::string GetSetting(std::string_view appName, std::string_view section, std::string_view key,
                         std::string_view defaultValue) override;
  bool SaveSettings(std::string_view appName, std::string_view section,
                    const std::vector<std::pair<std::string, std::string>>& values) override;

  std::filesystem::path FileFor(std::string_view appName) const;

 private:
  std::filesystem::path m_configDir;
};

}  // namespace ticklark::platform
