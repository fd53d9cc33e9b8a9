// SPDX-License-Identifier: MIT
#include "platform/process_launcher.hpp"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ticklark::platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class SpawnProcessLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("launcher-" + std::to_string(::getpid()));
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }
  // A program that writes its argument count and its parent's id to |marker|,
  // then lingers.
  fs::path Program(const std::string& name, const std::string& marker) {
    const fs::path path = m_dir / name;
    std::ofstream(path) << "#!/bin/sh\necho \"$# $PPID\" > '" << (m_dir / marker).string()
                        << "'\nsleep 3\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }
  fs::path m_dir;
  SpawnProcessLauncher m_launcher;
};

TEST_F(SpawnProcessLauncherTest, StartsWholePathDetachedWithoutArguments) {
  Program("tool", "wrong");  // what splitting "tool box" at its space would start
  const fs::path program = Program("tool box", "started");
  const auto before = Clock::now();
  ASSERT_TRUE(m_launcher.Start(program.string()));
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(2)) << "waited for the program";
  // Nothing of ours is left to reap: no zombie.
  const pid_t reaped = ::waitpid(-1, nullptr, WNOHANG);
  const int error = errno;
  EXPECT_EQ(reaped, -1);
  EXPECT_EQ(error, ECHILD);

  int arguments = -1;
  pid_t parent = 0;
  for (const auto deadline = Clock::now() + std::chrono::seconds(10);
       parent == 0 && Clock::now() < deadline;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream(m_dir / "started") >> arguments >> parent;
  }
  EXPECT_EQ(arguments, 0);
  EXPECT_NE(parent, ::getpid());
  EXPECT_FALSE(fs::exists(m_dir / "wrong"));
}

TEST_F(SpawnProcessLauncherTest, WhatCannotRunIsAFailure) {
  std::ofstream(m_dir / "plain") << "#!/bin/sh\n";
  for (const std::string& path :
       {std::string(), (m_dir / "missing").string(), (m_dir / "plain").string(), m_dir.string()}) {
    EXPECT_FALSE(m_launcher.Start(path)) << path;
  }
}

}  // namespace
}  // namespace ticklark::platform
