// SPDX-License-Identifier: MIT
#include "web/zoom_store.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace ticklark::web {

namespace {

// A few hundred sites take a few kilobytes; anything much larger is not ours.
constexpr off_t kMaxFileBytes = 256 * 1024;
constexpr std::size_t kMaxHostLength = 253;
constexpr std::string_view kGroup = "[Zoom]";

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

// The whole file when it is a regular file of a sensible size. A FIFO or a
// device in its place is never opened for reading in a way that could block.
bool ReadSmallFile(const std::filesystem::path& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat info{};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxFileBytes;
  if (ok) {
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t got = read(fd, text.data() + done, text.size() - done);
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        break;
      }
      done += static_cast<std::size_t>(got);
    }
    text.resize(done);
  }
  close(fd);
  return ok;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
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
  std::string text;
  if (!ReadSmallFile(m_file, text)) {
    return;
  }
  bool inGroup = false;
  std::string_view rest(text);
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    const std::string_view line = Trimmed(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.empty() || line.front() == '#' || line.front() == ';') {
      continue;
    }
    const auto equals = line.find('=');
    if (line.front() == '[' && line.back() == ']' && equals == std::string_view::npos) {
      inGroup = line == kGroup;
      continue;
    }
    if (!inGroup || equals == std::string_view::npos) {
      continue;
    }
    const std::string key = HostKey(Trimmed(line.substr(0, equals)));
    const int level = ParseLevel(Trimmed(line.substr(equals + 1)));
    if (key.empty() || level == 0 || level == kZoomDefault) {
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

// Written to a new file that then replaces the old one: a crash or a full disk
// never leaves half a file behind.
bool ZoomStore::Save() const {
  if (m_file.empty()) {
    return true;  // kept for this run only
  }
  std::error_code error;
  std::filesystem::create_directories(m_file.parent_path(), error);
  std::string text = "# Page zoom of each web site, in percent.\n";
  text += kGroup;
  text += '\n';
  for (const auto& [host, level] : m_levels) {
    text += host + "=" + std::to_string(level) + "\n";
  }
  std::string temporary = m_file.string() + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool written = WriteAll(fd, text) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temporary.c_str(), m_file.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace ticklark::web
