// SPDX-License-Identifier: MIT
#include "web/core/zoom_store.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/settings_store.hpp"
#include "web/core/download_names.hpp"

namespace ticklark::web {
namespace {

namespace fs = std::filesystem;

TEST(ZoomSteps, MoveByTenWithinThirtyAndThreeHundred) {
  struct Case {
    int from;
    int direction;
    int to;
  };
  const Case cases[] = {{100, +1, 110}, {100, -1, 90},  {30, -1, 30},   {40, -1, 30},
                        {300, +1, 300}, {290, +1, 300}, {125, +1, 130}, {125, -1, 120},
                        {10, +1, 30},   {900, -1, 300}, {100, 0, 100}};
  for (const Case& c : cases) {
    EXPECT_EQ(StepZoom(c.from, c.direction), c.to) << c.from << " " << c.direction;
  }
}

class ZoomFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ticklark-zoom.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_dir = pattern;
    m_file = m_dir / "Ticklark2" / "zoom-levels.ini";
  }
  void TearDown() override { fs::remove_all(m_dir); }

  void Write(const std::string& text) {
    fs::create_directories(m_file.parent_path());
    std::ofstream(m_file, std::ios::binary) << text;
  }
  std::string Read() const {
    std::ifstream in(m_file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path m_dir;
  fs::path m_file;
};

TEST_F(ZoomFile, KeepsLevelsPerHostAcrossRunsAndForgetsTheDefault) {
  {
    ZoomStore store(m_file);
    EXPECT_EQ(store.Level("www.nasdaq.com"), kZoomDefault);
    EXPECT_FALSE(fs::exists(m_file));  // nothing written before a change
    EXPECT_TRUE(store.SetLevel("WWW.Nasdaq.COM", 120));
    EXPECT_TRUE(store.SetLevel("127.0.0.1", 50));
    EXPECT_TRUE(store.SetLevel("[::1]", 300));
    EXPECT_FALSE(store.SetLevel("127.0.0.1", 50));  // no change
    EXPECT_FALSE(store.SetLevel("bad host", 120));
    EXPECT_FALSE(store.SetLevel("example.org", 125));
  }
  ZoomStore next(m_file);
  EXPECT_EQ(next.Level("www.nasdaq.com"), 120);
  EXPECT_EQ(next.Level("127.0.0.1"), 50);
  EXPECT_EQ(next.Level("[::1]"), 300);
  EXPECT_EQ(next.Level("nasdaq.com"), kZoomDefault);
  EXPECT_TRUE(next.SetLevel("www.nasdaq.com", kZoomDefault));
  EXPECT_EQ(ZoomStore(m_file).Size(), 2u);
  EXPECT_EQ(Read().find("nasdaq"), std::string::npos);
  struct stat info{};
  ASSERT_EQ(stat(m_file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);  // which sites a user reads is theirs
}

// Whatever is in the file, the program starts with what is valid in it and
// leaves the file as it is until the user zooms.
TEST_F(ZoomFile, BadContentGivesTheDefaultAndIsOnlyRewrittenOnAChange) {
  struct Case {
    const char* name;
    std::string text;
    int expected;  // level of good.example afterwards
  };
  const std::vector<Case> cases{
      {"binary", std::string("\xff\xfe\0\x01[Zoom]\ngood.example=\x80\n", 26), kZoomDefault},
      {"no group", "good.example=120\n", kZoomDefault},
      {"other group", "[Settings]\ngood.example=120\n", kZoomDefault},
      {"not a step", "[Zoom]\ngood.example=125\n", kZoomDefault},
      {"out of range", "[Zoom]\ngood.example=20\nother.example=310\n", kZoomDefault},
      {"not a number", "[Zoom]\ngood.example=1e2\ngood.example=-120\ngood.example= \n",
       kZoomDefault},
      {"huge number", "[Zoom]\ngood.example=99999999999999999999\n", kZoomDefault},
      {"hostile host", "[Zoom]\n../../etc/passwd=120\n<script>=120\n=120\n", kZoomDefault},
      {"valid among junk", "junk\n[Zoom]\r\n  good.example = 150 \r\njunk=\n", 150},
      {"last wins", "[Zoom]\ngood.example=150\ngood.example=60\n", 60},
      {"too large", "[Zoom]\ngood.example=150\n" + std::string(300 * 1024, '#'), kZoomDefault},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.text);
    ZoomStore store(m_file);
    EXPECT_EQ(store.Level("good.example"), c.expected);
    EXPECT_EQ(Read(), c.text);
    ASSERT_TRUE(store.SetLevel("other.example", 70));
    ZoomStore again(m_file);
    EXPECT_EQ(again.Level("other.example"), 70);
    EXPECT_EQ(again.Level("good.example"), c.expected);
  }
}

TEST_F(ZoomFile, SomethingOtherThanAFileInItsPlaceNeitherBlocksNorBreaks) {
  fs::create_directories(m_file.parent_path());
  ASSERT_EQ(mkfifo(m_file.c_str(), 0600), 0);
  ZoomStore fifo(m_file);  // must not wait for a writer
  EXPECT_EQ(fifo.Level("good.example"), kZoomDefault);
  fs::remove(m_file);
  fs::create_directories(m_file);
  ZoomStore folder(m_file);
  EXPECT_FALSE(folder.SetLevel("good.example", 120));  // cannot replace a folder
  EXPECT_EQ(folder.Level("good.example"), 120);        // kept for the run all the same
  EXPECT_TRUE(fs::is_directory(m_file));
}

TEST_F(ZoomFile, KeepsTheSitesZoomedMostRecently) {
  std::string text = "[Zoom]\n";
  for (std::size_t i = 0; i < ZoomStore::kMaxSites; ++i) {
    text += "site" + std::to_string(i) + ".example=110\n";
  }
  Write(text);
  ZoomStore store(m_file);
  EXPECT_EQ(store.Level("site0.example"), 110);
  store.SetLevel("newest.example", 120);
  ZoomStore next(m_file);
  EXPECT_EQ(next.Size(), ZoomStore::kMaxSites);
  EXPECT_EQ(next.Level("site0.example"), kZoomDefault);
  EXPECT_EQ(next.Level("site1.example"), 110);
  EXPECT_EQ(next.Level("newest.example"), 120);
}

// Files written before GKeyFile wrote them read the same, IPv6 literals in
// brackets among them, and a rewrite keeps the group and the host names.
TEST_F(ZoomFile, AFileOfEarlierRunsReadsTheSame) {
  Write(
      "# Page zoom of each web site, in percent.\n[Zoom]\nwww.example.org=120\n[::1]=150\n"
      "[fe80::1:2]=80\nxn--bcher-kva.example=110\nunder_score.example=90\n192.0.2.7=200\n");
  const std::vector<std::pair<std::string, int>> expected{
      {"www.example.org", 120},    {"[::1]", 150},
      {"[fe80::1:2]", 80},         {"xn--bcher-kva.example", 110},
      {"under_score.example", 90}, {"192.0.2.7", 200}};
  ZoomStore store(m_file);
  for (const auto& [host, level] : expected) {
    EXPECT_EQ(store.Level(host), level) << host;
  }
  ASSERT_TRUE(store.SetLevel("new.example", 70));
  const std::string text = Read();
  EXPECT_NE(text.find("[Zoom]\nwww.example.org=120\n"), std::string::npos) << text;
  ZoomStore again(m_file);
  EXPECT_EQ(again.Size(), expected.size() + 1);
  for (const auto& [host, level] : expected) {
    EXPECT_EQ(again.Level(host), level) << host;
  }
}

// The settings and the zoom levels keep what the user made of their files.
struct StoreKind {
  const char* name;
  const char* file;  // in <dir>/Ticklark2
  const char* text;  // a file the store reads
  std::size_t tooLarge;
  std::function<bool(const fs::path& dir)> save;
  const char* saved;  // in the file after a save
};

const StoreKind kStores[] = {
    {"Settings", "settings.ini", "[Settings]\nMainLeft=5\n", std::size_t{1} << 20,
     [](const fs::path& dir) {
       return platform::KeyFileSettingsStore(dir).SaveSettings("Ticklark2", "Settings",
                                                               {{"MainLeft", "77"}});
     },
     "MainLeft=77\n"},
    {"Zoom", "zoom-levels.ini", "[Zoom]\nkept.example=150\n", 256 * 1024,
     [](const fs::path& dir) {
       return ZoomStore(dir / "Ticklark2" / "zoom-levels.ini").SetLevel("saved.example", 120);
     },
     "saved.example=120\n"},
};

TEST_F(ZoomFile, BothStoresKeepWhatTheUserMadeOfTheirFile) {
  enum class Place { kPlain, kReadOnly, kThroughALink, kTooLarge };
  const struct {
    const char* name;
    Place place;
    bool written;
  } cases[] = {{"plain", Place::kPlain, true},
               {"read-only", Place::kReadOnly, false},
               {"through a link", Place::kThroughALink, true},
               {"too large to read", Place::kTooLarge, true}};
  for (const StoreKind& store : kStores) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(store.name) + ", " + c.name);
      fs::remove_all(m_dir / "Ticklark2");
      fs::remove_all(m_dir / "dotfiles");
      const fs::path named = m_dir / "Ticklark2" / store.file;
      const fs::path file =
          c.place == Place::kThroughALink ? m_dir / "dotfiles" / "mine.ini" : named;
      fs::create_directories(named.parent_path());
      fs::create_directories(file.parent_path());
      std::string text = store.text;
      if (c.place == Place::kTooLarge) {
        text += std::string(store.tooLarge, '#') + "\n";
      }
      std::ofstream(file, std::ios::binary) << text;
      if (c.place == Place::kThroughALink) {
        fs::create_symlink("../dotfiles/mine.ini", named);
      }
      const auto mode = c.place == Place::kReadOnly ? fs::perms(0444) : fs::perms(0640);
      fs::permissions(file, mode);

      ::testing::internal::CaptureStderr();
      EXPECT_EQ(store.save(m_dir), c.written);
      ::testing::internal::GetCapturedStderr();

      m_file = file;
      const std::string after = Read();
      EXPECT_EQ(after == text, !c.written);
      EXPECT_EQ(after.find(store.saved) != std::string::npos, c.written) << after;
      EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, mode);
      EXPECT_EQ(fs::is_symlink(named), c.place == Place::kThroughALink);
      // A file too large to read is kept whole beside the new one; otherwise
      // nothing is left beside the file, no copy and no temporary file.
      m_file = fs::path(file.string() + ".unreadable");
      EXPECT_EQ(fs::exists(m_file), c.place == Place::kTooLarge);
      if (c.place == Place::kTooLarge) {
        EXPECT_EQ(Read(), text);
      }
      const auto beside = std::distance(fs::directory_iterator(file.parent_path()), {});
      EXPECT_EQ(beside, c.place == Place::kTooLarge ? 2 : 1);
    }
  }
}

