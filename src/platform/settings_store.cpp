// SPDX-License-Identifier: MIT
#include "platform/settings_store.hpp"

#include <cstdlib>
#include <memory>
#include <string>

#include <glib.h>
#include <glib/gstdio.h>

#include "platform/gobject_ptr.hpp"

namespace ticklark::platform {

namespace {

// A settings file is a handful of lines; anything this large is not ours.
constexpr goffset kMaxFileBytes = 1 << 20;

using KeyFilePtr = CPtr<GKeyFile, g_key_file_free>;

enum class LoadResult { kLoaded, kMissing, kUnreadable };

LoadResult LoadKeyFile(GKeyFile* file, const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    return LoadResult::kMissing;
  }
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || !std::filesystem::is_regular_file(path, ec) ||
      size > static_cast<std::uintmax_t>(kMaxFileBytes)) {
    return LoadResult::kUnreadable;
  }
  GErrorPtr error;
  const gboolean ok = g_key_file_load_from_file(
      file, path.c_str(),
      static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
      Out(error));
  return ok ? LoadResult::kLoaded : LoadResult::kUnreadable;
}

}  // namespace

std::filesystem::path UserConfigDir() {
  return g_get_user_config_dir();
}

KeyFileSettingsStore::KeyFileSettingsStore(std::filesystem::path configDir)
    : m_configDir(std::move(configDir)) {}

std::filesystem::path KeyFileSettingsStore::FileFor(std::string_view appName) const {
  return m_configDir / std::string(appName) / "settings.ini";
}

std::string KeyFileSettingsStore::GetSetting(std::string_view appName, std::string_view section,
                                             std::string_view key, std::string_view defaultValue) {
  KeyFilePtr file(g_key_file_new());
  if (LoadKeyFile(file.get(), FileFor(appName)) != LoadResult::kLoaded) {
    return std::string(defaultValue);
  }
  const std::string group(section);
  const std::string name(key);
  const GCharPtr value(g_key_file_get_string(file.get(), group.c_str(), name.c_str(), nullptr));
  return value ? std::string(value.get()) : std::string(defaultValue);
}

bool KeyFileSettingsStore::SaveSettings(
    std::string_view appName, std::string_view section,
    const std::vector<std::pair<std::string, std::string>>& values) {
  const std::filesystem::path path = FileFor(appName);
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);

  KeyFilePtr file(g_key_file_new());
  if (LoadKeyFile(file.get(), path) == LoadResult::kUnreadable) {
    // Keep what we cannot read beside the new file rather than lose it.
    std::filesystem::path aside = path;
    aside += ".unreadable";
    std::filesystem::copy_file(path, aside, std::filesystem::copy_options::overwrite_existing, ec);
    file.reset(g_key_file_new());
  }
  const std::string group(section);
  for (const auto& [key, value] : values) {
    g_key_file_set_string(file.get(), group.c_str(), key.c_str(), value.c_str());
  }
  // g_key_file_save_to_file writes a temporary file and renames it over the old.
  GErrorPtr error;
  const gboolean ok = g_key_file_save_to_file(file.get(), path.c_str(), Out(error));
  return ok;
}

}  // namespace ticklark::platform
