// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace ticklark::web {

// A file name to propose for what a server suggested: its last path part, with
// control characters, leading dots and spaces, and trailing dots and spaces
// taken away, cut to the file system's limit of 255 bytes at a character
// boundary, keeping the extension. "download" when nothing usable is left.
std::string SafeFileName(std::string_view suggested);

// The longest file name, in bytes, that common Linux file systems take.
inline constexpr std::size_t kMaxNameBytes = 255;

// The mkstemps() template of the temporary file that a download to |name| is
// written to until complete, "<name>.XXXXXX.part", with |name| cut at a
// character boundary where that name, or the engine's own name for the file
// while it writes ("<...>.part.wkdownload"), would pass |maxNameBytes|, the
// folder's limit for a name.
std::string PartFileTemplate(std::string_view name, std::size_t maxNameBytes = kMaxNameBytes);
inline constexpr int kPartSuffixBytes = 5;  // ".part", after the random part

// |path| when |taken| says it is free, else the first free one of
// "name (2).ext", "name (3).ext", ... in the same folder; empty when even
// "name (9999).ext" is taken.
std::filesystem::path FreePath(const std::filesystem::path& path,
                               const std::function<bool(const std::filesystem::path&)>& taken);

}  // namespace ticklark::web
