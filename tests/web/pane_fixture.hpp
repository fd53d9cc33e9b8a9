// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtkmm/fixed.h>
#include <gtkmm/window.h>
#include <webkit/webkit.h>

#include "platform/default_browser.hpp"
#include "support/gtk_fixture.hpp"
#include "support/loopback_server.hpp"
#include "web/engine/browser_pane.hpp"
#include "web/engine/web_session.hpp"

namespace ticklark::test {

// Stands in for the desktop's default browser: records what it is given.
class RecordingBrowser final : public platform::DefaultBrowser {
 public:
  bool Open(const std::string& address) override {
    opened.push_back(address);
    return true;
  }
  std::vector<std::string> opened;
};

// Web processes started by this test process (through the sandbox).
std::vector<int> WebProcessIds();

// The engine view inside a pane, for looking at the page.
WebKitWebView* ViewOf(web::BrowserPane& pane);

std::string TitleOf(web::BrowserPane& pane);

// Panes in a real window on a Gtk::Fixed, one ephemeral session for the whole
// test binary, and a loopback server per test.
class PaneTest : public GtkTest {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  static web::WebSession& Session();
  static RecordingBrowser& Browser();

  // Without |bar|, a main pane has a navigation bar and the others have none,
  // as in most of the program's windows.
  web::BrowserPane& AddPane(web::PaneRole role = web::PaneRole::kMain,
                            web::BrowserPane* sharesProcessWith = nullptr,
                            std::optional<web::PaneBar> bar = std::nullopt);
  void RemovePanes();

  // A page whose title is |title|, served at |path|.
  void ServePage(const std::string& path, const std::string& title, const std::string& body = "");

  bool WaitForTitle(web::BrowserPane& pane, const std::string& title,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Navigate, then wait for the page's title.
  bool Open(web::BrowserPane& pane, const std::string& path, const std::string& title);

  // Runs |script| in the page; the value as text, or "error: ..." on failure.
  // Script run this way counts as a user gesture.
  std::string Eval(web::BrowserPane& pane, const std::string& script);
  // Runs the body of an async function and waits for its promise.
  std::string EvalAsync(web::BrowserPane& pane, const std::string& body);

  LoopbackServer m_server;
  Gtk::Window* m_window = nullptr;
  Gtk::Fixed* m_fixed = nullptr;
  std::vector<std::unique_ptr<web::BrowserPane>> m_panes;
};

}  // namespace ticklark::test
