// SPDX-License-Identifier: MIT
#include "platform/registry.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <unistd.h>

namespace ticklark::platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMsinfo = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";

enum class Entry { kProgram, kPlainFile, kFolder };
struct Placed {
  const char* folder;  // "a" or "b", searched in that order
  const char* name;
  Entry entry = Entry::kProgram;
};

class LinuxRegistryViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_root = fs::temp_directory_path() / ("registry-view-" + std::to_string(::getpid()));
    fs::create_directories(m_root / "a");
    fs::create_directories(m_root / "b");
  }
  void TearDown() override { fs::remove_all(m_root); }

  void Put(const Placed& placed) {
    const fs::path path = m_root / placed.folder / placed.name;
    if (placed.entry == Entry::kFolder) {
      fs::create_directories(path);
      return;
    }
    std::ofstream(path) << "#!/bin/sh\n";
    fs::permissions(path,
                    placed.entry == Entry::kProgram ? fs::perms::owner_all : fs::perms::owner_read);
  }
  std::string Folder(const char* name) const { return (m_root / name).string(); }
  std::string SearchPath() const { return "relative:" + Folder("a") + ":" + Folder("b"); }

  // The "PATH" value as the program reads it, or empty text for no key.
  static std::string ReadPath(Registry& view) {
    RegistryKey key = 0;
    if (view.OpenKey(kHkeyLocalMachine, kMsinfo, 0, 0x2003F, key) != kErrorSuccess) {
      return {};
    }
    std::array<std::uint8_t, 1024> buffer{};
    std::uint32_t size = 1024;
    std::uint32_t type = kRegNone;
    EXPECT_EQ(view.QueryValue(key, "PATH", 0, type, buffer, size), kErrorSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(view.CloseKey(key), kErrorSuccess);
    return std::string(buffer.begin(), std::find(buffer.begin(), buffer.end(), 0));
  }

  fs::path m_root;
};

struct ToolCase {
  const char* name;
  std::vector<Placed> placed;
  const char* folder;  // where the chosen tool is, nullptr for none
  const char* tool;
};

class ToolChoiceTest : public LinuxRegistryViewTest,
                       public ::testing::WithParamInterface<ToolCase> {};

TEST_P(ToolChoiceTest, PathValueNamesFirstToolFound) {
  for (const Placed& placed : GetParam().placed) {
    Put(placed);
  }
  LinuxRegistryView view(SearchPath());
  const ToolCase& c = GetParam();
  EXPECT_EQ(ReadPath(view), c.folder ? Folder(c.folder) + "/" + c.tool : "");
}

INSTANTIATE_TEST_SUITE_P(
    Tools, ToolChoiceTest,
    ::testing::Values(
        ToolCase{"ToolOrderBeforeFolderOrder",
                 {{"a", "kinfocenter"}, {"b", "hardinfo"}},
                 "b",
                 "hardinfo"},
        ToolCase{"FirstFolderWins", {{"a", "lshw-gtk"}, {"b", "lshw-gtk"}}, "a", "lshw-gtk"},
        ToolCase{"OnlyProgramsCount",
                 {{"a", "hardinfo2", Entry::kPlainFile},
                  {"a", "hardinfo", Entry::kFolder},
                  {"b", "gnome-system-monitor"}},
                 "b",
                 "gnome-system-monitor"},
        ToolCase{"OtherProgramsAreNoTool", {{"a", "htop"}}, nullptr, nullptr}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST_F(LinuxRegistryViewTest, EverythingElseIsAbsent) {
  Put({"a", "hardinfo2"});
  LinuxRegistryView view(SearchPath());
  RegistryKey key = 0;
  EXPECT_EQ(view.OpenKey(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools Location", 0,
                         0x2003F, key),
            kErrorFileNotFound);
  EXPECT_EQ(view.OpenKey(0x80000001u, kMsinfo, 0, 0x2003F, key), kErrorFileNotFound);
  ASSERT_EQ(
      view.OpenKey(kHkeyLocalMachine, "software\\microsoft\\shared tools\\msinfo", 0, 0x2003F, key),
      kErrorSuccess);
  std::array<std::uint8_t, 8> small{};
  std::uint32_t size = 8;
  std::uint32_t type = kRegNone;
  EXPECT_EQ(view.QueryValue(key, "MSINFO", 0, type, small, size), kErrorFileNotFound);
  EXPECT_EQ(view.QueryValue(key, "path", 0, type, small, size), kErrorMoreData);
  EXPECT_EQ(size, Folder("a").size() + sizeof "/hardinfo2");
  EXPECT_EQ(view.CloseKey(key), kErrorSuccess);
  EXPECT_EQ(view.QueryValue(key, "PATH", 0, type, small, size), kErrorInvalidHandle);
  EXPECT_EQ(view.CloseKey(key), kErrorInvalidHandle);
}

TEST_F(LinuxRegistryViewTest, SearchesPathAsItIsWhenKeyIsOpened) {
  const std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
  LinuxRegistryView view;
  Put({"b", "kinfocenter"});
  setenv("PATH", Folder("b").c_str(), 1);
  const std::string found = ReadPath(view);
  setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(found, Folder("b") + "/kinfocenter");
}

}  // namespace
}  // namespace ticklark::platform
