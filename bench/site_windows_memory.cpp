// SPDX-License-Identifier: MIT
// The memory of the whole process tree (this process, the web processes, the
// network process and their sandbox helpers, as the sum of their PSS) while the
// program is used: at rest with the main window's pages loaded, around every
// opening of the four site windows, and after a long run of menu commands, all
// driven through the main window's actions.
//
//   site_windows_memory [--cycles N] [--commands N] [--limit PERCENT]
//                       [--command-limit RATIO] [--detail]
//
// A loopback server stands in for the endpoint and for the outside sites: the
// session reaches every host through it as its proxy, and the redirect pages
// forward to pages on hosts of their own, so that pages of different sites go
// to different web processes as they do in use. The outside home pages are
// https and fail here, as they do offline.
//
// Each figure is the whole PSS and the tree's own part of it (anonymous and
// shared memory), the median of three. The whole PSS divides library pages
// with whatever else runs on the machine, and moved by up to 20% when other
// programs started or ended during a run on a busy machine; the own part does
// not. The limits are judged on it:
// --limit: exits 1 when a closed site window leaves any process behind, or the
// tree's own memory once it closed is more than PERCENT above what it was
// before the window opened.
// --command-limit: exits 1 when the tree's own memory after the commands is
// more than RATIO times what it was at rest. --detail lists the processes.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <glibmm/main.h>
#include <gtkmm/window.h>
#include <webkit/webkit.h>

#include "app/main_form.hpp"
#include "app/start.hpp"
#include "platform/default_browser.hpp"
#include "platform/settings_store.hpp"
#include "platform/window_placement.hpp"
#include "support/gtk_fixture.hpp"
#include "support/loopback_server.hpp"
#include "support/process_tree.hpp"
#include "ui/assets.hpp"
#include "web/engine/browser_pane.hpp"
#include "web/engine/web_session.hpp"
#include "web/site_form.hpp"

namespace {

using namespace ticklark;
using std::chrono::milliseconds;
using test::PumpFor;
using test::PumpUntil;

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
  // Anonymous and shared-memory PSS: what the tree's processes hold of their
  // own. Unlike the whole PSS, it does not move when other programs on the
  // machine start or stop mapping the same libraries.
  long ownKb = 0;
  int processes = 0;
  int webProcesses = 0;
};

double Mb(long kb) {
  return static_cast<double>(kb) / 1024;
}

Memory MeasureTree(bool detail) {
  Memory memory;
  for (int pid : test::ProcessTree(getpid())) {
    const long pss = test::RollupKiB(pid, "Pss");
    const long own = test::RollupKiB(pid, "Pss_Anon") + test::RollupKiB(pid, "Pss_Shmem");
    const std::string name = test::CommandName(pid);
    memory.pssKb += pss;
    memory.ownKb += own;
    ++memory.processes;
    memory.webProcesses += name.rfind("WebKitWebProces", 0) == 0 ? 1 : 0;
    if (detail) {
      std::printf("    %7d %-16s PSS %6.1f MB  own %6.1f MB\n", pid, name.c_str(), Mb(pss),
                  Mb(own));
    }
  }
  return memory;
}

// The median of three figures |apart| from each other, the first after |apart|.
Memory MedianTree(bool detail, milliseconds apart = milliseconds(150)) {
  std::vector<Memory> three;
  for (int i = 0; i < 3; ++i) {
    test::PumpFor(apart);
    three.push_back(MeasureTree(false));
  }
  std::sort(three.begin(), three.end(),
            [](const Memory& a, const Memory& b) { return a.ownKb < b.ownKb; });
  if (detail) {
    MeasureTree(true);
  }
  return three[1];
}

std::string Describe(const Memory& m) {
  char text[160];
  std::snprintf(text, sizeof text, "PSS %6.1f MB, own %6.1f MB, %2d processes (%d web)",
                Mb(m.pssKb), Mb(m.ownKb), m.processes, m.webProcesses);
  return text;
}

double PercentAbove(long kb, long baseKb) {
  return 100.0 * static_cast<double>(kb - baseKb) / static_cast<double>(std::max(1L, baseKb));
}

