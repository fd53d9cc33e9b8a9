// SPDX-License-Identifier: MIT
#include "web/core/zoom_store.hpp"

#include <sys/types.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include <glib.h>

#include "platform/gobject_ptr.hpp"
#include "platform/small_file.hpp"

namespace ticklark::web {

namespace {

// A few hundred sites take a few kilobytes; anything much larger is not ours.
constexpr std::size_t kMaxFileBytes = 256 * 1024;
constexpr std::size_t kMaxHostLength = 253;
constexpr char kGroup[] = "Zoom";
constexpr std::string_view kGroupLine = "[Zoom]";
// Which sites a user reads is theirs.
constexpr mode_t kNewFileMode = 0600;

using KeyFilePtr = platform::CPtr<GKeyFile, g_key_file_free>;

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool IsStep(int percent) {
  return percent >= kZoomMin && percent <= kZoomMax && percent % kZoomStep == 0;
}

// "120" -> 120; anything but one to three digits making a step -> 0.
int ParseLevel(std::string_view text) {
  if (text.empty() || text.size() > 3 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return 0;
  }
  int value = 0;
  for (char c : text) {
    value = value * 10 + (c - '0');
  }
  return IsStep(value) ? value : 0;
}

// The name a host key takes in the key file. GKeyFile takes no brackets in
// a key's name, so an IPv6 literal goes in without them; no host name holds
// a colon, so the brackets come back on reading.
std::string KeyNameOf(const std::string& host) {
  return host.starts_with('[') ? host.substr(1, host.size() - 2) : host;
}

std::string HostOfKeyName(std::string_view name) {
  const bool bare = !name.starts_with('[') && name.find(':') != std::string_view::npos;
  return bare ? "[" + std::string(name) + "]" : std::string(name);
}

// The file's text as GKeyFile takes it. GKeyFile refuses a whole file for one
// line it cannot read, where this store has always skipped the lines that do
// not fit and read the rest; earlier files also hold IPv6 literals in
// brackets. So only the lines that hold a level for a host, and the group
// lines, are passed on, each in the form GKeyFile reads; other groups than
// [Zoom] go in under a name of their own.
std::string KeyFileText(std::string_view text) {
  std::string result = "[Elsewhere]\n";
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const auto equals = line.find('=');
    if (line.starts_with('[') && line.ends_with(']') && equals == std::string_view::npos) {
      result += line == kGroupLine ? kGroupLine : "[Elsewhere]";
      result += '\n';
    } else if (equals != std::string_view::npos && !line.starts_with('#') &&
               !line.starts_with(';')) {
      const std::string key = ZoomStore::HostKey(HostOfKeyName(Trimmed(line.substr(0, equals))));
      const int level = ParseLevel(Trimmed(line.substr(equals + 1)));
      if (!key.empty() && level != 0 && level != kZoomDefault) {
        result += KeyNameOf(key) + "=" + std::to_string(level) + "\n";
      }
    }
  }
  return result;
}

}  // namespace

int StepZoom(int percent, int direction) {
  int next = percent;
  if (direction > 0) {
    next = (percent / kZoomStep + 1) * kZoomStep;
  } else if (direction < 0) {
    next = ((percent + kZoomStep - 1) / kZoomStep - 1) * kZoomStep;
  }
  return std::clamp(next, kZoomMin, kZoomMax);
}

ZoomStore::ZoomStore(std::filesystem::path file) : m_file(std::move(file)) {
  Load();
}

std::filesystem::path ZoomStore::DefaultFile() {
  std::filesystem::path base;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config == '/') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home && *home ? home : "/") / ".config";
  }
  return base / "Ticklark2" / "zoom-levels.ini";
}

std::string ZoomStore::HostKey(std::string_view host) {
  if (host.empty() || host.size() > kMaxHostLength) {
    return {};
  }
  std::string key;
  key.reserve(host.size());
  const bool literal = host.front() == '[';
  if (literal && (host.size() < 3 || host.back() != ']')) {
    return {};
  }
  for (std::size_t i = 0; i < host.size(); ++i) {
    char c = host[i];
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    bool allowed = alnum || c == '-' || c == '.' || c == '_';
    if (literal) {
      const bool bracket = (i == 0 && c == '[') || (i + 1 == host.size() && c == ']');
      allowed = bracket || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == ':' || c == '.';
    }
    if (!allowed) {
      return {};
    }
    key.push_back(c);
  }
  if (!literal && (key.front() == '.' || key.front() == '-')) {
    return {};
  }
  return key;
}

int ZoomStore::Level(std::string_view host) const {
  const std::string key = HostKey(host);
  const auto it = std::find_if(m_levels.begin(), m_levels.end(),
                               [&key](const auto& entry) { return entry.first == key; });
  return key.empty() || it == m_levels.end() ? kZoomDefault : it->second;
}

bool ZoomStore::SetLevel(std::string_view host, int percent) {
  const std::string key = HostKey(host);
  if (key.empty() || !IsStep(percent) || Level(key) == percent) {
    return false;
  }
  std::erase_if(m_levels, [&key](const auto& entry) { return entry.first == key; });
  if (percent != kZoomDefault) {
    m_levels.emplace_back(key, percent);
    if (m_levels.size() > kMaxSites) {
      m_levels.erase(m_levels.begin(),
                     m_levels.begin() + static_cast<std::ptrdiff_t>(m_levels.size() - kMaxSites));
    }
  }
  return Save();
}

void ZoomStore::Load() {
  m_levels.clear();
  const platform::SmallFile stored = platform::ReadSmallFile(m_file, kMaxFileBytes);
  if (stored.result != platform::FileRead::kRead) {
    return;
  }
  const std::string text = KeyFileText(stored.text);
  KeyFilePtr file(g_key_file_new());
  if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, nullptr)) {
    return;
  }
  gsize count = 0;
  const platform::CPtr<gchar*, g_strfreev> names(
      g_key_file_get_keys(file.get(), kGroup, &count, nullptr));
  for (gsize i = 0; i < count; ++i) {
    const std::string key = HostKey(HostOfKeyName(names.get()[i]));
    const platform::GCharPtr value(
        g_key_file_get_value(file.get(), kGroup, names.get()[i], nullptr));
    const int level = value ? ParseLevel(value.get()) : 0;
    if (key.empty() || level == 0) {
      continue;
    }
    std::erase_if(m_levels, [&key](const auto& entry) { return entry.first == key; });
    m_levels.emplace_back(key, level);
  }
  if (m_levels.size() > kMaxSites) {
    m_levels.erase(m_levels.begin(),
                   m_levels.begin() + static_cast<std::ptrdiff_t>(m_levels.size() - kMaxSites));
  }
}

// The levels replace what the file held; the file itself gets the care of
// every file of the user's (ReplaceSmallFile).
bool ZoomStore::Save() const {
  if (m_file.empty()) {
    return true;  // kept for this run only
  }
  KeyFilePtr file(g_key_file_new());
  g_key_file_set_comment(file.get(), nullptr, nullptr, " Page zoom of each web site, in percent.",
                         nullptr);
  for (const auto& [host, level] : m_levels) {
    g_key_file_set_integer(file.get(), kGroup, KeyNameOf(host).c_str(), level);
  }
  gsize length = 0;
  const platform::GCharPtr data(g_key_file_to_data(file.get(), &length, nullptr));
  std::string text(data.get(), length);
  return !platform::ReplaceSmallFile(m_file, kMaxFileBytes, kNewFileMode,
                                     [&text](const platform::SmallFile&) { return text; });
}

}  // namespace ticklark::web
