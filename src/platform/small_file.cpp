// SPDX-License-Identifier: MIT
#include "platform/small_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <system_error>

#include <glib.h>
#include <glib/gstdio.h>

namespace ticklark::platform {

namespace {

// Links followed at most, as the system does, so that a loop of links ends.
constexpr int kMaxLinks = 40;
// Copies of unreadable files kept beside each other at most.
constexpr int kMaxAsideCopies = 1000;

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
// given, is the replaced file's, set exactly; a new file gets |newFileMode|
// less the umask. 0, or the errno of the step that failed, which leaves the
// file as it was and no temporary file behind.
int WriteAtomically(const std::filesystem::path& path, std::string_view text,
                    std::optional<mode_t> mode, mode_t newFileMode) {
  std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX"));
  const int fd =
      g_mkstemp_full(temporary.data(), O_WRONLY | O_CLOEXEC, static_cast<int>(newFileMode));
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

SmallFile ReadSmallFile(const std::filesystem::path& path, std::size_t maxBytes) {
  SmallFile file;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    file.error = errno;
    file.result = errno == ENOENT ? FileRead::kMissing : FileRead::kFailed;
    return file;
  }
  struct stat status{};
  file.result = FileRead::kRead;
  if (fstat(fd, &status) != 0) {
    file.error = errno;
    file.result = FileRead::kFailed;
  } else if (file.type = status.st_mode & S_IFMT; !S_ISREG(status.st_mode)) {
    file.result = FileRead::kNotRegular;
  } else if (static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
    file.result = FileRead::kTooLarge;
  }
  // Read to the limit and no further: the file may have grown since fstat().
  char buffer[16384];
  while (file.result == FileRead::kRead) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) {
      break;
    }
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      file.error = errno;
      file.result = FileRead::kFailed;
    } else if (file.text.size() + static_cast<std::size_t>(got) > maxBytes) {
      file.result = FileRead::kTooLarge;
    } else {
      file.text.append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(fd);
  if (file.result != FileRead::kRead) {
    file.text.clear();
  }
  return file;
}

SaveFailure ReplaceSmallFile(const std::filesystem::path& path, std::size_t maxBytes,
                             mode_t newFileMode, const ComposeText& compose) {
  std::error_code ec;
  const std::filesystem::path folder = path.parent_path();
  std::filesystem::create_directories(folder, ec);
  std::error_code probe;
  const auto kind = std::filesystem::status(folder, probe).type();
  if (kind != std::filesystem::file_type::directory) {
    const bool something =
        kind != std::filesystem::file_type::not_found && kind != std::filesystem::file_type::none;
    return {something ? folder.string() + " is not a folder"
                      : "cannot make the folder " + folder.string() + ": " + ec.message()};
  }
  const std::filesystem::path target = FollowLinks(path);
  if (std::filesystem::is_symlink(target, ec)) {
    return {path.string() + ": " + std::strerror(ELOOP)};
  }

  struct stat status{};
  const bool exists = stat(target.c_str(), &status) == 0;
  if (exists && !S_ISREG(status.st_mode)) {
    // A folder or anything else the user put there stays.
    return {target.string() + (S_ISDIR(status.st_mode) ? " is a folder" : " is no file")};
  }
  if (exists && (status.st_mode & S_IWUSR) == 0) {
    // The user made it read-only: it is read, and left as it is.
    return {target.string() + " is read-only"};
  }

  const SmallFile current = ReadSmallFile(target, maxBytes);
  std::optional<std::string> text;
  if (current.result == FileRead::kRead || current.result == FileRead::kMissing) {
    text = compose(current);
  }
  if (!text) {
    // What cannot be read is kept beside the new file; without a copy the
    // file is not replaced.
    if (const int error = KeepAside(target); error != 0) {
      return {target.string() +
              " cannot be read, and no copy of it could be kept: " + std::strerror(error)};
    }
    text = compose(SmallFile{});
    if (!text) {
      return {"nothing to write to " + target.string()};
    }
  }
  const int error = WriteAtomically(
      target, *text, exists ? std::optional<mode_t>(status.st_mode & 07777) : std::nullopt,
      newFileMode);
  if (error != 0) {
    return {"cannot write " + target.string() + ": " + std::strerror(error)};
  }
  return {};
}

}  // namespace ticklark::platform