std::string Page(const std::string& title, int rows) {
  std::string html = "<!doctype html><html><head><title>" + title +
                     "</title><style>body{font:14px sans-serif}td{padding:2px 6px}</style>"
                     "</head><body><h1>" +
                     title + "</h1><table>";
  for (int i = 0; i < rows; ++i) {
    html += "<tr><td>SYM" + std::to_string(i) + "</td><td>" + std::to_string(100 + i) +
            ".25</td><td>+0." + std::to_string(i % 10) + "%</td></tr>";
  }
  return html + "</table><script>window.rows = Array.from(document.querySelectorAll('td'), " +
         "td => td.textContent);</script></body></html>";
}

// Where each redirect page forwards to: a page on a host of its own site.
const char* OutsideHost(web::Destination key) {
  using web::Destination;
  switch (key) {
    case Destination::islandjava:
    case Destination::islandhtml:
      return "quotes.test";
    case Destination::quickennews:
      return "news.test";
    case Destination::earningswhisp:
      return "whispers.test";
    case Destination::rhipo:
      return "ipo.test";
    default:
      return "markets.test";
  }
}

struct Site {
  const char* name;
  const char* command;
  app::SecondaryWindow window;
  const web::SiteLayout& layout;
};

struct Command {
  const char* name;
  enum { kQuotesPane, kMainPane, kWindow } kind;
  app::SecondaryWindow window = app::SecondaryWindow::kCalc;
};

// Every leaf of the main window's menu but Exit.
const std::vector<Command>& MenuCommands() {
  using W = app::SecondaryWindow;
  static const std::vector<Command> commands{
      {"mnuNasdaqCal", Command::kWindow, W::kNasdaqCal},
      {"mnuNasdaqT", Command::kWindow, W::kNasdaqTicker},
      {"mnuCalc", Command::kWindow, W::kCalc},
      {"mnuNasdaqHm", Command::kWindow, W::kNasdaqHm},
      {"mnuNasdaqGlobal", Command::kWindow, W::kNasdaqGlobal},
      {"mnuIslandJava", Command::kQuotesPane},
      {"mnuIslandHTML", Command::kQuotesPane},
      {"mnuNasdaqCom", Command::kMainPane},
      {"mnuQuicken", Command::kMainPane},
      {"mnuNasEarnCal2", Command::kMainPane},
      {"mnuNasdaqHm2", Command::kMainPane},
      {"mnuNasdaqGlobal2", Command::kMainPane},
      {"mnuNasdaqEcEvents", Command::kMainPane},
      {"mnuEarnWhisp", Command::kMainPane},
      {"mnuRhIPO", Command::kMainPane},
      {"mnuCNBC", Command::kMainPane},
      {"mnuCnnFn", Command::kMainPane},
      {"mnuHelpAbout", Command::kWindow, W::kAbout},
  };
  return commands;
}

bool PaneSettled(const web::BrowserPane* pane) {
  return pane && !pane->IsLoading() && !pane->CurrentAddress().empty();
}

}  // namespace

