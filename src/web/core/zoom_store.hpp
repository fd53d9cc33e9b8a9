// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ticklark::web {

// Page zoom in percent: 100 is the page as designed; Ctrl+plus and Ctrl+minus
// move in steps of 10 within 30 to 300.
inline constexpr int kZoomDefault = 100;
inline constexpr int kZoomMin = 30;
inline constexpr int kZoomMax = 300;
inline constexpr int kZoomStep = 10;

// The level one step up (|direction| > 0) or down from |percent|, kept within
// range; a level between steps goes to the next step in that direction.
int StepZoom(int percent, int direction);

// The zoom level of each web site (host name) the user zoomed, kept across
// runs in a small key file of its own:
//   [Zoom]
//   www.example.org=120
//   ::1=150
// (an IPv6 literal without its brackets; earlier files, with them, read the
// same). Levels at 100 are not kept. A file that is missing, unreadable, too
// large or not in this form counts as empty (lines that do not fit are
// skipped), and the file is only written when the user changes a level, with
// the care the settings get: a read-only file is left as it is, a link is
// written through, and a file that cannot be read is first kept aside. No GTK.
class ZoomStore {
 public:
  // An empty |file| keeps the levels for this run only.
  explicit ZoomStore(std::filesystem::path file);

  // $XDG_CONFIG_HOME/Ticklark2/zoom-levels.ini (~/.config when unset).
  static std::filesystem::path DefaultFile();

  // Lower-case host name when |host| is one (letters, digits, '-', '.', or an
  // IPv6 literal in brackets), empty otherwise.
  static std::string HostKey(std::string_view host);

  // The level kept for |host|, kZoomDefault when none.
  int Level(std::string_view host) const;

  // Keeps |percent| (a step within range) for |host| and rewrites the file at
  // once. Returns false when nothing changed, the host or level is not valid,
  // or the file could not be written (the level is kept for this run anyway).
  bool SetLevel(std::string_view host, int percent);

  const std::filesystem::path& File() const { return m_file; }
  std::size_t Size() const { return m_levels.size(); }

  // At most this many sites are kept; the ones zoomed longest ago go first.
  static constexpr std::size_t kMaxSites = 1000;

 private:
  void Load();
  bool Save() const;

  std::filesystem::path m_file;
  // Oldest change first.
  std::vector<std::pair<std::string, int>> m_levels;
};

}  // namespace ticklark::web
