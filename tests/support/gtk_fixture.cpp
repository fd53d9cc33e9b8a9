// SPDX-License-Identifier: MIT
#include "support/gtk_fixture.hpp"

#include <csignal>
#include <cstdlib>
#include <string>

#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <gtkmm/widget.h>
#include <gtkmm/window.h>
// Xlib's macros clash with gtkmm's names: after gtkmm only.
#include <X11/Xlib.h>
#include <gdk/x11/gdkx.h>

namespace ticklark::test {

void InitGtkOnce() {
  static const bool initialised = [] {
    gdk_set_allowed_backends("x11");
    setenv("GSK_RENDERER", "cairo", 0);
    gtk_init();
    Gtk::init_gtkmm_internals();
    return true;
  }();
  (void)initialised;
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // A tick keeps a blocking iteration from waiting past the deadline.
  const guint tick =
      g_timeout_add(5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool result = done();
  while (!result && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
    result = done();
  }
  g_source_remove(tick);
  return result;
}

void PumpFor(std::chrono::milliseconds duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  PumpUntil([deadline] { return std::chrono::steady_clock::now() >= deadline; }, duration * 2);
}

bool AwaitNextFrame(Gtk::Widget& widget, std::chrono::milliseconds timeout) {
  GdkFrameClock* clock = gtk_widget_get_frame_clock(widget.gobj());
  if (!clock) {
    return false;
  }
  int painted = 0;
  const gulong handler = g_signal_connect_swapped(
      clock, "after-paint", G_CALLBACK(+[](int* count) { ++*count; }), &painted);
  widget.queue_draw();
  const bool done = PumpUntil([&] { return painted > 0; }, timeout);
  g_signal_handler_disconnect(clock, handler);
  return done;
}

GPid StartWindowManager() {
  gchar* argv[] = {const_cast<gchar*>("openbox"), nullptr};
  GPid pid = 0;
  GError* error = nullptr;
  if (!g_spawn_async(nullptr, argv, nullptr,
                     GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                 G_SPAWN_STDERR_TO_DEV_NULL),
                     nullptr, nullptr, &pid, &error)) {
    g_clear_error(&error);
    return 0;
  }
  PumpUntil([] {
    gchar* out = nullptr;
    const gboolean ran = g_spawn_command_line_sync("xprop -root _NET_SUPPORTING_WM_CHECK", &out,
                                                   nullptr, nullptr, nullptr);
    const bool ready = ran && out && std::string(out).find("window id") != std::string::npos;
    g_free(out);
    return ready;
  });
  return pid;
}

void EndWindowManager(GPid& pid) {
  if (pid) {
    kill(pid, SIGTERM);
    g_spawn_close_pid(pid);
    pid = 0;
  }
}

bool AwaitActive(Gtk::Window& window, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!window.is_active() && std::chrono::steady_clock::now() < deadline) {
    GdkSurface* surface =
        window.get_mapped() ? gtk_native_get_surface(GTK_NATIVE(window.gobj())) : nullptr;
    if (surface) {
      GdkDisplay* display = gdk_surface_get_display(surface);
      gdk_x11_display_error_trap_push(display);
      XSetInputFocus(gdk_x11_display_get_xdisplay(display), gdk_x11_surface_get_xid(surface),
                     RevertToParent, CurrentTime);
      gdk_x11_display_error_trap_pop_ignored(display);
    }
    PumpUntil([&] { return window.is_active(); }, std::chrono::milliseconds(200));
  }
  return window.is_active();
}

}  // namespace ticklark::test
