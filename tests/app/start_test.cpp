// SPDX-License-Identifier: MIT
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <glib.h>
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include "app/command_line.hpp"
#include "app/fakes.hpp"
#include "app/main_form.hpp"
#include "app/splash_wait.hpp"
#include "app/start.hpp"
#include "platform/default_browser.hpp"
#include "platform/window_placement.hpp"
#include "support/gtk_fixture.hpp"
#include "support/loopback_server.hpp"
#include "support/process_tree.hpp"
#include "support/screenshot.hpp"
#include "web/engine/browser_pane.hpp"
#include "web/engine/web_session.hpp"

namespace ticklark::app {
namespace {

class NoBrowser : public platform::DefaultBrowser {
 public:
  bool Open(const std::string&) override { return false; }
};

class StartProcedure : public test::GtkTest {
 protected:
  ui::LoadedWindows loaded;
  platform::X11WindowPlacement placement;
  test::FakeSettingsStore store;
  NoBrowser browser;
  web::WebSession session{browser, {web::WebSession::Storage::kEphemeral, std::nullopt}};
  // Nothing listens here: the panes show the engine's error pages.
  web::DestinationCatalogue catalogue{"http://127.0.0.1:9"};
  SharedForms sharedForms;
  ProgramServices services{{}, loaded, placement, store, session, catalogue, sharedForms};
};

// A loopback server answering on a thread of its own: it counts a request the
// moment one arrives, whatever the program's thread is doing.
class ServerThread {
 public:
  ServerThread() : m_thread([this] { Run(); }) { m_server = m_ready.get_future().get(); }
  ~ServerThread() {
    g_main_loop_quit(m_loop);
    m_thread.join();
  }
  test::LoopbackServer& Server() { return *m_server; }

