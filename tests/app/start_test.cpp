// SPDX-License-Identifier: MIT
#include <chrono>

#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include "app/fakes.hpp"
#include "app/main_form.hpp"
#include "app/start.hpp"
#include "platform/default_browser.hpp"
#include "platform/window_placement.hpp"
#include "support/gtk_fixture.hpp"
#include "support/screenshot.hpp"
#include "web/web_session.hpp"

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
  Module1 started(services,
                  [](int milliseconds) { g_usleep(static_cast<gulong>(milliseconds) * 1000); });
  const auto begin = std::chrono::steady_clock::now();
  started.Main();
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(elapsed, std::chrono::milliseconds(4000));
  EXPECT_LT(elapsed, std::chrono::milliseconds(8000));
  started.MainWindow()->Close();
  ui::DestroyUnloadedWindows();
}

}  // namespace
}  // namespace ticklark::app
