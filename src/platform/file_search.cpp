// SPDX-License-Identifier: MIT
#include "platform/file_search.hpp"

#include <sys/stat.h>

namespace ticklark::platform {

std::string PosixFileSearch::Find(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name.front() == '.') {
    return {};
  }
  struct stat info{};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return {};
  }
  return name;
}

}  // namespace ticklark::platform
