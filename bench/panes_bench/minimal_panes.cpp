// SPDX-License-Identifier: MIT
// The floor of the stack, for comparison: a minimal gtkmm program with the main
// window's three web views (one web process, drawn in software as the
// program's are) and nothing else. It starts the three loads, shows its window
// and prints the time from the window mapping to each page loaded.
//
//   minimal_panes ADDRESS PATH...     one view per PATH under ADDRESS
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#include <gtkmm/fixed.h>
#include <gtkmm/init.h>
#include <gtkmm/window.h>
#include <webkit/webkit.h>

namespace {

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: minimal_panes ADDRESS PATH...\n");
    return 2;
  }
  const auto start = Clock::now();
  gdk_set_allowed_backends("x11");
  setenv("GSK_RENDERER", "cairo", 0);
  gtk_init();
  Gtk::init_gtkmm_internals();

  Gtk::Window window;
  window.set_default_size(1017, 673);
  Gtk::Fixed fixed;
  window.set_child(fixed);
  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  // Where the main window has its quotes pane, main pane and strip.
  const int boxes[][4] = {{728, 88, 289, 585}, {0, 88, 721, 585}, {304, 0, 705, 81}};
  std::vector<WebKitWebView*> views;
  for (int i = 2; i < argc; ++i) {
    GObject* view =
        views.empty()
            ? static_cast<GObject*>(
                  g_object_new(WEBKIT_TYPE_WEB_VIEW, "settings", settings, nullptr))
            : static_cast<GObject*>(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view",
                                                 views.front(), "settings", settings, nullptr));
    views.push_back(WEBKIT_WEB_VIEW(view));
    const int* box = boxes[(views.size() - 1) % 3];
    gtk_widget_set_size_request(GTK_WIDGET(view), box[2], box[3]);
    gtk_fixed_put(fixed.gobj(), GTK_WIDGET(view), box[0], box[1]);
    webkit_web_view_load_uri(views.back(), (std::string(argv[1]) + argv[i]).c_str());
  }
  // A probe looks at the window and the views every millisecond, so that a
  // page loaded before the window maps counts too.
  struct Probe {
    Gtk::Window& window;
    const std::vector<WebKitWebView*>& views;
    Clock::time_point mapped{};
    std::vector<Clock::time_point> loaded;
    bool Done() const {
      return mapped != Clock::time_point{} &&
             std::all_of(loaded.begin(), loaded.end(),
                         [](Clock::time_point t) { return t != Clock::time_point{}; });
    }
    void Look() {
      const auto now = Clock::now();
      if (mapped == Clock::time_point{} && window.get_mapped()) {
        mapped = now;
      }
      for (std::size_t i = 0; i < views.size(); ++i) {
        if (loaded[i] == Clock::time_point{} && !webkit_web_view_is_loading(views[i]) &&
            webkit_web_view_get_uri(views[i])) {
          loaded[i] = now;
        }
      }
    }
  } probe{window, views, {}, std::vector<Clock::time_point>(views.size())};
  const guint probing = g_timeout_add(
      1,
      [](gpointer self) -> gboolean {
        static_cast<Probe*>(self)->Look();
        return G_SOURCE_CONTINUE;
      },
      &probe);
  window.set_visible(true);
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (!probe.Done() && Clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(probing);
  const auto mapped = probe.mapped;
  std::vector<double> loaded;
  for (const auto& t : probe.loaded) {
    loaded.push_back(MsBetween(mapped, t));
  }
  std::printf("minimal program: window mapped %5.0f ms after start\n", MsBetween(start, mapped));
  double last = -1e9;
  for (std::size_t i = 0; i < views.size(); ++i) {
    std::printf("minimal program: %-40s loaded %6.0f ms after its window mapped\n", argv[i + 2],
                loaded[i]);
    last = std::max(last, loaded[i]);
  }
  std::printf("minimal program: all pages loaded %6.0f ms after its window mapped\n", last);
  g_object_unref(settings);
  return 0;
}
