// SPDX-License-Identifier: MIT
// Loads the main window against three pages served on loopback and prints the
// time from its Load to each pane's first page being loaded and drawn, then the
// memory (sum of PSS) of this process and all its descendants 10 s after start.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include <gtk/gtk.h>
#include <gtkmm/window.h>

#include "app/main_form.hpp"
#include "app/window_geometry.hpp"
#include "platform/default_browser.hpp"
#include "platform/settings_store.hpp"
#include "platform/window_placement.hpp"
#include "support/gtk_fixture.hpp"
#include "support/loopback_server.hpp"
#include "support/process_tree.hpp"
#include "ui/assets.hpp"
#include "web/browser_pane.hpp"
#include "web/web_session.hpp"

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

}  // namespace

int main(int argc, char** argv) {
  const auto start = Clock::now();
  ticklark::test::InitGtkOnce();
  ticklark::ui::InstallStyle();

  if (argc == 3 && std::string(argv[1]) == "--write-pages") {
    // The three pages as files under a folder, at the paths the program asks for.
    const ticklark::web::DestinationCatalogue paths("http://host");
    const std::pair<ticklark::web::Destination, std::string> files[] = {
        {ticklark::web::Destination::islandjava, Page("Real-time quotes", 60)},
        {ticklark::web::Destination::quickennews, Page("Market news", 120)},
        {ticklark::web::Destination::ticklark_ad_frame, Page("Market strip", 1)},
    };
    for (const auto& [key, html] : files) {
      const std::string path = std::string(argv[2]) + paths.Address(key).substr(11);
      g_mkdir_with_parents(g_path_get_dirname(path.c_str()), 0755);
      g_file_set_contents(path.c_str(), html.c_str(), -1, nullptr);
      std::printf("%s\n", paths.Address(key).substr(11).c_str());
    }
    return 0;
  }
  // With --base ADDRESS the pages come from a server of the caller's (so that
  // another browser can be measured against the same one); else from ours.
  std::unique_ptr<ticklark::test::LoopbackServer> server;
  std::string base;
  if (argc == 3 && std::string(argv[1]) == "--base") {
    base = argv[2];
  } else {
    server = std::make_unique<ticklark::test::LoopbackServer>();
    base = server->BaseAddress();
  }
  ticklark::web::DestinationCatalogue catalogue(base);
  const std::pair<ticklark::web::Destination, std::string> pages[] = {
      {ticklark::web::Destination::islandjava, Page("Real-time quotes", 60)},
      {ticklark::web::Destination::quickennews, Page("Market news", 120)},
      {ticklark::web::Destination::ticklark_ad_frame, Page("Market strip", 1)},
  };
  if (server) {
    for (const auto& [key, html] : pages) {
      server->ServeHtml(catalogue.Address(key).substr(base.size()), html);
    }
  }

  NoBrowser browser;
  ticklark::web::WebSession session(browser);
  ticklark::ui::LoadedWindows loaded;
  ticklark::platform::X11WindowPlacement placement;
  ticklark::platform::KeyFileSettingsStore settings;
  ticklark::app::WindowGeometry geometry(settings, placement);
  ticklark::app::SharedForms shared;
  ticklark::app::MainForm form(
      ticklark::ui::FormServices{loaded, placement},
      ticklark::app::MainForm::Collaborators{{}, session, catalogue, geometry, shared});

  const auto load = Clock::now();
  form.Load();
  form.Show();
  struct Watch {
    const char* name;
    ticklark::web::BrowserPane* pane;
    ticklark::web::Destination key;
    double ms = -1;
  } watches[] = {{"WebBrowser1 (quotes)", form.WebBrowser1(), pages[0].first},
                 {"WebBrowser2 (main)", form.WebBrowser2(), pages[1].first},
                 {"WebBrowser12 (strip)", form.WebBrowser12(), pages[2].first}};
  // A pane counts as painted at the first window frame after its page loaded.
  GdkFrameClock* clock = nullptr;
  int frames = 0;
  ticklark::test::PumpUntil([&] { return form.Window()->get_mapped(); });
  clock = gdk_surface_get_frame_clock(form.Window()->get_surface()->gobj());
  g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](int* count) { ++*count; }),
                           &frames);
  std::map<int, int> framesAtLoad;
  ticklark::test::PumpUntil(
      [&] {
        bool all = true;
        for (std::size_t i = 0; i < std::size(watches); ++i) {
          Watch& watch = watches[i];
          if (watch.ms >= 0) {
            continue;
          }
          const bool loadedNow = !watch.pane->IsLoading() &&
                                 watch.pane->CurrentAddress() == catalogue.Address(watch.key);
          if (loadedNow && !framesAtLoad.count(static_cast<int>(i))) {
            framesAtLoad[static_cast<int>(i)] = frames;
            gtk_widget_queue_draw(GTK_WIDGET(form.Window()->gobj()));
          }
          if (framesAtLoad.count(static_cast<int>(i)) &&
              frames > framesAtLoad[static_cast<int>(i)]) {
            watch.ms = std::chrono::duration<double, std::milli>(Clock::now() - load).count();
          }
          all = all && watch.ms >= 0;
        }
        return all;
      },
      std::chrono::seconds(30));
  for (const Watch& watch : watches) {
    std::printf("%-22s first page loaded and drawn %6.0f ms after Load\n", watch.name, watch.ms);
  }
  ticklark::test::PumpUntil([&] { return Clock::now() - start >= std::chrono::seconds(10); },
                            std::chrono::seconds(15));
  long total = 0;
  const auto tree = ticklark::test::ProcessTree(getpid());
  std::string parts;
  for (int pid : tree) {
    const long pss = ticklark::test::RollupKiB(pid, "Pss");
    total += pss;
    parts += " " + ticklark::test::CommandName(pid) + "=" + std::to_string(pss / 1024);
  }
  std::printf("processes (PSS MB):%s\n", parts.c_str());
  std::printf("process tree 10 s after start: %zu processes, PSS %ld KiB (%.0f MB)\n", tree.size(),
              total, static_cast<double>(total) / 1024.0);
  form.Close();
  ticklark::ui::DestroyUnloadedWindows();
  return 0;
}
