// SPDX-License-Identifier: MIT
// The launcher over the Linux registry view, the file system and real process
// start: a stand-in tool on a temporary search path.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

#include "about/sysinfo.hpp"
#include "fakes.hpp"

namespace ticklark::about {
namespace {

namespace fs = std::filesystem;

TEST(SysInfoOnLinux, StartsToolFoundOnSearchPathElseShowsMessage) {
  const fs::path folder = fs::temp_directory_path() / ("sysinfo-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  platform::PosixFileSearch files;
  platform::SpawnProcessLauncher launcher;
  test::FakeMessages messages;

  platform::LinuxRegistryView none(folder.string());
  SysInfoLauncher({none, files, launcher, messages}).StartSysInfo();
  EXPECT_EQ(messages.shown, std::vector<std::string>{kSysInfoUnavailable});

  const fs::path marker = folder / "started";
  std::ofstream(folder / "kinfocenter") << "#!/bin/sh\necho \"$#\" > '" << marker.string() << "'\n";
  fs::permissions(folder / "kinfocenter", fs::perms::owner_all);
  platform::LinuxRegistryView view("/nonexistent:" + folder.string());
  SysInfoLauncher({view, files, launcher, messages}).StartSysInfo();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::string arguments;
  std::ifstream(marker) >> arguments;
  EXPECT_EQ(arguments, "0");
  EXPECT_EQ(messages.shown.size(), 1u);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace ticklark::about
