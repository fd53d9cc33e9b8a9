// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

// The user's small files (settings, zoom levels, redirect tables): read
// without blocking, and replaced whole or not at all. GLib only, no GTK.
namespace ticklark::platform {

enum class FileRead {
  kRead,
  kMissing,
  kFailed,      // the system refused to open or read it: |error| says why
  kNotRegular,  // a folder, a named pipe, a device...: |type| says which
  kTooLarge,    // larger than the size it may have
};

struct SmallFile {
  FileRead result = FileRead::kMissing;
  std::string text;  // the whole file when kRead
  int error = 0;     // errno when kFailed (ENOENT when kMissing)
  mode_t type = 0;   // the file type bits (S_IFMT) once it was opened
};

// Reads |path| whole if it is a regular file of at most |maxBytes|. The file
// is opened without blocking, so that a named pipe or a device cannot hold
// the caller up, and is never read past |maxBytes| even if it grows meanwhile.
SmallFile ReadSmallFile(const std::filesystem::path& path, std::size_t maxBytes);

// Makes the new text of a file from the file as it stands (kRead or kMissing).
// Returns nothing when the text read is not one the caller can make sense
// of: the file is then kept aside and the text made again from a missing file.
using ComposeText = std::function<std::optional<std::string>(const SmallFile& current)>;

// Why a save did not happen; empty when it did.
struct SaveFailure {
  std::string why;

  explicit operator bool() const { return !why.empty(); }
};

// Replaces the file at |path| with what |compose| makes of it, through a
// temporary file beside it, so that a crash or a full disk never leaves half
// a file; the folder is made when missing. What the user made of the file
// stays: a link is written through to the file it leads to, the file keeps
// its permissions (a new one is made with |newFileMode|, less the umask), a
// file without write permission for its owner is left as it is, and a file
// that cannot be read (larger than |maxBytes| among others) is first copied
// aside (<name>.unreadable, then .unreadable.1, ...), never over an earlier
// copy nor left half made; without that copy nothing is written. Something
// other than a file in its place stays too.
SaveFailure ReplaceSmallFile(const std::filesystem::path& path, std::size_t maxBytes,
                             mode_t newFileMode, const ComposeText& compose);

}  // namespace ticklark::platform
