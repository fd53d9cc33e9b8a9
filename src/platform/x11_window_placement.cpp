// SPDX-License-Identifier: MIT
#include <algorithm>
#include <memory>

// gtkmm before anything that pulls in Xlib: its macros clash with glibmm names.
#include <glibmm/main.h>
#include <gtkmm/window.h>

#include <gdk/x11/gdkx.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "platform/window_placement.hpp"

namespace ticklark::platform {

namespace {

// The X side of a realized GTK window, or nothing when there is none.
struct XWindow {
  Display* display = nullptr;
  ::Window id = 0;
  int scale = 1;
  explicit operator bool() const { return display != nullptr && id != 0; }
};

XWindow XWindowOf(Gtk::Window& window, bool realize) {
  if (realize && !window.get_realized()) {
    gtk_widget_realize(GTK_WIDGET(window.gobj()));
  }
  GdkSurface* surface = window.get_surface() ? window.get_surface()->gobj() : nullptr;
  if (!surface || !GDK_IS_X11_SURFACE(surface)) {
    return {};
  }
  GdkDisplay* display = gdk_surface_get_display(surface);
  return XWindow{gdk_x11_display_get_xdisplay(display), gdk_x11_surface_get_xid(surface),
                 std::max(1, gdk_surface_get_scale_factor(surface))};
}

std::optional<FrameExtents> ReadFrameExtents(const XWindow& xw) {
  const Atom atom = XInternAtom(xw.display, "_NET_FRAME_EXTENTS", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(xw.display, xw.id, atom, 0, 4, False, XA_CARDINAL, &type,
                                        &format, &count, &after, &data);
  std::optional<FrameExtents> extents;
  if (status == Success && type == XA_CARDINAL && format == 32 && count == 4 && data) {
    const auto* values = reinterpret_cast<const long*>(data);
    extents = FrameExtents{
        static_cast<int>(values[0]) / xw.scale, static_cast<int>(values[1]) / xw.scale,
        static_cast<int>(values[2]) / xw.scale, static_cast<int>(values[3]) / xw.scale};
  }
  if (data) {
    XFree(data);
  }
  return extents;
}

// Asks the window manager what frame it will give a window that is not mapped
// yet, and waits a moment for the answer.
std::optional<FrameExtents> RequestFrameExtents(const XWindow& xw) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = xw.id;
  event.xclient.message_type = XInternAtom(xw.display, "_NET_REQUEST_FRAME_EXTENTS", False);
  event.xclient.format = 32;
  XSendEvent(xw.display, DefaultRootWindow(xw.display), False,
             SubstructureNotifyMask | SubstructureRedirectMask, &event);
  for (int attempt = 0; attempt < 25; ++attempt) {
    XSync(xw.display, False);
    if (auto extents = ReadFrameExtents(xw)) {
      return extents;
    }
    g_usleep(4000);
  }
  return std::nullopt;
}

// Asks the window manager to honour the position we give, also for a window
// that is not mapped yet (it would otherwise choose one itself).
void RequestPosition(const XWindow& xw, int x, int y) {
  XSizeHints* hints = XAllocSizeHints();
  long supplied = 0;
  if (!XGetWMNormalHints(xw.display, xw.id, hints, &supplied)) {
    hints->flags = 0;
  }
  hints->flags |= USPosition | PPosition;
  hints->x = x * xw.scale;
  hints->y = y * xw.scale;
  XSetWMNormalHints(xw.display, xw.id, hints);
  XFree(hints);
  XMoveWindow(xw.display, xw.id, x * xw.scale, y * xw.scale);
  XFlush(xw.display);
}

// GTK writes the window's size hints again when it maps it, and with them gone
// a window manager may choose a place of its own. Once the window is up, put
// it where it was asked to be if it is not there.
void KeepRequestedPosition(Gtk::Window& window, int x, int y) {
  auto mapped = std::make_shared<sigc::connection>();
  *mapped = window.signal_map().connect(sigc::track_obj(
      [&window, x, y, mapped] {
        mapped->disconnect();
        Glib::signal_timeout().connect_once(
            sigc::track_obj(
                [&window, x, y] {
                  const XWindow xw = XWindowOf(window, false);
                  if (!xw || !window.get_mapped()) {
                    return;
                  }
                  ::Window root = 0;
                  ::Window child = 0;
                  int clientX = 0;
                  int clientY = 0;
                  XTranslateCoordinates(xw.display, xw.id, DefaultRootWindow(xw.display), 0, 0,
                                        &clientX, &clientY, &child);
                  const auto frame = ReadFrameExtents(xw).value_or(FrameExtents{});
                  if (clientX / xw.scale - frame.left != x || clientY / xw.scale - frame.top != y) {
                    XMoveWindow(xw.display, xw.id, x * xw.scale, y * xw.scale);
                    XFlush(xw.display);
                  }
                  (void)root;
                },
                window),
            60);
      },
      window));
}

}  // namespace

FrameExtents X11WindowPlacement::Frame(Gtk::Window& window) {
  const XWindow xw = XWindowOf(window, false);
  if (xw) {
    if (auto extents = ReadFrameExtents(xw)) {
      m_lastFrame = *extents;
      m_haveFrame = true;
      return *extents;
    }
  }
  if (!window.get_decorated()) {
    return {};
  }
  if (m_haveFrame) {
    return m_lastFrame;
  }
  if (xw && !window.get_mapped()) {
    if (auto extents = RequestFrameExtents(xw)) {
      m_lastFrame = *extents;
      m_haveFrame = true;
      return *extents;
    }
  }
  return {};
}

void X11WindowPlacement::SetOuterBounds(Gtk::Window& window, const PixelRect& bounds) {
  const XWindow xw = XWindowOf(window, true);
  if (!xw) {
    return;
  }
  const FrameExtents frame = Frame(window);
  const int clientWidth = std::max(1, bounds.width - frame.left - frame.right);
  const int clientHeight = std::max(1, bounds.height - frame.top - frame.bottom);
  window.set_default_size(clientWidth, clientHeight);
  if (window.get_mapped()) {
    XMoveResizeWindow(xw.display, xw.id, bounds.x * xw.scale, bounds.y * xw.scale,
                      static_cast<unsigned>(clientWidth * xw.scale),
                      static_cast<unsigned>(clientHeight * xw.scale));
    XFlush(xw.display);
  } else {
    RequestPosition(xw, bounds.x, bounds.y);
    KeepRequestedPosition(window, bounds.x, bounds.y);
  }
}

std::optional<PixelRect> X11WindowPlacement::OuterBounds(Gtk::Window& window) {
  const XWindow xw = XWindowOf(window, false);
  if (!xw || !window.get_mapped()) {
    return std::nullopt;
  }
  ::Window root = 0;
  ::Window child = 0;
  int x = 0;
  int y = 0;
  unsigned width = 0;
  unsigned height = 0;
  unsigned border = 0;
  unsigned depth = 0;
  if (!XGetGeometry(xw.display, xw.id, &root, &x, &y, &width, &height, &border, &depth)) {
    return std::nullopt;
  }
  if (!XTranslateCoordinates(xw.display, xw.id, root, 0, 0, &x, &y, &child)) {
    return std::nullopt;
  }
  const FrameExtents frame = Frame(window);
  return PixelRect{x / xw.scale - frame.left, y / xw.scale - frame.top,
                   static_cast<int>(width) / xw.scale + frame.left + frame.right,
                   static_cast<int>(height) / xw.scale + frame.top + frame.bottom};
}

void X11WindowPlacement::MoveClientTo(Gtk::Window& window, int x, int y) {
  const XWindow xw = XWindowOf(window, true);
  if (!xw) {
    return;
  }
  const FrameExtents frame = Frame(window);
  RequestPosition(xw, x - frame.left, y - frame.top);
  if (!window.get_mapped()) {
    KeepRequestedPosition(window, x - frame.left, y - frame.top);
  }
}

void X11WindowPlacement::CenterOn(Gtk::Window& window, const PixelRect& area) {
  const XWindow xw = XWindowOf(window, true);
  if (!xw) {
    return;
  }
  const FrameExtents frame = Frame(window);
  int width = 0;
  int height = 0;
  if (window.get_mapped()) {
    width = window.get_width();
    height = window.get_height();
  } else {
    // Not laid out yet: measure what the window will ask for.
    int minimum = 0;
    int ignored = 0;
    window.measure(Gtk::Orientation::HORIZONTAL, -1, minimum, width, ignored, ignored);
    window.measure(Gtk::Orientation::VERTICAL, width, minimum, height, ignored, ignored);
    window.get_default_size(minimum, ignored);
    width = std::max(width, minimum);
    height = std::max(height, ignored);
  }
  width += frame.left + frame.right;
  height += frame.top + frame.bottom;
  const int x = area.x + (area.width - width) / 2;
  const int y = area.y + (area.height - height) / 2;
  RequestPosition(xw, x, y);
  if (!window.get_mapped()) {
    KeepRequestedPosition(window, x, y);
  }
}

void X11WindowPlacement::SetSkipTaskbar(Gtk::Window& window, bool skip) {
  if (!window.get_realized()) {
    gtk_widget_realize(GTK_WIDGET(window.gobj()));
  }
  GdkSurface* surface = window.get_surface() ? window.get_surface()->gobj() : nullptr;
  if (surface && GDK_IS_X11_SURFACE(surface)) {
    gdk_x11_surface_set_skip_taskbar_hint(surface, skip);
    gdk_x11_surface_set_skip_pager_hint(surface, skip);
  }
}

void X11WindowPlacement::SetTitleBarButtons(Gtk::Window& window, bool minimize, bool maximize,
                                            bool close) {
  const XWindow xw = XWindowOf(window, true);
  if (!xw || !window.get_decorated()) {
    return;
  }
  // The window manager hints of the Motif toolkit, which every current window
  // manager still reads: what the frame shows and which actions it offers.
  enum : unsigned long {
    kHintFunctions = 1,
    kHintDecorations = 2,
    kFunctionResize = 2,
    kFunctionMove = 4,
    kFunctionMinimize = 8,
    kFunctionMaximize = 16,
    kFunctionClose = 32,
    kDecorBorder = 2,
    kDecorResizeHandle = 4,
    kDecorTitle = 8,
    kDecorMenu = 16,
    kDecorMinimize = 32,
    kDecorMaximize = 64,
  };
  const bool resizable = window.get_resizable();
  unsigned long functions = kFunctionMove;
  unsigned long decorations = kDecorBorder | kDecorTitle | kDecorMenu;
  if (resizable) {
    functions |= kFunctionResize;
    decorations |= kDecorResizeHandle;
  }
  if (minimize) {
    functions |= kFunctionMinimize;
    decorations |= kDecorMinimize;
  }
  if (maximize) {
    functions |= kFunctionMaximize;
    decorations |= kDecorMaximize;
  }
  if (close) {
    functions |= kFunctionClose;
  }
  long hints[5] = {static_cast<long>(kHintFunctions | kHintDecorations),
                   static_cast<long>(functions), static_cast<long>(decorations), 0, 0};
  const Atom atom = XInternAtom(xw.display, "_MOTIF_WM_HINTS", False);
  XChangeProperty(xw.display, xw.id, atom, atom, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(hints), 5);
  XFlush(xw.display);
}

bool X11WindowPlacement::IsMinimized(Gtk::Window& window) {
  GdkSurface* surface = window.get_surface() ? window.get_surface()->gobj() : nullptr;
  if (!surface || !GDK_IS_TOPLEVEL(surface)) {
    return false;
  }
  return (gdk_toplevel_get_state(GDK_TOPLEVEL(surface)) & GDK_TOPLEVEL_STATE_MINIMIZED) != 0;
}

std::vector<PixelRect> X11WindowPlacement::Monitors() {
  std::vector<PixelRect> monitors;
  GdkDisplay* display = gdk_display_get_default();
  if (!display) {
    return monitors;
  }
  GListModel* list = gdk_display_get_monitors(display);
  const guint count = g_list_model_get_n_items(list);
  for (guint i = 0; i < count; ++i) {
    auto* monitor = static_cast<GdkMonitor*>(g_list_model_get_item(list, i));
    GdkRectangle area;
    gdk_monitor_get_geometry(monitor, &area);
    monitors.push_back(PixelRect{area.x, area.y, area.width, area.height});
    g_object_unref(monitor);
  }
  return monitors;
}

}  // namespace ticklark::platform
