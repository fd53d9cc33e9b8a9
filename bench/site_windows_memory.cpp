// SPDX-License-Identifier: MIT
// Opens and closes each site window many times from the main window, against a
// loopback server of small pages, and reports the memory of the whole process
// tree (this process, the web processes, the network process and their
// sandbox helpers) as the sum of their PSS.
//
//   site_windows_memory [--cycles N] [--limit PERCENT]
//
// The figure that counts is the whole tree's with every window closed, after
// the first rounds (each window opened once a round) and after the last ones. The first
// opening of all is not a fair base: from then on the web engine keeps one
// spare web process ready for the next window. With --limit, exits 1 when the
// last figure is more than PERCENT above the first. --detail lists the tree.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <glibmm/main.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include "app/main_form.hpp"
#include "app/start.hpp"
#include "platform/default_browser.hpp"
#include "platform/settings_store.hpp"
#include "platform/window_placement.hpp"
#include "support/loopback_server.hpp"
#include "support/process_tree.hpp"
#include "ui/assets.hpp"
#include "web/browser_pane.hpp"
#include "web/site_form.hpp"
#include "web/web_session.hpp"

namespace {

using ticklark::test::PathOf;

using ticklark::test::CommandName;
using ticklark::test::ProcessTree;
using ticklark::test::RollupKiB;

using namespace ticklark;

class NoBrowser : public platform::DefaultBrowser {
 public:
  bool Open(const std::string&) override { return true; }
};

class MemorySettings : public platform::SettingsStore {
 public:
  std::string GetSetting(std::string_view, std::string_view, std::string_view,
                         std::string_view defaultValue) override {
    return std::string(defaultValue);
  }
  bool SaveSettings(std::string_view, std::string_view,
                    const std::vector<std::pair<std::string, std::string>>&) override {
    return true;
  }
};

struct Memory {
  long pssKb = 0;
  long privateKb = 0;  // private clean + dirty: what the tree alone holds
  int processes = 0;
};

// One line per process of the tree.
void PrintTree() {
  for (int pid : ProcessTree(getpid())) {
    std::printf(
        "  %7d %-24s PSS %7.1f MB  private %7.1f MB\n", pid, CommandName(pid).c_str(),
        static_cast<double>(RollupKiB(pid, "Pss")) / 1024,
        static_cast<double>(RollupKiB(pid, "Private_Clean") + RollupKiB(pid, "Private_Dirty")) /
            1024);
  }
}

Memory MeasureTree() {
  Memory memory;
  for (int pid : ProcessTree(getpid())) {
    memory.pssKb += RollupKiB(pid, "Pss");
    memory.privateKb += RollupKiB(pid, "Private_Clean") + RollupKiB(pid, "Private_Dirty");
    ++memory.processes;
  }
  return memory;
}

void Pump(int milliseconds) {
  const gint64 end = g_get_monotonic_time() + milliseconds * 1000;
  while (g_get_monotonic_time() < end) {
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(2000);
  }
}

bool PumpUntil(const std::function<bool()>& done, int milliseconds) {
  const gint64 end = g_get_monotonic_time() + milliseconds * 1000;
  while (!done() && g_get_monotonic_time() < end) {
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  return done();
}

struct Site {
  const char* name;
  const char* command;
  app::SecondaryWindow window;
  const web::SiteLayout& layout;
};

}  // namespace

int main(int argc, char** argv) {
  int cycles = 25;
  double limit = -1;
  bool detail = false;
  for (int i = 1; i < argc; ++i) {  // options with a value skip it
    const std::string option = argv[i];
    if (option == "--detail") {
      detail = true;
      continue;
    }
    if (i + 1 >= argc) {
      break;
    }
    if (option == "--cycles") {
      cycles = std::max(6, std::atoi(argv[i + 1]));
    } else if (option == "--limit") {
      limit = std::atof(argv[i + 1]);
    }
    ++i;
  }

  gdk_set_allowed_backends("x11");
  setenv("GSK_RENDERER", "cairo", 0);
  gtk_init();
  Gtk::init_gtkmm_internals();
  ui::InstallProgramIcon();
  ui::InstallStyle();

  test::LoopbackServer server;
  web::DestinationCatalogue catalogue{server.BaseAddress()};
  for (web::Destination key : web::kAllDestinations) {
    const std::string path = PathOf(catalogue.Address(key));
    server.ServeHtml(path, "<html><body style='font:15px sans-serif'><b>" +
                               std::string(web::KeyOf(key)) + "</b><p>" + std::string(2000, 'x') +
                               "</p></body></html>");
  }
  NoBrowser browser;
  web::WebSession session{browser, {web::WebSession::Storage::kEphemeral, std::nullopt}};
  MemorySettings settings;
  platform::X11WindowPlacement placement;
  ui::LoadedWindows loaded;
  app::SharedForms sharedForms;
  app::WindowGeometry geometry{settings, placement};
  const app::ProgramServices services{{},      loaded,    placement,  settings,
                                      session, catalogue, sharedForms};
  app::RegisterSecondaryWindows(sharedForms, services);
  app::MainForm mainForm(
      ui::FormServices{loaded, placement},
      app::MainForm::Collaborators{{}, session, catalogue, geometry, sharedForms});
  mainForm.Load();
  mainForm.Show();
  PumpUntil(
      [&] {
        return mainForm.WebBrowser2()->CurrentAddress() ==
                   catalogue.Address(web::Destination::quickennews) &&
               !mainForm.WebBrowser2()->IsLoading();
      },
      20000);
  Pump(500);

  const std::vector<Site> sites{
      {"Heatmap", "mnuNasdaqHm", app::SecondaryWindow::kNasdaqHm, web::HeatmapSite()},
      {"Calendar", "mnuNasdaqCal", app::SecondaryWindow::kNasdaqCal, web::CalendarSite()},
      {"Global", "mnuNasdaqGlobal", app::SecondaryWindow::kNasdaqGlobal, web::GlobalSite()},
      {"Ticker", "mnuNasdaqT", app::SecondaryWindow::kNasdaqTicker, web::TickerSite()},
  };
  std::map<std::string, Memory> first;
  std::map<std::string, Memory> last;
  bool failedToLoad = false;
  std::vector<Memory> rounds;  // with every window closed after each round
  const Memory start = MeasureTree();

  for (int cycle = 1; cycle <= cycles; ++cycle) {
    for (const Site& site : sites) {
      // Measured while open, with its pages shown, then closed by its close control.
      Glib::signal_timeout().connect_once(
          [&] {
            auto* form = dynamic_cast<web::SiteForm*>(sharedForms.Existing(site.window));
            if (!form || !form->IsLoaded()) {
              failedToLoad = true;
              return;
            }
            const bool shown = PumpUntil(
                [&] {
                  for (const auto& pane : site.layout.panes) {
                    web::BrowserPane* view = form->Pane(pane.control);
                    if (!view || view->IsLoading() ||
                        view->CurrentAddress() != catalogue.Address(pane.firstPage)) {
                      return false;
                    }
                  }
                  return true;
                },
                20000);
            failedToLoad |= !shown;
            Pump(300);
            if (cycle == 1 || cycle == cycles) {
              (cycle == 1 ? first : last)[site.name] = MeasureTree();
            }
            form->Window()->close();
          },
          20);
      mainForm.RunMenuCommand(site.command);
      // The unloaded window goes at the next idle, its web process a little
      // later: the next window is measured without it.
      Pump(800);
    }
    Pump(500);
    const Memory now = MeasureTree();
    rounds.push_back(now);
    if (cycle == 1 || cycle == cycles || cycle % 5 == 0) {
      std::printf("after round %2d: PSS %7.1f MB, private %7.1f MB, %d processes\n", cycle,
                  static_cast<double>(now.pssKb) / 1024, static_cast<double>(now.privateKb) / 1024,
                  now.processes);
      if (detail) {
        PrintTree();
      }
      std::fflush(stdout);
    }
  }
  // A web process's own state moves the figure by a few tens of megabytes
  // from one round to the next: the median of three rounds at each end.
  const auto median = [&](std::size_t from) {
    std::vector<Memory> three(rounds.begin() + static_cast<long>(from),
                              rounds.begin() + static_cast<long>(from + 3));
    std::sort(three.begin(), three.end(),
              [](const Memory& a, const Memory& b) { return a.pssKb < b.pssKb; });
    return three[1];
  };
  const Memory afterFirst = median(0);
  const Memory afterLast = median(rounds.size() - 3);

  std::printf("\nmain window only, before any site window: PSS %.1f MB, %d processes\n",
              static_cast<double>(start.pssKb) / 1024, start.processes);
  std::printf("%-9s %18s %18s %8s\n", "window", "PSS at opening 1", "at opening N", "change");
  for (const Site& site : sites) {
    const Memory& a = first[site.name];
    const Memory& b = last[site.name];
    const double change =
        a.pssKb > 0 ? 100.0 * static_cast<double>(b.pssKb - a.pssKb) / static_cast<double>(a.pssKb)
                    : 0;
    std::printf(
        "%-9s %15.1f MB %15.1f MB %+7.1f%%   (N = %d; private %.1f -> %.1f MB; %d -> %d "
        "processes)\n",
        site.name, static_cast<double>(a.pssKb) / 1024, static_cast<double>(b.pssKb) / 1024, change,
        cycles, static_cast<double>(a.privateKb) / 1024, static_cast<double>(b.privateKb) / 1024,
        a.processes, b.processes);
  }
  const double growth = 100.0 * static_cast<double>(afterLast.pssKb - afterFirst.pssKb) /
                        static_cast<double>(std::max(1L, afterFirst.pssKb));
  std::printf(
      "\nall closed, rounds 1-3 (median): PSS %.1f MB (private %.1f MB, %d processes)\n"
      "all closed, rounds %d-%d (median): PSS %.1f MB (private %.1f MB, %d processes)\n"
      "change: %+.1f%%\n",
      static_cast<double>(afterFirst.pssKb) / 1024,
      static_cast<double>(afterFirst.privateKb) / 1024, afterFirst.processes, cycles - 2, cycles,
      static_cast<double>(afterLast.pssKb) / 1024, static_cast<double>(afterLast.privateKb) / 1024,
      afterLast.processes, growth);
  const bool within = limit < 0 || growth <= limit;

  mainForm.Close();
  ui::DestroyUnloadedWindows();
  if (failedToLoad) {
    std::printf("FAIL: a site window did not show its first pages\n");
    return 1;
  }
  if (!within) {
    std::printf("FAIL: memory grew by more than %.0f%%\n", limit);
    return 1;
  }
  return 0;
}
