// SPDX-License-Identifier: MIT
// Runs the program's start procedure (the splash, its four-second wait, the main
// window's Load and Show) against three pages served by the caller, and prints
// the time from the main window mapping to each pane's first page loaded, then
// the memory (sum of PSS) of this process and all its descendants 10 s after
// start.
//
//   panes_bench --write-pages FOLDER   writes the three pages under FOLDER and
//                                      prints their paths
//   panes_bench --base ADDRESS         measures against the server at ADDRESS
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include <gtk/gtk.h>
#include <gtkmm/window.h>

#include "app/main_form.hpp"
#include "app/splash_wait.hpp"
#include "app/start.hpp"
#include "platform/default_browser.hpp"
#include "platform/settings_store.hpp"
#include "platform/window_placement.hpp"
#include "support/gtk_fixture.hpp"
#include "support/process_tree.hpp"
#include "ui/assets.hpp"
#include "web/engine/browser_pane.hpp"
#include "web/engine/web_session.hpp"

namespace {

using Clock = std::chrono::steady_clock;

class NoBrowser : public ticklark::platform::DefaultBrowser {
 public:
  bool Open(const std::string&) override { return false; }
};

std::string Page(const std::string& title, int rows) {
  std::string html = "<!doctype html><html><head><title>" + title +
                     "</title><style>body{font:14px sans-serif}td{padding:2px 6px}"
                     "</style></head><body><h1>" +
                     title + "</h1><table>";
  for (int i = 0; i < rows; ++i) {
    html += "<tr><td>SYM" + std::to_string(i) + "</td><td>" + std::to_string(100 + i) +
            ".25</td><td style='color:green'>+0." + std::to_string(i % 10) + "%</td></tr>";
  }
  return html + "</table></body></html>";
}

// The first pages of the quotes pane, the main pane and the strip.
constexpr ticklark::web::Destination kPages[] = {ticklark::web::Destination::islandjava,
                                                 ticklark::web::Destination::quickennews,
                                                 ticklark::web::Destination::ticklark_ad_frame};

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  using ticklark::web::Destination;
  const auto start = Clock::now();
  ticklark::test::InitGtkOnce();
  ticklark::ui::InstallProgramIcon();
  ticklark::ui::InstallStyle();
  const std::pair<Destination, std::string> pages[] = {
      {kPages[0], Page("Real-time quotes", 60)},
      {kPages[1], Page("Market news", 120)},
      {kPages[2], Page("Market strip", 1)},
  };

  if (argc == 3 && std::string(argv[1]) == "--write-pages") {
    // The three pages as files under a folder, at the paths the program asks for.
    const ticklark::web::DestinationCatalogue paths("http://host");
    for (const auto& [key, html] : pages) {
      const std::string path = std::string(argv[2]) + paths.Address(key).substr(11);
      gchar* folder = g_path_get_dirname(path.c_str());
      g_mkdir_with_parents(folder, 0755);
      g_free(folder);
      g_file_set_contents(path.c_str(), html.c_str(), -1, nullptr);
      std::printf("%s\n", paths.Address(key).substr(11).c_str());
    }
    return 0;
  }
  if (argc != 3 || std::string(argv[1]) != "--base") {
    std::fprintf(stderr, "usage: panes_bench --write-pages FOLDER | --base ADDRESS\n");
    return 2;
  }
  // The pages come from a server of the caller's, in a process of its own, so
  // that nothing here has to run for them to be served.
  const ticklark::web::DestinationCatalogue catalogue(argv[2]);

  NoBrowser browser;
  ticklark::web::WebSession session(browser);
  ticklark::ui::LoadedWindows loaded;
  ticklark::platform::X11WindowPlacement placement;
  ticklark::platform::KeyFileSettingsStore settings;
  ticklark::app::SharedForms shared;
  const ticklark::app::ProgramServices services{{},      loaded,    placement, settings,
                                                session, catalogue, shared};
  ticklark::app::Module1 module(services, ticklark::app::SplashWait);
  // Pages may be loaded before the window maps, while showing it still runs the
  // main loop: a probe looks at the window and the panes every millisecond from
  // the start.
  struct Probe {
    ticklark::app::Module1& module;
    const ticklark::web::DestinationCatalogue& catalogue;
    Clock::time_point mapped{};
    Clock::time_point loaded[3]{};
    bool Done() const {
      return mapped != Clock::time_point{} &&
             std::all_of(std::begin(loaded), std::end(loaded),
                         [](Clock::time_point t) { return t != Clock::time_point{}; });
    }
    void Look() {
      ticklark::app::MainForm* form = module.MainWindow();
      if (!form || !form->WebBrowser1()) {
        return;
      }
      const auto now = Clock::now();
      if (mapped == Clock::time_point{} && form->Window()->get_mapped()) {
        mapped = now;
      }
      const ticklark::web::BrowserPane* panes[] = {form->WebBrowser1(), form->WebBrowser2(),
                                                   form->WebBrowser12()};
      for (std::size_t i = 0; i < std::size(panes); ++i) {
        if (loaded[i] == Clock::time_point{} && !panes[i]->IsLoading() &&
            panes[i]->CurrentAddress() == catalogue.Address(kPages[i])) {
          loaded[i] = now;
        }
      }
    }
  } probe{module, catalogue};
  const guint probing = g_timeout_add(
      1,
      [](gpointer self) -> gboolean {
        static_cast<Probe*>(self)->Look();
        return G_SOURCE_CONTINUE;
      },
      &probe);
  module.Main();
  ticklark::app::MainForm& form = *module.MainWindow();
  ticklark::test::PumpUntil([&] { return probe.Done(); }, std::chrono::seconds(30));
  g_source_remove(probing);
  std::printf("main window mapped %6.0f ms after start, %4.0f ms beyond the wait\n",
              MsBetween(start, probe.mapped),
              MsBetween(start, probe.mapped) - ticklark::app::kSplashMilliseconds);
  const char* names[] = {"WebBrowser1 (quotes)", "WebBrowser2 (main)", "WebBrowser12 (strip)"};
  double last = -1e9;
  for (std::size_t i = 0; i < std::size(names); ++i) {
    const double ms = MsBetween(probe.mapped, probe.loaded[i]);
    std::printf("%-22s page loaded %6.0f ms after the main window mapped\n", names[i], ms);
    last = std::max(last, ms);
  }
  std::printf("all three pages loaded %6.0f ms after the main window mapped\n", last);
  ticklark::test::PumpUntil([&] { return Clock::now() - start >= std::chrono::seconds(10); },
                            std::chrono::seconds(15));
  long total = 0;
  long own = 0;  // anonymous and shared memory: other programs do not move it
  const auto tree = ticklark::test::ProcessTree(getpid());
  std::string parts;
  for (int pid : tree) {
    const long pss = ticklark::test::RollupKiB(pid, "Pss");
    total += pss;
    own += ticklark::test::RollupKiB(pid, "Pss_Anon") + ticklark::test::RollupKiB(pid, "Pss_Shmem");
    parts += " " + ticklark::test::CommandName(pid) + "=" + std::to_string(pss / 1024);
  }
  std::printf("processes (PSS MB):%s\n", parts.c_str());
  std::printf("process tree 10 s after start: %zu processes, PSS %ld KiB (%.0f MB), own %.0f MB\n",
              tree.size(), total, static_cast<double>(total) / 1024.0,
              static_cast<double>(own) / 1024.0);
  form.Close();
  ticklark::ui::DestroyUnloadedWindows();
  return 0;
}
