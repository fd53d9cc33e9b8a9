// SPDX-License-Identifier: MIT
#include "platform/file_search.hpp"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <unistd.h>

namespace ticklark::platform {
namespace {

namespace fs = std::filesystem;

TEST(PosixFileSearch, FindsOrdinaryFilesOnly) {
  const fs::path dir = fs::temp_directory_path() / ("file-search-" + std::to_string(::getpid()));
  fs::create_directories(dir / "Folder");
  std::ofstream(dir / "MSINFO32.EXE") << "x";
  std::ofstream(dir / ".hidden") << "x";
  fs::create_symlink(dir / "MSINFO32.EXE", dir / "link");
  PosixFileSearch search;
  const struct {
    const char* path;
    const char* found;
  } cases[] = {{"MSINFO32.EXE", "MSINFO32.EXE"},
               {"link", "link"},
               {".hidden", ""},
               {"Folder", ""},
               {"missing", ""},
               {"MSINFO32.EXE/", ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(search.Find((dir / c.path).string()), c.found) << c.path;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ticklark::platform
