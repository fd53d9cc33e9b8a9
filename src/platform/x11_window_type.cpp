// SPDX-License-Identifier: MIT
// The kind of window that the window manager is told a window is.

// gtkmm before anything that pulls in Xlib: its macros clash with glibmm names.
#include <gtkmm/window.h>

#include <gdk/x11/gdkx.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "platform/window_placement.hpp"

namespace ticklark::platform {

void X11WindowPlacement::MarkAsSplash(Gtk::Window& window) {
  if (!window.get_realized()) {
    gtk_widget_realize(GTK_WIDGET(window.gobj()));
  }
  GdkSurface* surface = window.get_surface() ? window.get_surface()->gobj() : nullptr;
  if (!surface || !GDK_IS_X11_SURFACE(surface)) {
    return;
  }
  GdkDisplay* display = gdk_surface_get_display(surface);
  Display* xdisplay = gdk_x11_display_get_xdisplay(display);
  // GDK types a toplevel as normal or dialog and has no call for any other
  // type, so the property is written here, over GDK's, before the window is
  // first mapped, which is when window managers read it.
  long type = static_cast<long>(XInternAtom(xdisplay, "_NET_WM_WINDOW_TYPE_SPLASH", False));
  gdk_x11_display_error_trap_push(display);
  XChangeProperty(xdisplay, gdk_x11_surface_get_xid(surface),
                  XInternAtom(xdisplay, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&type), 1);
  gdk_x11_display_error_trap_pop_ignored(display);
}

}  // namespace ticklark::platform
