// SPDX-License-Identifier: MIT
#include "platform/settings_store.hpp"

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <glib.h>

#include "platform/gobject_ptr.hpp"
#include "platform/small_file.hpp"

namespace ticklark::platform {

namespace {

// A settings file is a handful of lines; anything this large is not ours.
constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// A new settings file: read and written by everyone the umask allows.
constexpr mode_t kNewFileMode = 0666;

using KeyFilePtr = CPtr<GKeyFile, g_key_file_free>;

// |text| with each key that a group gives more than once kept only where it
// was given last, the place whose value the key file reads. Everything else,
// comments and layout included, is left as it is.
std::string WithoutRepeatedKeys(std::string_view text) {
  struct Line {
    std::string_view text;
    std::string key;  // "group\nkey" for a key line, empty otherwise
  };
  std::vector<Line> lines;
  std::map<std::string, std::size_t> last;
  std::string group;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
    Line line{text.substr(0, length), {}};
    text.remove_prefix(length);
    std::string_view content = line.text;
    while (!content.empty() && (content.front() == ' ' || content.front() == '\t')) {
      content.remove_prefix(1);
    }
    const std::size_t equals = content.find('=');
    if (content.starts_with('[')) {
      group = std::string(content.substr(1, content.find(']') - 1));
    } else if (!content.starts_with('#') && equals != std::string_view::npos) {
      std::string_view key = content.substr(0, equals);
      while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) {
        key.remove_suffix(1);
      }
      line.key = group + '\n' + std::string(key);
      last[line.key] = lines.size();
    }
    lines.push_back(std::move(line));
  }
  std::string result;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].key.empty() || last[lines[i].key] == i) {
      result += lines[i].text;
    }
  }
  return result;
}

// Loads |text|, a settings file's, into |file|; false when it is not a key
// file. |byteOrderMark| tells whether the text began with one.
bool LoadKeyFile(GKeyFile* file, std::string_view text, bool& byteOrderMark) {
  byteOrderMark = text.starts_with(kByteOrderMark);
  if (byteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  const std::string cleaned = WithoutRepeatedKeys(text);
  GErrorPtr error;
  return g_key_file_load_from_data(
      file, cleaned.data(), cleaned.size(),
      static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
      Out(error));
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
  const SmallFile stored = ReadSmallFile(FileFor(appName), kMaxFileBytes);
  KeyFilePtr file(g_key_file_new());
  bool byteOrderMark = false;
  if (stored.result != FileRead::kRead || !LoadKeyFile(file.get(), stored.text, byteOrderMark)) {
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
  const std::string group(section);
  const auto compose = [&](const SmallFile& current) -> std::optional<std::string> {
    KeyFilePtr file(g_key_file_new());
    bool byteOrderMark = false;
    if (current.result == FileRead::kRead &&
        !LoadKeyFile(file.get(), current.text, byteOrderMark)) {
      return std::nullopt;
    }
    for (const auto& [key, value] : values) {
      g_key_file_set_string(file.get(), group.c_str(), key.c_str(), value.c_str());
    }
    gsize length = 0;
    const GCharPtr data(g_key_file_to_data(file.get(), &length, nullptr));
    std::string text = byteOrderMark ? std::string(kByteOrderMark) : std::string();
    text.append(data.get(), length);
    return text;
  };
  if (const SaveFailure failure =
          ReplaceSmallFile(FileFor(appName), kMaxFileBytes, kNewFileMode, compose)) {
    return NotSaved(failure.why);
  }
  return true;
}

bool KeyFileSettingsStore::NotSaved(const std::string& why) {
  if (!m_toldNotSaved) {
    m_toldNotSaved = true;
    std::fprintf(stderr, "ticklark2: window position and size not saved: %s\n", why.c_str());
  }
  return false;
}

}  // namespace ticklark::platform
