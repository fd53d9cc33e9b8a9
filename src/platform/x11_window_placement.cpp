// SPDX-License-Identifier: MIT
#include <poll.h>

#include <algorithm>
#include <memory>

// gtkmm before anything that pulls in Xlib: its macros clash with glibmm names.
#include <glibmm/main.h>
#include <gtkmm/window.h>

#include <gdk/x11/gdkx.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "platform/gobject_ptr.hpp"
#include "platform/window_placement.hpp"
#include "platform/x11_position_hints.hpp"

namespace ticklark::platform {

namespace {

// How long a window manager may take to say which frame it will give a window.
constexpr gint64 kFrameAnswerMicroseconds = G_USEC_PER_SEC;
// How long after a window is mapped its placement is still corrected, and how
// often: a manager that keeps moving it elsewhere wins in the end.
constexpr guint kSettleMilliseconds = 3000;
constexpr int kMaxCorrections = 3;

// The X side of a realized GTK window, or nothing when there is none.
struct XWindow {
  GdkDisplay* gdk = nullptr;
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
  return XWindow{display, gdk_x11_display_get_xdisplay(display), gdk_x11_surface_get_xid(surface),
                 std::max(1, gdk_surface_get_scale_factor(surface))};
}

// Keeps the X errors of the requests made while it lives from GDK's default
// handler, which would end the program. Ok() says whether there were none.
class ErrorTrap {
 public:
  explicit ErrorTrap(GdkDisplay* display) : m_display(display) {
    gdk_x11_display_error_trap_push(m_display);
  }
  ~ErrorTrap() {
    if (!m_popped) {
      gdk_x11_display_error_trap_pop_ignored(m_display);
    }
  }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Waits for the server's answer to every request made so far; call once.
  bool Ok() {
    m_popped = true;
    return gdk_x11_display_error_trap_pop(m_display) == 0;
  }