TEST(ZoomFileLocation, IsItsOwnFileNextToTheSettings) {
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string restore = saved ? saved : "";
  setenv("XDG_CONFIG_HOME", "/config/home", 1);
  EXPECT_EQ(ZoomStore::DefaultFile(), fs::path("/config/home/Ticklark2/zoom-levels.ini"));
  if (saved) {
    setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

TEST(DownloadNames, ProposeOnlyAPlainNameInTheChosenFolder) {
  const std::string longStem(300, 'a');
  const std::string accented = std::string(253, 'b') + "\xC3\xA9\xC3\xA9";  // two e-acute
  struct Case {
    std::string suggested;
    std::string expected;
  };
  const std::vector<Case> cases{
      {"earnings.csv", "earnings.csv"},
      {"../../.bashrc", "bashrc"},
      {"/etc/passwd", "passwd"},
      {"C:\\Users\\x\\report.xlsx", "report.xlsx"},
      {"  .hidden. ", "hidden"},
      {std::string("a\x01\nb\x7f.txt"), "ab.txt"},
      {"..", "download"},
      {"", "download"},
      {longStem + ".csv", std::string(251, 'a') + ".csv"},
      {accented, std::string(253, 'b') + "\xC3\xA9"},  // never half a character
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SafeFileName(c.suggested), c.expected) << c.suggested;
  }
}

// The temporary name fits the folder's limit however long the chosen one.
TEST(DownloadNames, TheTemporaryNameFitsTheFolder) {
  struct Case {
    std::string name;
    std::size_t limit;
    std::string expected;
  };
  const std::string accented = std::string(231, 'b') + "\xC3\xA9";  // ends in e-acute
  const std::vector<Case> cases{
      {"earnings.csv", 255, "earnings.csv.XXXXXX.part"},
      {std::string(232, 'a'), 255, std::string(232, 'a') + ".XXXXXX.part"},
      {std::string(251, 'a') + ".csv", 255, std::string(232, 'a') + ".XXXXXX.part"},
      {accented, 255, std::string(231, 'b') + ".XXXXXX.part"},  // never half a character
      {"report.csv", 27, "repo.XXXXXX.part"},
  };
  for (const Case& c : cases) {
    const std::string made = PartFileTemplate(c.name, c.limit);
    EXPECT_EQ(made, c.expected) << c.name.size() << " bytes";
    // The engine writes to the name with ".wkdownload" added.
    EXPECT_LE(made.size() + 11, c.limit);
  }
}

TEST(DownloadNames, AnotherNameWhereOneIsTaken) {
  std::vector<fs::path> taken{"/d/report.csv", "/d/report (2).csv", "/d/notes"};
  const auto isTaken = [&](const fs::path& path) {
    return std::find(taken.begin(), taken.end(), path) != taken.end();
  };
  EXPECT_EQ(FreePath("/d/free.csv", isTaken), fs::path("/d/free.csv"));
  EXPECT_EQ(FreePath("/d/report.csv", isTaken), fs::path("/d/report (3).csv"));
  EXPECT_EQ(FreePath("/d/notes", isTaken), fs::path("/d/notes (2)"));
  EXPECT_EQ(FreePath("/d/x", [](const fs::path&) { return true; }), fs::path());
}

}  // namespace
}  // namespace ticklark::web
