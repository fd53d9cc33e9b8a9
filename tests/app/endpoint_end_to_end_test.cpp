// SPDX-License-Identifier: MIT
// The program as built, with its default endpoint base address, against a
// running ticklark-endpoint: the ad pane shows the endpoint's market strip.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <glib.h>
#include <gtest/gtest.h>

#include "app/fakes.hpp"
#include "app/main_form.hpp"
#include "platform/default_browser.hpp"
#include "support/gtk_fixture.hpp"
#include "support/pane_waits.hpp"
#include "ticklark/version.hpp"
#include "web/engine/browser_pane.hpp"
#include "web/engine/web_session.hpp"

namespace ticklark::app {
namespace {

class NoBrowser : public platform::DefaultBrowser {
 public:
  bool Open(const std::string&) override { return false; }
};

// "127.0.0.1:8642" from "http://127.0.0.1:8642".
std::string ListenAddress() {
  std::string base = kEndpointBase;
  return base.substr(base.find("://") + 3);
}

class EndpointEndToEnd : public test::GtkTest {
 protected:
  void SetUp() override {
    if (std::string(kEndpointBase).rfind("http://127.0.0.1:", 0) != 0) {
      GTEST_SKIP() << "built for an endpoint elsewhere: " << kEndpointBase;
    }
    log = std::string(g_get_tmp_dir()) + "/ticklark-e2e-" + std::to_string(getpid()) + ".log";
    // No overrides: an empty table (the endpoint reads regular files only).
    table = std::string(g_get_tmp_dir()) + "/ticklark-e2e-" + std::to_string(getpid()) + ".conf";
    std::ofstream(table, std::ios::trunc).flush();
    endpoint = fork();
    if (endpoint == 0) {
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 2);
      execl(TICKLARK_ENDPOINT_BINARY, TICKLARK_ENDPOINT_BINARY, "--listen", ListenAddress().c_str(),
            "--redirects", table.c_str(), nullptr);
      _exit(127);
    }
    // Ready when it has bound its port (it says so), or gone when the port is taken.
    ASSERT_TRUE(test::PumpUntil([&] {
      std::ifstream in(log);
      std::ostringstream text;
      text << in.rdbuf();
      return text.str().find("listening") != std::string::npos ||
             waitpid(endpoint, nullptr, WNOHANG) != 0;
    }));
  }
  void TearDown() override {
    if (endpoint > 0) {
      kill(endpoint, SIGTERM);
      waitpid(endpoint, nullptr, 0);
    }
    if (!log.empty()) {
      std::remove(log.c_str());
    }
    if (!table.empty()) {
      std::remove(table.c_str());
    }
  }
  std::string Log() {
    std::ifstream in(log);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  pid_t endpoint = -1;
  std::string log;
  std::string table;
};

TEST_F(EndpointEndToEnd, TheAdPaneLoadsTheMarketStrip) {
  if (waitpid(endpoint, nullptr, WNOHANG) != 0) {
    endpoint = -1;
    GTEST_SKIP() << "the endpoint's port is taken: " << Log();
  }
  NoBrowser browser;
  web::WebSession session{browser, {web::WebSession::Storage::kEphemeral, std::nullopt}};
  web::DestinationCatalogue catalogue;  // the built-in base address
  test::FakeSettingsStore store;
  test::FakePlacement placement;
  WindowGeometry geometry{store, placement};
  ui::LoadedWindows loaded;
  SharedForms shared;
  MainForm form(ui::FormServices{loaded, placement},
                MainForm::Collaborators{{}, session, catalogue, geometry, shared});
  form.Load();
  const std::string strip = catalogue.Address(web::Destination::ticklark_ad_frame);
  EXPECT_EQ(strip, std::string(kEndpointBase) + "/ticklark/viewext/ticklark_ad_frame.asp");
  EXPECT_TRUE(test::PumpUntil([&] {
    test::TryAgainWhereStopped({form.WebBrowser1(), form.WebBrowser12()});
    return form.WebBrowser12()->CurrentAddress() == strip && !form.WebBrowser12()->IsLoading() &&
           form.WebBrowser12()->Notice() == web::PaneNotice::kNone &&
           Log().find("GET /ticklark/viewext/redirect/islandjava.asp 302") != std::string::npos;
  }));
  EXPECT_EQ(form.WebBrowser12()->Notice(), web::PaneNotice::kNone);
  const std::string requests = Log();
  EXPECT_NE(requests.find("GET /ticklark/viewext/ticklark_ad_frame.asp 200"), std::string::npos)
      << requests;
  EXPECT_NE(requests.find("GET /ticklark/viewext/redirect/islandjava.asp 302"), std::string::npos)
      << requests;
  form.Close();
  ui::DestroyUnloadedWindows();
}

}  // namespace
}  // namespace ticklark::app