 private:
  GdkDisplay* m_display;
  bool m_popped = false;
};

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

// The client area on the screen, in device pixels.
std::optional<PixelRect> DeviceClientRect(const XWindow& xw) {
  ::Window root = 0;
  ::Window child = 0;
  int x = 0;
  int y = 0;
  unsigned width = 0;
  unsigned height = 0;
  unsigned border = 0;
  unsigned depth = 0;
  if (!XGetGeometry(xw.display, xw.id, &root, &x, &y, &width, &height, &border, &depth) ||
      !XTranslateCoordinates(xw.display, xw.id, root, 0, 0, &x, &y, &child)) {
    return std::nullopt;
  }
  return PixelRect{x, y, static_cast<int>(width), static_cast<int>(height)};
}

std::optional<PixelRect> ClientRect(const XWindow& xw) {
  auto rect = DeviceClientRect(xw);
  if (rect) {
    *rect = PixelRect{rect->x / xw.scale, rect->y / xw.scale, rect->width / xw.scale,
                      rect->height / xw.scale};
  }
  return rect;
}

// Whether the window manager has mapped the window (its frame is in place).
bool MappedOnScreen(const XWindow& xw) {
  XWindowAttributes attributes;
  return XGetWindowAttributes(xw.display, xw.id, &attributes) && attributes.map_state != IsUnmapped;
}

// The frame around a mapped window: as the manager states it, or else as the
// window tree shows it (managers without the frame property, such as twm,
// still put the window into a frame window of their own below the root).
std::optional<FrameExtents> MeasureFrame(const XWindow& xw) {
  if (auto extents = ReadFrameExtents(xw)) {
    return extents;
  }
  ::Window top = xw.id;
  for (;;) {
    ::Window root = 0;
    ::Window parent = 0;
    ::Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(xw.display, top, &root, &parent, &children, &count)) {
      return std::nullopt;
    }
    if (children) {
      XFree(children);
    }
    if (parent == root || parent == 0) {
      break;
    }
    top = parent;
  }
  if (top == xw.id) {
    return FrameExtents{};  // no manager: nothing around the window
  }
  XWindowAttributes frame;
  const auto client = DeviceClientRect(xw);
  if (!client || !XGetWindowAttributes(xw.display, top, &frame)) {
    return std::nullopt;
  }
  const int right = frame.x + frame.width + 2 * frame.border_width;
  const int bottom = frame.y + frame.height + 2 * frame.border_width;
  return FrameExtents{
      (client->x - frame.x) / xw.scale, (right - client->x - client->width) / xw.scale,
      (client->y - frame.y) / xw.scale, (bottom - client->y - client->height) / xw.scale};
}

// Whether the window manager answers a question about the frame it will give.
bool AnswersFrameRequests(const XWindow& xw) {
  return gdk_x11_screen_supports_net_wm_hint(gdk_x11_display_get_screen(xw.gdk),
                                             "_NET_REQUEST_FRAME_EXTENTS");
}

struct FrameNotice {
  ::Window window;
  Atom atom;
  unsigned long handled;  // the serial of the last notice acted on
  bool seen = false;
};

// Looks through Xlib's queue for a new frame notice; takes nothing out of it,
// the events stay for GDK.
Bool SeesFrameNotice(Display*, XEvent* event, XPointer argument) {
  auto* notice = reinterpret_cast<FrameNotice*>(argument);
  if (event->type == PropertyNotify && event->xproperty.window == notice->window &&
      event->xproperty.atom == notice->atom && event->xproperty.serial > notice->handled) {
    notice->handled = event->xproperty.serial;
    notice->seen = true;
  }
  return False;
}

// Asks the window manager what frame it will give a window that is not mapped
// yet, and waits for the answer, without spinning, up to a time limit.
std::optional<FrameExtents> RequestFrameExtents(const XWindow& xw) {
  ErrorTrap trap(xw.gdk);
  if (!AnswersFrameRequests(xw)) {
    return std::nullopt;
  }
  FrameNotice notice{xw.id, XInternAtom(xw.display, "_NET_FRAME_EXTENTS", False), 0};
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = xw.id;
  event.xclient.message_type = XInternAtom(xw.display, "_NET_REQUEST_FRAME_EXTENTS", False);
  event.xclient.format = 32;
  XSendEvent(xw.display, DefaultRootWindow(xw.display), False,
             SubstructureNotifyMask | SubstructureRedirectMask, &event);
  const gint64 deadline = g_get_monotonic_time() + kFrameAnswerMicroseconds;
  std::optional<FrameExtents> extents;
  for (;;) {
    extents = ReadFrameExtents(xw);
    const gint64 left = deadline - g_get_monotonic_time();
    if (extents || left <= 0) {
      break;
    }
    // The answer may already be queued (read along with an earlier reply);
    // otherwise sleep until the server sends something.
    XEvent unused;
    notice.seen = false;
    XCheckIfEvent(xw.display, &unused, SeesFrameNotice, reinterpret_cast<XPointer>(&notice));
    if (!notice.seen) {
      pollfd connection{ConnectionNumber(xw.display), POLLIN, 0};
      poll(&connection, 1, static_cast<int>((left + 999) / 1000));
    }
  }
  return trap.Ok() ? extents : std::nullopt;
}

// Asks the window manager to honour the position we give, also for a window
// that is not mapped yet (it would otherwise choose one itself).
void RequestPosition(const XWindow& xw, int x, int y) {
  KeepHintedPosition(xw.id, x * xw.scale, y * xw.scale);
  XSizeHints* hints = XAllocSizeHints();
  long supplied = 0;
  if (!XGetWMNormalHints(xw.display, xw.id, hints, &supplied)) {
    hints->flags = 0;
  }
  XSetWMNormalHints(xw.display, xw.id, hints);  // now with the position
  XFree(hints);
  XMoveWindow(xw.display, xw.id, x * xw.scale, y * xw.scale);
}

// The size a window that is not laid out yet will ask for.
PixelRect PendingClientRect(Gtk::Window& window) {
  int width = 0;
  int height = 0;
  int minimum = 0;
  int ignored = 0;
  window.measure(Gtk::Orientation::HORIZONTAL, -1, minimum, width, ignored, ignored);
  window.measure(Gtk::Orientation::VERTICAL, width, minimum, height, ignored, ignored);
  int defaultWidth = 0;
  int defaultHeight = 0;
  window.get_default_size(defaultWidth, defaultHeight);
  return PixelRect{0, 0, std::max(width, defaultWidth), std::max(height, defaultHeight)};
}

}  // namespace

