// SPDX-License-Identifier: MIT
#include <filesystem>
#include <string>
#include <vector>

#include "web/pane_fixture.hpp"

namespace ticklark::test {
namespace {

using web::BrowserPane;
using web::PaneRole;
using web::WebSession;

namespace fs = std::filesystem;

std::vector<std::string> FilesUnder(const fs::path& folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error)) {
      files.push_back(it->path().lexically_relative(folder).string());
    }
  }
  return files;
}

class PaneSession : public PaneTest {
 protected:
  // Opens |path| in a pane of a fresh persistent session; the page's title
  // once its script ran.
  std::string VisitWithNewSession(const std::string& path) {
    RecordingBrowser browser;
    WebSession session(browser);
    BrowserPane pane(session, PaneRole::kMain);
    m_fixed->put(pane.Widget(), 0, 0);
    pane.Navigate(m_server.Address(path));
    PumpUntil([&] { return TitleOf(pane).rfind("Seen", 0) == 0; });
    const std::string title = TitleOf(pane);
    m_fixed->remove(pane.Widget());
    return title;
  }
};

// Cookies and local storage outlive the session, kept under the program's own
// data folder rather than the engine's default one.
TEST_F(PaneSession, WebsiteDataPersistsUnderTheProgramsFolders) {
  // Named after this run's server, so that data of an earlier run cannot count.
  const std::string name =
      "seen" + m_server.BaseAddress().substr(m_server.BaseAddress().rfind(':') + 1);
  ServePage("/visit", "Visit",
            "<script>const name = '" + name +
                "';"
                "const cookie = document.cookie.split('; ').find(c => c.startsWith(name + '='));"
                "const before = (cookie || '') + '|' + localStorage.getItem(name);"
                "document.cookie = name + '=1; max-age=86400; path=/';"
                "localStorage.setItem(name, '1');"
                "document.title = 'Seen ' + before;</script>");
  EXPECT_EQ(VisitWithNewSession("/visit"), "Seen |null");
  EXPECT_EQ(VisitWithNewSession("/visit"), "Seen " + name + "=1|1");

  EXPECT_EQ(WebSession::DataDirectory(), std::string(g_get_user_data_dir()) + "/Ticklark2");
  EXPECT_EQ(WebSession::CacheDirectory(), std::string(g_get_user_cache_dir()) + "/Ticklark2");
  EXPECT_FALSE(FilesUnder(WebSession::DataDirectory()).empty());
  // The engine's own default folders stay unused.
  for (const char* root : {g_get_user_data_dir(), g_get_user_cache_dir()}) {
    for (const std::string& file : FilesUnder(root)) {
      EXPECT_NE(file.rfind("webkitgtk", 0), 0u) << root << "/" << file;
    }
  }
}

}  // namespace
}  // namespace ticklark::test
