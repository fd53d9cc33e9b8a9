// SPDX-License-Identifier: MIT
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include "app/fakes.hpp"
#include "app/window_geometry.hpp"
#include "support/gtk_fixture.hpp"

namespace ticklark::app {
namespace {

using test::FakePlacement;
using test::FakeSettingsStore;

struct StoredCase {
  const char* name;
  std::map<std::string, std::string> stored;
  TwipsBounds expected;
};

void PrintTo(const StoredCase& param, std::ostream* out) {
  *out << param.name;
}

class StoredBounds : public ::testing::TestWithParam<StoredCase> {};

TEST_P(StoredBounds, EachKeyFallsBackOnItsOwn) {
  FakeSettingsStore store;
  store.values = GetParam().stored;
  EXPECT_EQ(ReadStoredBounds(store), GetParam().expected);
  EXPECT_EQ(store.reads,
            (std::vector<std::string>{"MainLeft", "MainTop", "MainWidth", "MainHeight"}));
}

INSTANTIATE_TEST_SUITE_P(
    Geometry, StoredBounds,
    ::testing::Values(
        StoredCase{"FirstRun", {}, {1000, 1000, 6500, 6500}},
        StoredCase{"AllStored",
                   {{"MainLeft", "120"},
                    {"MainTop", "-300"},
                    {"MainWidth", "15480"},
                    {"MainHeight", "11700"}},
                   {120, -300, 15480, 11700}},
        StoredCase{
            "SomeMissing", {{"MainTop", "2000"}, {"MainHeight", "9000"}}, {1000, 2000, 6500, 9000}},
        StoredCase{"OffScreenIsKept",
                   {{"MainLeft", "-90000"}, {"MainTop", "200000"}},
                   {-90000, 200000, 6500, 6500}},
        StoredCase{
            "NotNumbers",
            {{"MainLeft", "left"}, {"MainTop", "12px"}, {"MainWidth", ""}, {"MainHeight", "0x40"}},
            {1000, 1000, 6500, 6500}},
        StoredCase{"WidthAndHeightNotPositive",
                   {{"MainWidth", "0"}, {"MainHeight", "-4500"}},
                   {1000, 1000, 6500, 6500}},
        StoredCase{"SmallerThanAPixel", {{"MainWidth", "7"}}, {1000, 1000, 6500, 6500}},
        StoredCase{"BeyondAnyScreen",
                   {{"MainLeft", "1e300"}, {"MainWidth", "9999999"}},
                   {1000, 1000, 6500, 6500}},
        StoredCase{
            "NotFinite", {{"MainLeft", "nan"}, {"MainTop", "inf"}}, {1000, 1000, 6500, 6500}},
        StoredCase{"SpacesAndFractions",
                   {{"MainLeft", " 1500 "}, {"MainTop", "1234.5"}},
                   {1500, 1234.5, 6500, 6500}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(GeometryText, WholeTwipsAreStoredWithoutFraction) {
  EXPECT_EQ(FormatTwips(1000), "1000");
  EXPECT_EQ(FormatTwips(-525), "-525");
  EXPECT_EQ(FormatTwips(15480), "15480");
  EXPECT_EQ(FormatTwips(1234.5), "1234.5");
  for (double value : {0.0, 15.0, -32767.0 * 15, 491505.0}) {
    EXPECT_EQ(ParseTwips(FormatTwips(value)), value);
  }
}

TEST(GeometryMonitors, ABoundsRectangleMustOverlapAMonitor) {
  const std::vector<platform::PixelRect> monitors{{0, 0, 1600, 1200}, {1600, 0, 1280, 1024}};
  EXPECT_TRUE(ShowsOnAnyMonitor({-100, -100, 101, 101}, monitors));
  EXPECT_TRUE(ShowsOnAnyMonitor({2800, 1000, 400, 400}, monitors));
  EXPECT_FALSE(ShowsOnAnyMonitor({-500, 0, 500, 500}, monitors));
  EXPECT_FALSE(ShowsOnAnyMonitor({1700, 1024, 300, 300}, monitors));
  EXPECT_FALSE(ShowsOnAnyMonitor({6000, 6000, 300, 300}, monitors));
}

class GeometryWindow : public test::GtkTest {
 protected:
  FakeSettingsStore store;
  FakePlacement placement;
  Gtk::Window window;
  WindowGeometry geometry{store, placement};
};

TEST_F(GeometryWindow, RoundTripStoresWhatWasRead) {
  store.values = {
      {"MainLeft", "1000"}, {"MainTop", "1010"}, {"MainWidth", "6500"}, {"MainHeight", "6490"}};
  geometry.Restore(window);
  ASSERT_TRUE(placement.bounds);
  EXPECT_EQ(*placement.bounds, (platform::PixelRect{67, 67, 433, 433}));
  // Unmoved: the same texts go back, although 1000 twips is not a whole pixel.
  EXPECT_TRUE(geometry.Store(window));
  EXPECT_EQ(store.values["MainLeft"], "1000");
  EXPECT_EQ(store.values["MainTop"], "1010");
  EXPECT_EQ(store.values["MainWidth"], "6500");
  EXPECT_EQ(store.values["MainHeight"], "6490");
  // Moved and resized: the new bounds in twips.
  placement.bounds = platform::PixelRect{100, -20, 800, 600};
  EXPECT_TRUE(geometry.Store(window));
  EXPECT_EQ(store.values["MainLeft"], "1500");
  EXPECT_EQ(store.values["MainTop"], "-300");
  EXPECT_EQ(store.values["MainWidth"], "12000");
  EXPECT_EQ(store.values["MainHeight"], "9000");
}

TEST_F(GeometryWindow, MinimisedCloseStoresNothing) {
  store.values = {{"MainLeft", "3000"}};
  geometry.Restore(window);
  placement.bounds = platform::PixelRect{0, 0, 50, 50};
  placement.minimized = true;
  EXPECT_FALSE(geometry.Store(window));
  EXPECT_EQ(store.saves, 0);
  EXPECT_EQ(store.values.size(), 1u);
}

TEST_F(GeometryWindow, MaximisedCloseStoresTheMaximisedBounds) {
  geometry.Restore(window);
  placement.bounds = platform::PixelRect{0, 0, 1600, 1200};
  EXPECT_TRUE(geometry.Store(window));
  EXPECT_EQ(store.values["MainWidth"], "24000");
  EXPECT_EQ(store.values["MainHeight"], "18000");
}

TEST_F(GeometryWindow, OffEveryMonitorOpensAtTheDefaultPositionWithItsSize) {
  store.values = {
      {"MainLeft", "-60000"}, {"MainTop", "90000"}, {"MainWidth", "9000"}, {"MainHeight", "7500"}};
  geometry.Restore(window);
  ASSERT_TRUE(placement.bounds);
  EXPECT_EQ(*placement.bounds, (platform::PixelRect{67, 67, 600, 500}));
}

// A primary monitor to the right of another: the default position counts from
// its corner, key by key; stored positions stay where they are.
TEST_F(GeometryWindow, TheDefaultPositionLiesOnThePrimaryMonitor) {
  placement.monitors = {{0, 0, 1280, 1024}, {1280, 100, 1600, 1200}};
  placement.primary = placement.monitors[1];
  const struct {
    std::map<std::string, std::string> stored;
    platform::PixelRect expected;
  } cases[] = {
      {{}, {1280 + 67, 100 + 67, 433, 433}},
      {{{"MainLeft", "300"}}, {20, 100 + 67, 433, 433}},
      {{{"MainLeft", "300"}, {"MainTop", "450"}}, {20, 30, 433, 433}},
      {{{"MainLeft", "-90000"}, {"MainTop", "450"}}, {1280 + 67, 100 + 67, 433, 433}},
  };
  for (const auto& c : cases) {
    store.values = c.stored;
    geometry.Restore(window);
    ASSERT_TRUE(placement.bounds);
    EXPECT_EQ(*placement.bounds, c.expected) << c.stored.size() << " keys stored";
  }
}

TEST_F(GeometryWindow, AFailingStoreEndsNothing) {
  geometry.Restore(window);
  placement.bounds = platform::PixelRect{10, 10, 500, 500};
  store.failWrites = true;
  EXPECT_FALSE(geometry.Store(window));
}

class KeyFileStore : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("ticklark-settings-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::filesystem::path dir;
};

TEST_F(KeyFileStore, SavesAllKeysAndReadsThemBack) {
  platform::KeyFileSettingsStore store(dir);
  EXPECT_EQ(store.GetSetting("Ticklark2", "Settings", "MainLeft", "1000"), "1000");
  ASSERT_TRUE(
      store.SaveSettings("Ticklark2", "Settings", {{"MainLeft", "15"}, {"MainTop", "-30"}}));
  EXPECT_EQ(store.GetSetting("Ticklark2", "Settings", "MainLeft", "1000"), "15");
  EXPECT_EQ(store.GetSetting("Ticklark2", "Settings", "MainTop", "1000"), "-30");
  EXPECT_EQ(store.GetSetting("Ticklark2", "Other", "MainTop", "7"), "7");
  const std::string text = Read(dir / "Ticklark2" / "settings.ini");
  EXPECT_NE(text.find("[Settings]"), std::string::npos);
  EXPECT_NE(text.find("MainTop=-30"), std::string::npos);
}

TEST_F(KeyFileStore, KeepsWhatAUserAddedToTheFile) {
  std::filesystem::create_directories(dir / "Ticklark2");
  std::ofstream(dir / "Ticklark2" / "settings.ini")
      << "# mine\n[Settings]\nMainLeft=5\n[Extra]\nx=1\n";
  platform::KeyFileSettingsStore store(dir);
  ASSERT_TRUE(store.SaveSettings("Ticklark2", "Settings", {{"MainLeft", "45"}}));
  const std::string text = Read(dir / "Ticklark2" / "settings.ini");
  EXPECT_NE(text.find("# mine"), std::string::npos);
  EXPECT_NE(text.find("x=1"), std::string::npos);
  EXPECT_NE(text.find("MainLeft=45"), std::string::npos);
}

TEST_F(KeyFileStore, ACorruptFileGivesDefaultsAndIsSetAsideOnSave) {
  std::filesystem::create_directories(dir / "Ticklark2");
  const std::string garbage("\xff\xfe[Set\0tings\nMainLeft", 20);
  std::ofstream(dir / "Ticklark2" / "settings.ini", std::ios::binary) << garbage;
  platform::KeyFileSettingsStore store(dir);
  EXPECT_EQ(store.GetSetting("Ticklark2", "Settings", "MainLeft", "1000"), "1000");
  ASSERT_TRUE(store.SaveSettings("Ticklark2", "Settings", {{"MainLeft", "90"}}));
  EXPECT_EQ(store.GetSetting("Ticklark2", "Settings", "MainLeft", "1000"), "90");
  EXPECT_EQ(Read(dir / "Ticklark2" / "settings.ini.unreadable"), garbage);

  // A later unreadable file is kept too, beside the earlier copy, never over it.
  std::ofstream(dir / "Ticklark2" / "settings.ini", std::ios::binary) << "second\n";
  ASSERT_TRUE(store.SaveSettings("Ticklark2", "Settings", {{"MainLeft", "91"}}));
  std::ofstream(dir / "Ticklark2" / "settings.ini", std::ios::binary) << "third\n";
  ASSERT_TRUE(store.SaveSettings("Ticklark2", "Settings", {{"MainLeft", "92"}}));
  EXPECT_EQ(Read(dir / "Ticklark2" / "settings.ini.unreadable"), garbage);
  EXPECT_EQ(Read(dir / "Ticklark2" / "settings.ini.unreadable.1"), "second\n");
  EXPECT_EQ(Read(dir / "Ticklark2" / "settings.ini.unreadable.2"), "third\n");
  EXPECT_EQ(store.GetSetting("Ticklark2", "Settings", "MainLeft", "1000"), "92");
}

// A settings file as the user left it, and what saving MainLeft=77 makes of it.
struct UserFileCase {
  const char* name;
  const char* text;
  std::filesystem::perms mode;
  bool through_link;  // settings.ini is a link to the file, in another folder
  const char* read;   // MainLeft as read
  bool written;
  const char* kept;  // what must still be in the file after the save
};

void PrintTo(const UserFileCase& param, std::ostream* out) {
  *out << param.name;
}

class KeyFileStoreUserFile : public KeyFileStore,
                             public ::testing::WithParamInterface<UserFileCase> {};

TEST_P(KeyFileStoreUserFile, IsWrittenAsTheUserLeftIt) {
  using std::filesystem::perms;
  const UserFileCase& c = GetParam();
  const auto folder = dir / "Ticklark2";
  const auto file = c.through_link ? dir / "dotfiles" / "ticklark.ini" : folder / "settings.ini";
  std::filesystem::create_directories(folder);
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << c.text;
  if (c.through_link) {
    std::filesystem::create_symlink("../dotfiles/ticklark.ini", folder / "settings.ini");
  }
  std::filesystem::permissions(file, c.mode);
  platform::KeyFileSettingsStore store(dir);
  EXPECT_EQ(store.GetSetting("Ticklark2", "Settings", "MainLeft", "1000"), c.read);

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(store.SaveSettings("Ticklark2", "Settings", {{"MainLeft", "77"}}), c.written);
  EXPECT_EQ(store.SaveSettings("Ticklark2", "Settings", {{"MainLeft", "77"}}), c.written);
  const std::string said = ::testing::internal::GetCapturedStderr();

  const std::string text = Read(file);
  if (c.written) {
    EXPECT_NE(text.find(c.kept), std::string::npos) << text;
    const auto first = text.find("MainLeft=");
    EXPECT_EQ(text.substr(first, 12), "MainLeft=77\n") << text;
    EXPECT_EQ(text.find("MainLeft=", first + 1), std::string::npos) << "written once: " << text;
    EXPECT_EQ(said, "");
  } else {
    EXPECT_EQ(text, c.text);
    // Said once, however often the window closes.
    EXPECT_NE(said.find("read-only"), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
  }
  EXPECT_EQ(std::filesystem::status(file).permissions() & perms::all, c.mode);
  EXPECT_EQ(std::filesystem::is_symlink(folder / "settings.ini"), c.through_link);
  // Nothing beside it: no copy set aside, no temporary file left.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1);
}

using std::filesystem::perms;
INSTANTIATE_TEST_SUITE_P(
    Kinds, KeyFileStoreUserFile,
    ::testing::Values(
        UserFileCase{"ReadOnly", "[Settings]\nMainLeft=5\n",
                     perms::owner_read | perms::group_read | perms::others_read, false, "5", false,
                     nullptr},
        UserFileCase{"ModeKept", "[Settings]\nMainLeft=5\n",
                     perms::owner_read | perms::owner_write | perms::group_read, false, "5", true,
                     "[Settings]"},
        UserFileCase{"ThroughALink", "# mine\n[Settings]\nMainLeft=5\n",
                     perms::owner_read | perms::owner_write, true, "5", true, "# mine"},
        UserFileCase{"KeyGivenTwice", "[Settings]\nMainLeft=1\nMainTop=2\nMainLeft=3\n",
                     perms::owner_read | perms::owner_write, false, "3", true, "MainTop=2"},
        UserFileCase{"ByteOrderMark", "\xEF\xBB\xBF[Settings]\nMainLeft=4\n",
                     perms::owner_read | perms::owner_write, false, "4", true,
                     "\xEF\xBB\xBF[Settings]"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

// What the user may have put where the settings belong, and what a save then
// says. Nothing is changed and nothing added; it is said once a run.
struct BrokenPlaceCase {
  const char* name;
  std::function<void(const std::filesystem::path& dir)> make;
  const char* reason;
};

void PrintTo(const BrokenPlaceCase& param, std::ostream* out) {
  *out << param.name;
}

class KeyFileStoreBrokenPlace : public KeyFileStore,
                                public ::testing::WithParamInterface<BrokenPlaceCase> {};

std::vector<std::string> Listing(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    names.push_back(entry.path().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_P(KeyFileStoreBrokenPlace, StoresNothingAndSaysWhyOnce) {
  GetParam().make(dir);
  const auto before = Listing(dir);
  platform::KeyFileSettingsStore store(dir);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(store.SaveSettings("Ticklark2", "Settings", {{"MainLeft", "1"}}));
  EXPECT_FALSE(store.SaveSettings("Ticklark2", "Settings", {{"MainLeft", "2"}}));
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.rfind("ticklark2: window position and size not saved: ", 0), 0u) << said;
  EXPECT_NE(said.find(GetParam().reason), std::string::npos) << said;
  EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
  EXPECT_EQ(Listing(dir), before);
  EXPECT_EQ(store.GetSetting("Ticklark2", "Settings", "MainLeft", "1000"), "1000");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, KeyFileStoreBrokenPlace,
    ::testing::Values(
        BrokenPlaceCase{"AFileForTheFolder",
                        [](const auto& dir) { std::ofstream(dir / "Ticklark2") << "not a folder"; },
                        "is not a folder"},
        BrokenPlaceCase{"AFolderForTheFile",
                        [](const auto& dir) {
                          std::filesystem::create_directories(dir / "Ticklark2" / "settings.ini");
                        },
                        "settings.ini is a folder"},
        BrokenPlaceCase{"ALinkIntoAMissingFolder",
                        [](const auto& dir) {
                          std::filesystem::create_directories(dir / "Ticklark2");
                          std::filesystem::create_symlink("../gone/ticklark.ini",
                                                          dir / "Ticklark2" / "settings.ini");
                        },
                        "No such file or directory"},
        BrokenPlaceCase{
            "ALinkLoop",
            [](const auto& dir) {
              std::filesystem::create_directories(dir / "Ticklark2");
              std::filesystem::create_symlink("other.ini", dir / "Ticklark2" / "settings.ini");
              std::filesystem::create_symlink("settings.ini", dir / "Ticklark2" / "other.ini");
            },
            "Too many levels of symbolic links"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

// A full file system, out of space or of files, in a mount namespace of the
// test's own: the save says so once, leaves the file as it was, and leaves no
// copy or temporary file, not even an empty one.
TEST_F(KeyFileStore, AFullFileSystemSaysSoOnceAndLeavesNoCopy) {
  if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 ||
      mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    GTEST_SKIP() << "mounts a small file system: needs root";
  }
  struct Case {
    const char* name;
    const char* options;
    std::string text;
    bool withFiles;  // filled with empty files rather than data
  };
  const std::string garbage("\xff\xfe[Set\0tings\nMainLeft", 20);
  const std::vector<Case> cases{
      {"no space, a readable file", "size=64k", "[Settings]\nMainLeft=5\n", false},
      {"no space, an unreadable file", "size=64k", garbage, false},
      {"no files left", "size=1m,nr_inodes=8", "[Settings]\nMainLeft=5\n", true},
  };
  const auto file = dir / "Ticklark2" / "settings.ini";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(mount("tmpfs", dir.c_str(), "tmpfs", 0, c.options), 0) << std::strerror(errno);
    std::filesystem::create_directories(dir / "Ticklark2");
    std::ofstream(file, std::ios::binary) << c.text;
    for (int i = 0;; ++i) {
      std::ofstream filler(dir / ("filler" + std::to_string(c.withFiles ? i : 0)),
                           std::ios::binary | std::ios::app);
      if (!filler || (!c.withFiles && !(filler << std::string(4096, 'x') << std::flush))) {
        break;
      }
    }
    const auto before = Listing(dir / "Ticklark2");
    platform::KeyFileSettingsStore store(dir);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(store.SaveSettings("Ticklark2", "Settings", {{"MainLeft", "1"}}));
    EXPECT_FALSE(store.SaveSettings("Ticklark2", "Settings", {{"MainLeft", "2"}}));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("No space left on device"), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
    EXPECT_EQ(Listing(dir / "Ticklark2"), before);
    EXPECT_EQ(Read(file), c.text);
    ASSERT_EQ(umount2(dir.c_str(), MNT_DETACH), 0);
  }
}

}  // namespace
}  // namespace ticklark::app