PixelRect ClientRectFor(const PlacementRequest& request, const FrameExtents& frame,
                        const PixelRect& client) {
  const PixelRect& r = request.rect;
  switch (request.kind) {
    case PlacementRequest::Kind::kOuterBounds:
      return PixelRect{r.x + frame.left, r.y + frame.top,
                       std::max(1, r.width - frame.left - frame.right),
                       std::max(1, r.height - frame.top - frame.bottom)};
    case PlacementRequest::Kind::kClientPosition:
      return PixelRect{r.x, r.y, client.width, client.height};
    case PlacementRequest::Kind::kCentre: {
      const int outerWidth = client.width + frame.left + frame.right;
      const int outerHeight = client.height + frame.top + frame.bottom;
      return PixelRect{r.x + (r.width - outerWidth) / 2 + frame.left,
                       r.y + (r.height - outerHeight) / 2 + frame.top, client.width, client.height};
    }
  }
  return client;
}

// Watches one window until the window manager has mapped it, then measures
// the real frame and moves and sizes the window again where that frame makes
// the first placement wrong. Driven by the window's own X events; gives up a
// few seconds after the map, and at once on an X error.
class PlacementKeeper : public std::enable_shared_from_this<PlacementKeeper> {
 public:
  // |askedX|, |askedY|: the position last asked of the window system.
  PlacementKeeper(X11WindowPlacement& owner, Gtk::Window& window, const XWindow& xw,
                  const PlacementRequest& request, int askedX, int askedY)
      : m_owner(owner),
        m_xw(xw),
        m_request(request),
        m_askedX(askedX),
        m_askedY(askedY),
        m_kind(X11WindowPlacement::KindOf(window)),
        m_frameAtom(XInternAtom(xw.display, "_NET_FRAME_EXTENTS", False)),
        m_handlers(xw.gdk) {
    g_weak_ref_init(&m_window, window.gobj());
  }
  ~PlacementKeeper() {
    Stop();
    g_weak_ref_clear(&m_window);
  }
  PlacementKeeper(const PlacementKeeper&) = delete;
  PlacementKeeper& operator=(const PlacementKeeper&) = delete;

  void Start(bool mapped) {
    m_handlers.Connect("xevent", G_CALLBACK(&PlacementKeeper::OnXEvent), this);
    if (mapped) {
      OnMapped();
    }
  }

  void Stop() {
    ForgetHintedPosition(m_xw.id);
    m_handlers.DisconnectAll();
    m_check.Reset();
    m_deadline.Reset();
  }

 private:
  static gboolean OnXEvent(GdkX11Display*, const XEvent* event, gpointer self) {
    static_cast<PlacementKeeper*>(self)->OnEvent(*event);
    return FALSE;  // GDK handles the event as usual
  }

  void OnEvent(const XEvent& event) {
    if (event.xany.window != m_xw.id) {
      return;
    }
    switch (event.type) {
      case DestroyNotify:
        FinishSoon();
        break;
      case MapNotify:
        OnMapped();
        break;
      case ConfigureNotify:
      case ReparentNotify:
        CheckSoon();
        break;
      case PropertyNotify:
        if (event.xproperty.atom == m_frameAtom) {
          CheckSoon();
        }
        break;
      default:
        break;
    }
  }

  void OnMapped() {
    m_mapped = true;
    ForgetHintedPosition(m_xw.id);  // placed: the manager has read it
    if (!m_deadline.Active()) {
      m_deadline.Reset(g_timeout_add(kSettleMilliseconds, &PlacementKeeper::OnDeadline, this));
    }
    CheckSoon();
  }

  // Several events come together: look once they have all been handled.
  void CheckSoon() {
    if (m_mapped && !m_check.Active()) {
      m_check.Reset(g_idle_add_full(G_PRIORITY_DEFAULT, &PlacementKeeper::OnCheck, this, nullptr));
    }
  }

  void FinishSoon() {
    m_mapped = true;
    m_finished = true;
    CheckSoon();
  }

  static gboolean OnCheck(gpointer self) {
    auto* keeper = static_cast<PlacementKeeper*>(self);
    keeper->m_check.Forget();
    const auto alive = keeper->shared_from_this();  // Forget() may drop the last owner
    if (keeper->m_finished || !keeper->Check()) {
      keeper->m_owner.Forget(keeper->m_xw.id);
    }
    return G_SOURCE_REMOVE;
  }

  static gboolean OnDeadline(gpointer self) {
    auto* keeper = static_cast<PlacementKeeper*>(self);
    keeper->m_deadline.Forget();
    keeper->FinishSoon();
    return G_SOURCE_REMOVE;
  }

