// SPDX-License-Identifier: MIT
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include <glib.h>
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include "web/pane_fixture.hpp"

namespace ticklark::test {
namespace {

using namespace std::chrono_literals;

// A page whose timer would tick twenty times a second.
constexpr const char* kTicking =
    "<script>var ticks = 0; setInterval(function () { ticks++; }, 50);</script>";

// Panes in a window under a window manager, on a screen of their own: another
// window covers theirs whole.
class PaneVisibilityOnItsOwnScreen : public PaneTest {
 protected:
  static void SetUpTestSuite() {
    PaneTest::SetUpTestSuite();
    if (!std::getenv("TICKLARK_OWN_SCREEN")) {
      return;
    }
    s_windowManager = StartWindowManager();
  }
  static void TearDownTestSuite() { EndWindowManager(s_windowManager); }
  void SetUp() override {
    if (!std::getenv("TICKLARK_OWN_SCREEN")) {
      GTEST_SKIP() << "covers its window with another: runs on a screen of its own";
    }
    ASSERT_NE(s_windowManager, 0) << "openbox did not start";
    PaneTest::SetUp();
  }

  // How often each pane's timer ticks now, per second, over |span|.
  std::pair<double, double> TickRates(web::BrowserPane& a, web::BrowserPane& b,
                                      std::chrono::milliseconds span) {
    const int a0 = std::atoi(Eval(a, "ticks").c_str());
    const int b0 = std::atoi(Eval(b, "ticks").c_str());
    PumpFor(span);
    const double seconds = std::chrono::duration<double>(span).count();
    return {(std::atoi(Eval(a, "ticks").c_str()) - a0) / seconds,
            (std::atoi(Eval(b, "ticks").c_str()) - b0) / seconds};
  }

  bool AllShow(web::BrowserPane& a, web::BrowserPane& b, const std::string& state) {
    return PumpUntil([&] {
      return Eval(a, "document.visibilityState") == state &&
             Eval(b, "document.visibilityState") == state;
    });
  }

  static inline GPid s_windowManager = 0;
};

TEST_F(PaneVisibilityOnItsOwnScreen, ACoveredWindowsTimersTickOnceASecondAndShowAgainAtOnce) {
  web::BrowserPane& quotes = AddPane(web::PaneRole::kQuotes);
  web::BrowserPane& main = AddPane(web::PaneRole::kMain, &quotes);
  ServePage("/quotes", "quotes", kTicking);
  ServePage("/main", "main", kTicking);
  ASSERT_TRUE(Open(quotes, "/quotes", "quotes"));
  ASSERT_TRUE(Open(main, "/main", "main"));
  ASSERT_TRUE(AllShow(quotes, main, "visible"));
  const auto shown = TickRates(quotes, main, 2s);
  EXPECT_GT(shown.first, 10);
  EXPECT_GT(shown.second, 10);

  auto* cover = new Gtk::Window();
  cover->set_title("cover");
  cover->fullscreen();
  cover->present();
  EXPECT_TRUE(AllShow(quotes, main, "hidden"));
  const auto covered = TickRates(quotes, main, 4s);
  EXPECT_LE(covered.first, 1.5);
  EXPECT_LE(covered.second, 1.5);

  // Taken out of its window and put back while hidden, a pane follows the
  // window again.
  m_fixed->remove(main.Widget());
  PumpFor(100ms);
  m_fixed->put(main.Widget(), 410, 0);
  PumpFor(500ms);
  EXPECT_EQ(Eval(main, "document.visibilityState"), "hidden");

  const auto uncovered = std::chrono::steady_clock::now();
  cover->destroy();
  delete cover;
  EXPECT_TRUE(AllShow(quotes, main, "visible"));
  EXPECT_LT(std::chrono::steady_clock::now() - uncovered, 2s);
  const auto again = TickRates(quotes, main, 1s);
  EXPECT_GT(again.first, 10);
  EXPECT_GT(again.second, 10);
}

}  // namespace
}  // namespace ticklark::test
