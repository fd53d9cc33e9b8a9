// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace ticklark::platform {

// Looks for one file by its full path.
class FileSearch {
 public:
  virtual ~FileSearch() = default;

  // The name (last component) of the ordinary file at |path|, or empty text
  // when there is none there. Folders and hidden files do not count.
  virtual std::string Find(const std::string& path) = 0;
};

// Over the file system, following symbolic links. The path is taken as it is:
// no separator is changed, no pattern expanded.
class PosixFileSearch final : public FileSearch {
 public:
  std::string Find(const std::string& path) override;
};

}  // namespace ticklark::platform