  // Returns whether to go on watching.
  bool Check() {
    auto* gtk = static_cast<GtkWindow*>(g_weak_ref_get(&m_window));
    if (!gtk) {
      return false;
    }
    const GObjectPtr<GtkWindow> hold(gtk);
    ErrorTrap trap(m_xw.gdk);
    if (!MappedOnScreen(m_xw)) {
      return trap.Ok();  // unmapped again (minimised, or mapped later): wait
    }
    const auto frame = MeasureFrame(m_xw);
    const auto client = ClientRect(m_xw);
    if (!trap.Ok() || !frame || !client) {
      return false;
    }
    m_owner.m_frames[m_kind] = *frame;
    const PixelRect wanted = ClientRectFor(m_request, *frame, *client);
    if (wanted == *client || ++m_corrections > kMaxCorrections) {
      return false;
    }
    // Managers read a position request in their own ways (the frame's outer
    // corner, or the corner inside its border): ask again, off by as much as
    // the window is off now.
    m_askedX += wanted.x - client->x;
    m_askedY += wanted.y - client->y;
    ErrorTrap again(m_xw.gdk);
    const int x = m_askedX * m_xw.scale;
    const int y = m_askedY * m_xw.scale;
    if (wanted.width != client->width || wanted.height != client->height) {
      gtk_window_set_default_size(gtk, wanted.width, wanted.height);
      XMoveResizeWindow(m_xw.display, m_xw.id, x, y,
                        static_cast<unsigned>(wanted.width * m_xw.scale),
                        static_cast<unsigned>(wanted.height * m_xw.scale));
    } else {
      XMoveWindow(m_xw.display, m_xw.id, x, y);
    }
    return again.Ok();
  }

  X11WindowPlacement& m_owner;
  XWindow m_xw;
  PlacementRequest m_request;
  int m_askedX;
  int m_askedY;
  X11WindowPlacement::FrameKind m_kind;
  Atom m_frameAtom;
  GWeakRef m_window;
  SignalHandlers m_handlers;
  SourceId m_check;
  SourceId m_deadline;
  bool m_mapped = false;
  bool m_finished = false;
  int m_corrections = 0;
};

X11WindowPlacement::X11WindowPlacement() = default;

X11WindowPlacement::~X11WindowPlacement() {
  for (auto& [xid, keeper] : m_keepers) {
    keeper->Stop();
  }
}

X11WindowPlacement::FrameKind X11WindowPlacement::KindOf(Gtk::Window& window) {
  return FrameKind{window.get_decorated(), window.get_resizable(),
                   window.get_transient_for() != nullptr};
}

void X11WindowPlacement::Forget(unsigned long xid) {
  m_keepers.erase(xid);
}

FrameExtents X11WindowPlacement::Frame(Gtk::Window& window) {
  const XWindow xw = XWindowOf(window, false);
  if (xw && window.get_mapped()) {
    ErrorTrap trap(xw.gdk);
    const auto measured = MappedOnScreen(xw) ? MeasureFrame(xw) : std::nullopt;
    if (trap.Ok() && measured) {
      m_frames[KindOf(window)] = *measured;
      return *measured;
    }
  }
  if (const auto known = m_frames.find(KindOf(window)); known != m_frames.end()) {
    return known->second;
  }
  if (xw && window.get_decorated() && !window.get_mapped()) {
    if (const auto answered = RequestFrameExtents(xw)) {
      m_frames[KindOf(window)] = *answered;
      return *answered;
    }
  }
  return {};
}

void X11WindowPlacement::Place(Gtk::Window& window, const PlacementRequest& request) {
  const XWindow xw = XWindowOf(window, true);
  if (!xw) {
    return;
  }
  Forget(xw.id);  // a placement asked before this one is over
  const FrameExtents frame = Frame(window);
  const bool mapped = window.get_mapped();
  std::optional<PixelRect> client;
  {
    ErrorTrap trap(xw.gdk);
    client = mapped && MappedOnScreen(xw) ? ClientRect(xw) : PendingClientRect(window);
    if (!trap.Ok() || !client) {
      Forget(xw.id);
      return;
    }
  }
  const PixelRect wanted = ClientRectFor(request, frame, *client);
  if (request.kind == PlacementRequest::Kind::kOuterBounds) {
    window.set_default_size(wanted.width, wanted.height);
  }
  // A position request names the frame's corner (north-west gravity).
  const int askedX = wanted.x - frame.left;
  const int askedY = wanted.y - frame.top;
  ErrorTrap trap(xw.gdk);
  if (mapped) {
    XMoveResizeWindow(xw.display, xw.id, askedX * xw.scale, askedY * xw.scale,
                      static_cast<unsigned>(wanted.width * xw.scale),
                      static_cast<unsigned>(wanted.height * xw.scale));
  } else {
    RequestPosition(xw, askedX, askedY);
  }
  if (!trap.Ok()) {
    Forget(xw.id);
    return;
  }
  // Until the window is mapped its frame is a guess; the keeper puts it right.
  auto keeper = std::make_shared<PlacementKeeper>(*this, window, xw, request, askedX, askedY);
  m_keepers[xw.id] = keeper;
  keeper->Start(mapped);
}

