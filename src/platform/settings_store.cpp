// SPDX-License-Identifier: MIT
#include "platform/settings_store.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <glib.h>
#include <glib/gstdio.h>

#include "platform/gobject_ptr.hpp"

namespace ticklark::platform {

namespace {

// A settings file is a handful of lines; anything this large is not ours.
constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Links followed at most, as the system does, so that a loop of links ends.
constexpr int kMaxLinks = 40;
// Copies of unreadable files kept beside each other at most.
constexpr int kMaxAsideCopies = 1000;

using KeyFilePtr = CPtr<GKeyFile, g_key_file_free>;

enum class LoadResult { kLoaded, kMissing, kUnreadable };

struct Loaded {
  LoadResult result = LoadResult::kMissing;
  bool byteOrderMark = false;
};

// Reads |path| whole if it is a regular file of at most kMaxFileBytes. The
// file is opened without blocking, so that a named pipe cannot hold the
// program up.
LoadResult ReadSmallFile(const std::filesystem::path& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT ? LoadResult::kMissing : LoadResult::kUnreadable;
  }
  struct stat status{};
  LoadResult result = LoadResult::kLoaded;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::uintmax_t>(status.st_size) > kMaxFileBytes) {
    result = LoadResult::kUnreadable;
  }
  char buffer[16384];
  while (result == LoadResult::kLoaded) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) {
      break;
    }
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0 || text.size() + static_cast<std::size_t>(got) > kMaxFileBytes) {
      result = LoadResult::kUnreadable;
    } else {
      text.append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(fd);
  return result;
}

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

Loaded LoadKeyFile(GKeyFile* file, const std::filesystem::path& path) {
  std::string text;
  Loaded loaded{ReadSmallFile(path, text), false};
  if (loaded.result != LoadResult::kLoaded) {
    return loaded;
  }
  std::string_view content = text;
  if (content.starts_with(kByteOrderMark)) {
    content.remove_prefix(kByteOrderMark.size());
    loaded.byteOrderMark = true;
  }
  const std::string cleaned = WithoutRepeatedKeys(content);
  GError* error = nullptr;
  if (!g_key_file_load_from_data(
          file, cleaned.data(), cleaned.size(),
          static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
          &error)) {
    loaded.result = LoadResult::kUnreadable;
  }
  g_clear_error(&error);
  return loaded;
}