 private:
  void Run() {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    {
      test::LoopbackServer server;
      m_loop = g_main_loop_new(context, FALSE);
      m_ready.set_value(&server);
      g_main_loop_run(m_loop);
      g_main_loop_unref(m_loop);
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
  }

  std::promise<test::LoopbackServer*> m_ready;
  GMainLoop* m_loop = nullptr;
  test::LoopbackServer* m_server = nullptr;
  std::thread m_thread;
};

// Engine processes of this test's tree whose command starts with |name|.
std::vector<int> EngineProcesses(std::string_view name) {
  std::vector<int> ids;
  for (int pid : test::ProcessTree(getpid())) {
    if (test::CommandName(pid).rfind(name, 0) == 0) {
      ids.push_back(pid);
    }
  }
  return ids;
}
std::vector<int> WebProcessIds() {
  return EngineProcesses("WebKitWebProces");
}

// The main window's first pages, served by |server| under |pages|.
constexpr web::Destination kFirstPages[] = {web::Destination::islandjava,
                                            web::Destination::quickennews,
                                            web::Destination::ticklark_ad_frame};
void ServeFirstPages(test::LoopbackServer& server, const web::DestinationCatalogue& pages) {
  for (web::Destination page : kFirstPages) {
    server.ServeHtml(test::PathOf(pages.Address(page)), "<title>first page</title>");
  }
}
// What the main window's panes show in place of a page, should a start go
// wrong: a crashed web process and a load lost on its way read differently.
std::string NoticesOf(const MainForm& form) {
  std::string text = "pane notices (0 none, 1 crashed, 3 stopped):";
  for (const web::BrowserPane* pane :
       {form.WebBrowser1(), form.WebBrowser2(), form.WebBrowser12()}) {
    text += " " + std::to_string(static_cast<int>(pane->Notice()));
  }
  return text;
}

bool AwaitFirstPagesAsked(test::LoopbackServer& server, const web::DestinationCatalogue& pages) {
  return test::PumpUntil(
      [&] {
        return std::all_of(std::begin(kFirstPages), std::end(kFirstPages), [&](auto page) {
          return server.CountRequests(test::PathOf(pages.Address(page))) > 0;
        });
      },
      std::chrono::seconds(20));
}

// The wait starts the main window's web process and the network process, yet
// nothing reaches a server before the main window's Load asks for its pages,
// which then come through that same web process.
TEST_F(StartProcedure, WaitStartsTheEngineWithoutAnyRequestBeforeLoad) {
  ServerThread thread;
  test::LoopbackServer& server = thread.Server();
  web::DestinationCatalogue pages{server.BaseAddress()};
  ServeFirstPages(server, pages);
  int webProcessesInWait = 0;
  int networkProcessesInWait = 0;
  std::optional<std::size_t> requestsAtLoad;
  store.onRead = [&] {
    // The first geometry read opens the main window's Load.
    if (!requestsAtLoad) {
      requestsAtLoad = server.Requests().size();
    }
  };
  Module1 started({{}, loaded, placement, store, session, pages, sharedForms}, [&](int ms) {
    // The program's own wait, in full: whatever the engine would ask of a
    // server on its own before Load, it asks now.
    SplashWait(ms);
    webProcessesInWait = static_cast<int>(WebProcessIds().size());
    networkProcessesInWait = static_cast<int>(EngineProcesses("WebKitNetworkPr").size());
  });
  started.Main();

  EXPECT_EQ(webProcessesInWait, 1);
  EXPECT_EQ(networkProcessesInWait, 1);
  EXPECT_EQ(requestsAtLoad, std::optional<std::size_t>(0));
  EXPECT_TRUE(AwaitFirstPagesAsked(server, pages));
  EXPECT_EQ(WebProcessIds().size(), 1u);
  started.MainWindow()->Close();
  ui::DestroyUnloadedWindows();
}

// Twenty starts in a row, each with one web process for the main window's
// three panes. In every fourth the web process started during the wait is held
// still for longer than the engine waits for an answer, as a busy machine does
// to a process that has only just started: the panes wait for it instead of
// each going to a process of its own.
TEST_F(StartProcedure, EveryStartPutsTheMainWindowsPanesInOneWebProcess) {
  ServerThread thread;
  test::LoopbackServer& server = thread.Server();
  web::DestinationCatalogue pages{server.BaseAddress()};
  ServeFirstPages(server, pages);
  for (std::size_t start = 1; start <= 20; ++start) {
    SCOPED_TRACE("start " + std::to_string(start));
    const bool busy = start % 4 == 0;
    std::vector<int> held;
    server.ClearRequests();
    Module1 started({{}, loaded, placement, store, session, pages, sharedForms}, [&](int ms) {
      if (!busy) {
        // No four seconds here: the panes ask for their pages while the web
        // process may still be starting.
        ASSERT_TRUE(test::PumpUntil([] { return WebProcessIds().size() == 1; }));
        return;
      }
      // The whole wait, for a web process that has finished starting.
      SplashWait(ms);
      held = WebProcessIds();
      ASSERT_EQ(held.size(), 1u);
      kill(held.front(), SIGSTOP);
    });
    started.Main();
    if (busy) {
      test::PumpFor(std::chrono::milliseconds(4500));
      kill(held.front(), SIGCONT);
    }
    EXPECT_TRUE(AwaitFirstPagesAsked(server, pages)) << NoticesOf(*started.MainWindow());
    test::PumpFor(std::chrono::milliseconds(300));
    EXPECT_EQ(WebProcessIds().size(), 1u) << NoticesOf(*started.MainWindow());
    started.MainWindow()->Close();
    ui::DestroyUnloadedWindows();
    // The next start begins without any web process, as a start does.
    EXPECT_TRUE(test::PumpUntil([] { return WebProcessIds().empty(); }, std::chrono::seconds(20)));
  }
}

TEST_F(StartProcedure, SplashIsPaintedAndAloneDuringTheWaitMainWindowComesAfter) {
  std::vector<std::string> steps;
  Module1* module = nullptr;
  bool splashShownDuringRead = false;
  store.onRead = [&] {
    // The main window's Load reads the geometry while the splash is still up.
    splashShownDuringRead = module->Splash().IsVisible();
    steps.push_back("main load");
  };
  Module1 started(services, [&](int milliseconds) {
    steps.push_back("sleep " + std::to_string(milliseconds));
    ui::Form& splash = module->Splash();
    ASSERT_TRUE(splash.IsLoaded());
    EXPECT_TRUE(splash.Window()->get_mapped());
    EXPECT_FALSE(splash.Window()->get_decorated());
    EXPECT_EQ(splash.Window()->get_width(), 470);
    EXPECT_EQ(splash.Window()->get_height(), 256);
    EXPECT_EQ(module->MainWindow(), nullptr);
    EXPECT_EQ(loaded.Count(), 1);
    test::SaveScreenScreenshot("splash");
  });
  module = &started;
  started.Main();

  ASSERT_NE(started.MainWindow(), nullptr);
  EXPECT_EQ(steps.front(), "sleep 4000");
  EXPECT_EQ(steps.size(), 5u);  // the wait, then the four geometry reads
  EXPECT_TRUE(splashShownDuringRead);
  EXPECT_FALSE(started.Splash().IsLoaded());
  EXPECT_TRUE(started.MainWindow()->IsVisible());
  ASSERT_EQ(loaded.Count(), 1);
  EXPECT_EQ(&loaded.At(0), started.MainWindow());
  started.MainWindow()->Close();
  ui::DestroyUnloadedWindows();
}

TEST_F(StartProcedure, TheRealWaitBlocksForFourSeconds) {
  Module1 started(services, SplashWait);
  const auto begin = std::chrono::steady_clock::now();
  started.Main();
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(elapsed, std::chrono::milliseconds(4000));
  EXPECT_LT(elapsed, std::chrono::milliseconds(8000));
  started.MainWindow()->Close();
  ui::DestroyUnloadedWindows();
}

// The program opens nothing: words are left out of what the application
// reads; options, known ones only, are kept with their values.
TEST(CommandLine, KeepsTheOptionsAndLeavesWordsOut) {
  struct Case {
    std::vector<std::string> given;
    std::vector<std::string> kept;
    std::string error;
  };
  const std::vector<Case> cases{
      {{"ticklark2"}, {"ticklark2"}, ""},
      {{"ticklark2", "quotes"}, {"ticklark2"}, ""},
      {{"ticklark2", "-", "a b", "--", "--bogus"}, {"ticklark2"}, ""},
      {{"ticklark2", "--version", "news"}, {"ticklark2", "--version"}, ""},
      {{"ticklark2", "x", "--endpoint", "http://127.0.0.1:8643", "y"},
       {"ticklark2", "--endpoint", "http://127.0.0.1:8643"},
       ""},
      {{"ticklark2", "--endpoint=http://127.0.0.1:8643", "--gapplication-app-id=a.b"},
       {"ticklark2", "--endpoint=http://127.0.0.1:8643", "--gapplication-app-id=a.b"},
       ""},
      {{"ticklark2", "--bogus"}, {"ticklark2"}, "unknown option --bogus"},
      {{"ticklark2", "-x"}, {"ticklark2"}, "unknown option -x"},
      {{"ticklark2", "--endpoint"}, {"ticklark2", "--endpoint"}, "option --endpoint needs a value"},
      {{"ticklark2", "--version=2"}, {"ticklark2"}, "option --version takes no value"},
  };
  for (const Case& c : cases) {
    const ScannedCommandLine scanned = ScanCommandLine(c.given);
    EXPECT_EQ(scanned.kept, c.kept) << c.given.back();
    EXPECT_EQ(scanned.error, c.error) << c.given.back();
  }
}

}  // namespace
}  // namespace ticklark::app