void X11WindowPlacement::SetOuterBounds(Gtk::Window& window, const PixelRect& bounds) {
  Place(window, PlacementRequest{PlacementRequest::Kind::kOuterBounds, bounds});
}

std::optional<PixelRect> X11WindowPlacement::OuterBounds(Gtk::Window& window) {
  const XWindow xw = XWindowOf(window, false);
  if (!xw || !window.get_mapped()) {
    return std::nullopt;
  }
  ErrorTrap trap(xw.gdk);
  const auto client = ClientRect(xw);
  const auto frame = MeasureFrame(xw);
  if (!trap.Ok() || !client || !frame) {
    return std::nullopt;
  }
  m_frames[KindOf(window)] = *frame;
  return PixelRect{client->x - frame->left, client->y - frame->top,
                   client->width + frame->left + frame->right,
                   client->height + frame->top + frame->bottom};
}

void X11WindowPlacement::MoveClientTo(Gtk::Window& window, int x, int y) {
  Place(window, PlacementRequest{PlacementRequest::Kind::kClientPosition, {x, y, 0, 0}});
}

void X11WindowPlacement::CenterOn(Gtk::Window& window, const PixelRect& area) {
  Place(window, PlacementRequest{PlacementRequest::Kind::kCentre, area});
}

void X11WindowPlacement::SetSkipTaskbar(Gtk::Window& window, bool skip) {
  if (!window.get_realized()) {
    gtk_widget_realize(GTK_WIDGET(window.gobj()));
  }
  GdkSurface* surface = window.get_surface() ? window.get_surface()->gobj() : nullptr;
  if (surface && GDK_IS_X11_SURFACE(surface)) {
    ErrorTrap trap(gdk_surface_get_display(surface));
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
  ErrorTrap trap(xw.gdk);
  const Atom atom = XInternAtom(xw.display, "_MOTIF_WM_HINTS", False);
  XChangeProperty(xw.display, xw.id, atom, atom, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(hints), 5);
}

bool X11WindowPlacement::IsMinimized(Gtk::Window& window) {
  GdkSurface* surface = window.get_surface() ? window.get_surface()->gobj() : nullptr;
  if (!surface || !GDK_IS_TOPLEVEL(surface)) {
    return false;
  }
  return (gdk_toplevel_get_state(GDK_TOPLEVEL(surface)) & GDK_TOPLEVEL_STATE_MINIMIZED) != 0;
}

namespace {

PixelRect GeometryOf(GdkMonitor* monitor) {
  GdkRectangle area;
  gdk_monitor_get_geometry(monitor, &area);
  return PixelRect{area.x, area.y, area.width, area.height};
}

}  // namespace

std::vector<PixelRect> X11WindowPlacement::Monitors() {
  std::vector<PixelRect> monitors;
  GdkDisplay* display = gdk_display_get_default();
  if (!display) {
    return monitors;
  }
  GListModel* list = gdk_display_get_monitors(display);
  const guint count = g_list_model_get_n_items(list);
  for (guint i = 0; i < count; ++i) {
    const GObjectPtr<GdkMonitor> monitor(static_cast<GdkMonitor*>(g_list_model_get_item(list, i)));
    monitors.push_back(GeometryOf(monitor.get()));
  }
  return monitors;
}

std::optional<PixelRect> X11WindowPlacement::PrimaryMonitor() {
  GdkDisplay* display = gdk_display_get_default();
  if (display && GDK_IS_X11_DISPLAY(display)) {
    // GDK follows the primary output of XRandR.
    if (GdkMonitor* primary = gdk_x11_display_get_primary_monitor(display)) {
      return GeometryOf(primary);
    }
  }
  return WindowPlacement::PrimaryMonitor();
}

}  // namespace ticklark::platform