// The file that |path| leads to through symbolic links; it may not exist yet.
std::filesystem::path FollowLinks(std::filesystem::path path) {
  std::error_code ec;
  for (int hop = 0; hop < kMaxLinks && std::filesystem::is_symlink(path, ec); ++hop) {
    const std::filesystem::path target = std::filesystem::read_symlink(path, ec);
    if (ec) {
      break;
    }
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

// Writes all of |text| to |fd|. 0, or the errno of the write that failed.
int WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t put = write(fd, text.data(), text.size());
    if (put > 0) {
      text.remove_prefix(static_cast<std::size_t>(put));
    } else if (put < 0 && errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

// Puts what was written to |fd| on the disk and closes it. |error|, the
// failure so far, or else the errno of the step that failed.
int SyncAndClose(int fd, int error) {
  if (error == 0 && fsync(fd) != 0) {
    error = errno;
  }
  if (close(fd) != 0 && error == 0) {
    error = errno;
  }
  return error;
}

// Copies the file open as |from| to |to|, a new file, whole or not at all:
// a copy cut short (a full disk) is taken away again. 0 or the errno.
int CopyWhole(int from, const std::filesystem::path& to, mode_t mode) {
  const int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    return errno;
  }
  int error = 0;
  char buffer[16384];
  while (error == 0) {
    const ssize_t got = read(from, buffer, sizeof buffer);
    if (got == 0) {
      break;
    }
    if (got < 0) {
      error = errno == EINTR ? 0 : errno;
      continue;
    }
    error = WriteAll(fd, std::string_view(buffer, static_cast<std::size_t>(got)));
  }
  error = SyncAndClose(fd, error);
  if (error != 0) {
    unlink(to.c_str());
  }
  return error;
}

// Copies |path| to the first of <path>.unreadable, <path>.unreadable.1, ...
// that does not exist yet. 0, or the errno of why no copy could be made.
int KeepAside(const std::filesystem::path& path) {
  const int from = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (from < 0) {
    return errno;
  }
  struct stat status{};
  const int error = fstat(from, &status) != 0 ? errno : S_ISREG(status.st_mode) ? 0 : EINVAL;
  for (int number = 0; error == 0 && number < kMaxAsideCopies; ++number) {
    std::filesystem::path aside = path;
    aside += number == 0 ? ".unreadable" : ".unreadable." + std::to_string(number);
    const int copied = CopyWhole(from, aside, status.st_mode & 0666);
    if (copied != EEXIST) {
      close(from);
      return copied;
    }
  }
  close(from);
  return error != 0 ? error : EEXIST;
}

// Replaces |path| with |text| through a temporary file beside it. |mode|, when
// given, is the replaced file's, set exactly; a new file gets the usual mode
// for new files. 0, or the errno of the step that failed, which leaves the
// file as it was and no temporary file behind.
int WriteAtomically(const std::filesystem::path& path, std::string_view text,
                    std::optional<mode_t> mode) {
  std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX"));
  const int fd = g_mkstemp_full(temporary.data(), O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    return errno;
  }
  int error = mode && fchmod(fd, *mode) != 0 ? errno : 0;
  if (error == 0) {
    error = WriteAll(fd, text);
  }
  error = SyncAndClose(fd, error);
  if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    g_unlink(temporary.c_str());
  }
  return error;
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
  if (LoadKeyFile(file.get(), FileFor(appName)).result != LoadResult::kLoaded) {
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
  const std::filesystem::path link = FileFor(appName);
  std::error_code ec;
  const std::filesystem::path folder = link.parent_path();
  std::filesystem::create_directories(folder, ec);
  std::error_code probe;
  const auto kind = std::filesystem::status(folder, probe).type();
  if (kind != std::filesystem::file_type::directory) {
    const bool something =
        kind != std::filesystem::file_type::not_found && kind != std::filesystem::file_type::none;
    return NotSaved(something ? folder.string() + " is not a folder"
                              : "cannot make the folder " + folder.string() + ": " + ec.message());
  }
  const std::filesystem::path path = FollowLinks(link);
  if (std::filesystem::is_symlink(path, ec)) {
    return NotSaved(link.string() + ": " + std::strerror(ELOOP));
  }

  struct stat status{};
  const bool exists = stat(path.c_str(), &status) == 0;
  if (exists && !S_ISREG(status.st_mode)) {
    // A folder or anything else the user put there stays.
    return NotSaved(path.string() + (S_ISDIR(status.st_mode) ? " is a folder" : " is no file"));
  }
  if (exists && (status.st_mode & S_IWUSR) == 0) {
    // The user made it read-only: it is read, and left as it is.
    return NotSaved(path.string() + " is read-only");
  }

  KeyFilePtr file(g_key_file_new());
  const Loaded loaded = LoadKeyFile(file.get(), path);
  if (loaded.result == LoadResult::kUnreadable) {
    // What cannot be read is kept beside the new file; without a copy the
    // file is not replaced.
    if (const int error = KeepAside(path); error != 0) {
      return NotSaved(path.string() +
                      " cannot be read, and no copy of it could be kept: " + std::strerror(error));
    }
    file.reset(g_key_file_new());
  }
  const std::string group(section);
  for (const auto& [key, value] : values) {
    g_key_file_set_string(file.get(), group.c_str(), key.c_str(), value.c_str());
  }
  gsize length = 0;
  gchar* data = g_key_file_to_data(file.get(), &length, nullptr);
  std::string text = loaded.byteOrderMark ? std::string(kByteOrderMark) : std::string();
  text.append(data, length);
  g_free(data);
  const int error = WriteAtomically(
      path, text, exists ? std::optional<mode_t>(status.st_mode & 07777) : std::nullopt);
  if (error != 0) {
    return NotSaved("cannot write " + path.string() + ": " + std::strerror(error));
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
