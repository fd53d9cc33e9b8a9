// SPDX-License-Identifier: MIT
#include "about/sysinfo.hpp"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

#include "fakes.hpp"

namespace ticklark::about {
namespace {

using test::FakeRegistry;
using test::Sz;

constexpr const char* kMsinfo = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr const char* kLocation = "SOFTWARE\\Microsoft\\Shared Tools Location";

struct Launch {
  test::FakeRegistry registry;
  test::FakeFiles files;
  test::FakeLauncher launcher;
  test::FakeMessages messages;
  SysInfoLauncher sysInfo{{registry, files, launcher, messages}};
};

struct StartCase {
  const char* name;
  std::optional<FakeRegistry::Value> path;  // "PATH" in the MSINFO key
  bool folderHoldsProgram;                  // "MSINFO" = D:\Tools, with or without the program
  bool startFails;
  std::vector<std::string> attempts;
  bool message;
  int keysAsked;
  friend void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }
};

const FakeRegistry::Value kNoZero{platform::kRegSz, std::vector<std::uint8_t>(1024, 'x')};
FakeRegistry::Value TooLong() {
  return Sz(std::string(1024, 'x'));  // 1025 bytes with its zero
}

class StartSysInfoTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartSysInfoTest, StartsToolOrShowsTheMessage) {
  const StartCase& c = GetParam();
  Launch launch;
  launch.launcher.fail = c.startFails;
  if (c.path) {
    launch.registry.keys[kMsinfo]["PATH"] = *c.path;
  }
  launch.registry.keys[kLocation]["MSINFO"] = Sz("D:\\Tools");
  if (c.folderHoldsProgram) {
    launch.files.files.insert("D:\\Tools\\MSINFO32.EXE");
  }
  launch.sysInfo.StartSysInfo();
  EXPECT_EQ(launch.launcher.attempts, c.attempts);
  EXPECT_EQ(launch.messages.shown,
            c.message ? std::vector<std::string>{kSysInfoUnavailable} : std::vector<std::string>{});
  EXPECT_EQ(launch.registry.opened.size(), static_cast<std::size_t>(c.keysAsked));
  EXPECT_TRUE(launch.registry.open.empty()) << "a key was left open";
  EXPECT_TRUE(launch.registry.fairCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StartSysInfoTest,
    ::testing::Values(
        StartCase{"PathStartedUnchecked",
                  Sz("C:\\No Such\\tool.exe"),
                  true,
                  false,
                  {"C:\\No Such\\tool.exe"},
                  false,
                  1},
        StartCase{
            "PathThatFailsToStart", Sz("C:\\tool.exe"), true, true, {"C:\\tool.exe"}, true, 1},
        StartCase{
            "FolderWithProgram", std::nullopt, true, false, {"D:\\Tools\\MSINFO32.EXE"}, false, 2},
        StartCase{"FolderWithoutProgram", std::nullopt, false, false, {}, true, 2},
        StartCase{"ExpandablePathStartsEmptyText",
                  Sz("%windir%\\msinfo32.exe", 2),
                  true,
                  false,
                  {""},
                  true,
                  1},
        StartCase{"TextEndsAtStoredZero",
                  FakeRegistry::Value{1, {'a', '.', 'e', 0, 'b', 0}},
                  false,
                  false,
                  {"a.e"},
                  false,
                  1},
        StartCase{"OversizedPathCountsAsAbsent",
                  TooLong(),
                  true,
                  false,
                  {"D:\\Tools\\MSINFO32.EXE"},
                  false,
                  2},
        StartCase{"PathWithoutZeroGoesToMessage", kNoZero, true, false, {}, true, 1}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST(StartSysInfo, NeitherValueShowsTheMessage) {
  Launch launch;
  launch.registry.keys[kMsinfo]["Other"] = Sz("C:\\tool.exe");  // key without the value
  launch.sysInfo.StartSysInfo();
  EXPECT_TRUE(launch.launcher.attempts.empty());
  EXPECT_EQ(launch.messages.shown.size(), 1u);
  EXPECT_EQ(launch.registry.opened, (std::vector<std::string>{kMsinfo, kLocation}));
  EXPECT_TRUE(launch.registry.open.empty());
}

struct ReadCase {
  const char* name;
  std::optional<FakeRegistry::Value> value;
  std::string prior;
  bool read;
  std::string text;
  friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }
};

FakeRegistry::Value Dword(std::vector<std::uint8_t> bytes) {
  return {platform::kRegDword, std::move(bytes)};
}

class GetKeyValueTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(GetKeyValueTest, ReadsValueAsText) {
  const ReadCase& c = GetParam();
  Launch launch;
  launch.registry.keys["K"] = {};
  if (c.value) {
    launch.registry.keys["K"]["V"] = *c.value;
  }
  std::string keyVal = c.prior;
  EXPECT_EQ(launch.sysInfo.GetKeyValue(platform::kHkeyLocalMachine, "K", "V", keyVal), c.read);
  EXPECT_EQ(keyVal, c.text);
  EXPECT_TRUE(launch.registry.open.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, GetKeyValueTest,
    ::testing::Values(ReadCase{"Missing", std::nullopt, "stale", false, ""},
                      ReadCase{"String", Sz("text"), "stale", true, "text"},
                      ReadCase{"ExpandableKeepsPrior", Sz("%x%", 2), "kept", true, "kept"},
                      ReadCase{"BinaryKeepsPrior", Sz("ab", 3), "kept", true, "kept"},
                      ReadCase{"DwordOneByte", Dword({0x2A, 0, 0, 0}), "", true, "42"},
                      ReadCase{"DwordLastByteFirst", Dword({0x01, 0x02, 0, 0}), "", true, "33"},
                      ReadCase{"DwordFourDigitsSigned", Dword({0x80, 0x80, 0, 0}), "", true,
                               "-32640"},
                      ReadCase{"DwordFiveDigits", Dword({0x01, 0x80, 0x80, 0}), "", true, "526337"},
                      ReadCase{"DwordAllOnes", Dword({0xFF, 0xFF, 0xFF, 0xFF}), "", true, "-1"},
                      ReadCase{"DwordZeroFirst", Dword({0, 0x80, 0, 0}), "", true, "&h"},
                      ReadCase{"DwordAfterPrior", Dword({0x02, 0, 0, 0}), "1", true, "18"},
                      ReadCase{"DwordAfterNonDigits", Dword({0x02, 0, 0, 0}), "x", true, "&hx2"}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST(GetKeyValue, MissingKeyEmptiesTheText) {
  Launch launch;
  std::string keyVal = "stale";
  EXPECT_FALSE(launch.sysInfo.GetKeyValue(platform::kHkeyLocalMachine, "K", "V", keyVal));
  EXPECT_EQ(keyVal, "");
}

TEST(GetKeyValue, FullBufferWithoutZeroThrowsAndCloses) {
  Launch launch;
  launch.registry.keys["K"]["V"] = kNoZero;
  std::string keyVal;
  EXPECT_THROW(launch.sysInfo.GetKeyValue(platform::kHkeyLocalMachine, "K", "V", keyVal),
               UnterminatedValueError);
  EXPECT_TRUE(launch.registry.open.empty());
}

// Over the Linux registry view, the file system and real process start, with
// a stand-in tool in a temporary folder as the whole search path.
TEST(StartSysInfo, StartsToolOnSearchPathElseShowsMessage) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("sysinfo-" + std::to_string(::getpid()));
  const fs::path marker = folder / "started";
  fs::create_directories(folder);
  platform::PosixFileSearch files;
  platform::SpawnProcessLauncher launcher;
  test::FakeMessages messages;
  platform::LinuxRegistryView view(folder.string());
  SysInfoLauncher({view, files, launcher, messages}).StartSysInfo();
  EXPECT_EQ(messages.shown, std::vector<std::string>{kSysInfoUnavailable});

  std::ofstream(folder / "kinfocenter") << "#!/bin/sh\necho \"$#\" > '" << marker.string() << "'\n";
  fs::permissions(folder / "kinfocenter", fs::perms::owner_all);
  SysInfoLauncher({view, files, launcher, messages}).StartSysInfo();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string arguments;
  while (arguments.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream(marker) >> arguments;
  }
  EXPECT_EQ(arguments, "0");
  EXPECT_EQ(messages.shown.size(), 1u);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace ticklark::about