int main(int argc, char** argv) {
  int cycles = 25;
  int commands = 1000;
  double limit = -1;
  double commandLimit = -1;
  bool detail = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--detail") {
      detail = true;
    } else if (i + 1 < argc) {
      const char* value = argv[++i];
      if (option == "--cycles") {
        cycles = std::max(1, std::atoi(value));
      } else if (option == "--commands") {
        commands = std::max(0, std::atoi(value));
      } else if (option == "--limit") {
        limit = std::atof(value);
      } else if (option == "--command-limit") {
        commandLimit = std::atof(value);
      }
    }
  }

  test::InitGtkOnce();
  ui::InstallProgramIcon();
  ui::InstallStyle();

  test::LoopbackServer server;
  web::DestinationCatalogue catalogue{"http://ticklark.test"};
  for (web::Destination key : web::kAllDestinations) {
    if (!web::IsEndpointPage(key)) {
      continue;
    }
    const std::string path = test::PathOf(catalogue.Address(key));
    const std::string name(web::KeyOf(key));
    if (key == web::Destination::ticklark_ad_frame) {
      server.ServeHtml(path, Page("Market strip", 2));
    } else {
      server.Redirect(path, "http://" + std::string(OutsideHost(key)) + "/pages/" + name);
      server.ServeHtml("/pages/" + name, Page(name, 150));
    }
  }
  NoBrowser browser;
  web::WebSession session{browser, {web::WebSession::Storage::kEphemeral, std::nullopt}};
  WebKitNetworkProxySettings* proxy =
      webkit_network_proxy_settings_new(server.BaseAddress().c_str(), nullptr);
  webkit_network_session_set_proxy_settings(session.NetworkSession(),
                                            WEBKIT_NETWORK_PROXY_MODE_CUSTOM, proxy);
  webkit_network_proxy_settings_free(proxy);

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
  const auto mainPanesSettled = [&] {
    return PaneSettled(mainForm.WebBrowser1()) && PaneSettled(mainForm.WebBrowser2()) &&
           PaneSettled(mainForm.WebBrowser12());
  };
  PumpUntil(mainPanesSettled, milliseconds(30000));
  // A web process gives back a good part of what its first load took within a
  // few seconds: the figure at rest is the median of three after that.
  PumpFor(milliseconds(8000));
  const Memory rest = MedianTree(detail, milliseconds(1000));
  std::printf("at rest, main window loaded:      %s\n", Describe(rest).c_str());
  std::fflush(stdout);

  bool failedToLoad = false;
  // Opens a secondary window through the main window's action and closes it
  // once its panes have loaded; returns the tree as it was while open.
  const auto openAndClose = [&](const char* command, app::SecondaryWindow window,
                                const web::SiteLayout* layout) {
    Memory whileOpen;
    Glib::signal_timeout().connect_once(
        [&] {
          ui::Form* form = sharedForms.Existing(window);
          if (!PumpUntil([&] { return form && form->IsLoaded() && form->IsVisible(); },
                         milliseconds(10000))) {
            failedToLoad = true;
            return;
          }
          if (layout) {
            auto* site = dynamic_cast<web::SiteForm*>(form);
            failedToLoad |= !PumpUntil(
                [&] {
                  return std::all_of(
                      layout->panes.begin(), layout->panes.end(),
                      [&](const auto& pane) { return PaneSettled(site->Pane(pane.control)); });
                },
                milliseconds(20000));
          }
          PumpFor(milliseconds(300));
          whileOpen = MeasureTree(false);
          form->Window()->close();
        },
        20);
    mainForm.Window()->activate_action(std::string("win.") + command);
    return whileOpen;
  };

  // Site windows, each opened and closed in turn, round after round.
  const std::vector<Site> sites{
      {"Heatmap", "mnuNasdaqHm", app::SecondaryWindow::kNasdaqHm, web::HeatmapSite()},
      {"Calendar", "mnuNasdaqCal", app::SecondaryWindow::kNasdaqCal, web::CalendarSite()},
      {"Global", "mnuNasdaqGlobal", app::SecondaryWindow::kNasdaqGlobal, web::GlobalSite()},
      {"Ticker", "mnuNasdaqT", app::SecondaryWindow::kNasdaqTicker, web::TickerSite()},
  };
  std::vector<double> afterClose;  // PSS, percent above the tree at rest
  // Percent above the tree before the window opened, the worst of all.
  double worstPssAgainstBefore = -100;
  double worstOwnAgainstBefore = -100;
  int processesLeftBehind = 0;
  Memory before = rest;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    const bool shown = cycle == 1 || cycle == cycles;
    if (shown) {
      std::printf("site windows, round %d of %d:\n", cycle, cycles);
    }
    for (const Site& site : sites) {
      const Memory open = openAndClose(site.command, site.window, &site.layout);
      // The closed window's web process ends a moment after its window.
      PumpFor(milliseconds(500));
      const auto settled = [&, next = std::chrono::steady_clock::now()]() mutable {
        if (std::chrono::steady_clock::now() < next) {
          return false;
        }
        next += milliseconds(100);
        return MeasureTree(false).processes <= before.processes;
      };
      PumpUntil(settled, milliseconds(5000));
      const Memory after = MedianTree(shown && detail);
      afterClose.push_back(PercentAbove(after.pssKb, rest.pssKb));
      worstPssAgainstBefore =
          std::max(worstPssAgainstBefore, PercentAbove(after.pssKb, before.pssKb));
      worstOwnAgainstBefore =
          std::max(worstOwnAgainstBefore, PercentAbove(after.ownKb, before.ownKb));
      processesLeftBehind = std::max(processesLeftBehind, after.processes - before.processes);
      if (shown) {
        std::printf(
            "  %-9s open:   %s\n  %-9s closed: %s  (PSS %+.1f%%, own %+.1f%% against before "
            "it opened; PSS %+.1f%% against at rest)\n",
            site.name, Describe(open).c_str(), "", Describe(after).c_str(),
            PercentAbove(after.pssKb, before.pssKb), PercentAbove(after.ownKb, before.ownKb),
            PercentAbove(after.pssKb, rest.pssKb));
        std::fflush(stdout);
      }
      before = after;
    }
  }
  std::sort(afterClose.begin(), afterClose.end());
  const double medianAfterClose = afterClose[afterClose.size() / 2];
  std::printf(
      "site windows closed, all %zu openings: worst PSS %+.1f%%, worst own %+.1f%% against "
      "before it opened; PSS median %+.1f%%, worst %+.1f%% against at rest; processes left "
      "behind: %d\n",
      afterClose.size(), worstPssAgainstBefore, worstOwnAgainstBefore, medianAfterClose,
      afterClose.back(), processesLeftBehind);

  // What a menu command and Back cost in the main pane: two commands to pages
  // of two sites, then Back to the first; medians of five.
  {
    std::vector<double> commandMs;
    std::vector<double> backMs;
    web::BrowserPane* pane = mainForm.WebBrowser2();
    const auto timed = [&](const std::function<void()>& order) {
      const auto begin = std::chrono::steady_clock::now();
      order();
      PumpFor(milliseconds(5));
      PumpUntil([&] { return PaneSettled(pane); }, milliseconds(10000));
      return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
          .count();
    };
    for (int i = 0; i < 5; ++i) {
      timed([&] { mainForm.Window()->activate_action("win.mnuNasEarnCal2"); });
      commandMs.push_back(timed([&] { mainForm.Window()->activate_action("win.mnuEarnWhisp"); }));
      backMs.push_back(timed([&] { pane->GoBack(); }));
    }
    std::sort(commandMs.begin(), commandMs.end());
    std::sort(backMs.begin(), backMs.end());
    std::printf(
        "main pane, median of 5: a menu command's page loaded in %.0f ms, Back to the "
        "page before it in %.0f ms\n",
        commandMs[2], backMs[2]);
  }

  // Menu commands, drawn at random from every leaf of the menu but Exit, each
  // given time to load its page or to open, load and close its window.
  std::minstd_rand random(20240);
  const auto& menu = MenuCommands();
  Memory afterCommands = before;
  for (int i = 1; i <= commands; ++i) {
    const Command& command = menu[random() % menu.size()];
    if (command.kind == Command::kWindow) {
      const web::SiteLayout* layout = nullptr;
      for (const Site& site : sites) {
        layout = site.window == command.window ? &site.layout : layout;
      }
      openAndClose(command.name, command.window, layout);
      PumpFor(milliseconds(200));
    } else {
      web::BrowserPane* pane =
          command.kind == Command::kQuotesPane ? mainForm.WebBrowser1() : mainForm.WebBrowser2();
      mainForm.Window()->activate_action(std::string("win.") + command.name);
      PumpFor(milliseconds(20));
      PumpUntil([&] { return PaneSettled(pane); }, milliseconds(10000));
    }
    if (i % 250 == 0 || i == commands) {
      if (i == commands) {
        PumpFor(milliseconds(2000));
      }
      afterCommands = MedianTree(i == commands && detail);
      std::printf("after %4d menu commands:          %s  (PSS %.2f, own %.2f times at rest)\n", i,
                  Describe(afterCommands).c_str(),
                  static_cast<double>(afterCommands.pssKb) / static_cast<double>(rest.pssKb),
                  static_cast<double>(afterCommands.ownKb) / static_cast<double>(rest.ownKb));
      std::fflush(stdout);
    }
  }

  mainForm.Close();
  ui::DestroyUnloadedWindows();
  int status = 0;
  if (failedToLoad) {
    std::printf("FAIL: a window did not open or show its first pages\n");
    status = 1;
  }
  if (limit >= 0 && (worstOwnAgainstBefore > limit || processesLeftBehind > 0)) {
    std::printf(
        "FAIL: a closed site window left a process behind, or the tree's own memory more "
        "than %.0f%% above what it was before the window opened\n",
        limit);
    status = 1;
  }
  if (commandLimit > 0 && commands > 0 &&
      static_cast<double>(afterCommands.ownKb) > commandLimit * static_cast<double>(rest.ownKb)) {
    std::printf(
        "FAIL: the menu commands left the tree's own memory more than %.2f times it at "
        "rest\n",
        commandLimit);
    status = 1;
  }
  return status;
}
