// SPDX-License-Identifier: MIT
#include "platform/x11_window_visibility.hpp"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "platform/gobject_ptr.hpp"
#include "platform/window_visibility.hpp"

// What tells the program that a window of its own is wholly hidden:
// - The window manager sets _NET_WM_STATE_HIDDEN (and the iconic WM_STATE) on
//   a minimised window, and _NET_WM_DESKTOP, against the root window's
//   _NET_CURRENT_DESKTOP, says on which workspace the window is. Managers
//   unmap the windows of other workspaces.
// - The manager's stacking list (_NET_CLIENT_LIST_STACKING, bottom to top) and
//   the frames of the windows above this one say what covers it. Left out are
//   windows that are minimised, on another workspace or translucent
//   (_NET_WM_WINDOW_OPACITY below full), and the shadows of client-side
//   decorations (_GTK_FRAME_EXTENTS); a window above with holes in its shape
//   still counts as covering there. Frames that move, appear or go are heard
//   through the root window's substructure events.
// - The X server's VisibilityNotify would say the same for every shape, but
//   it reports a window drawn off the screen as unobscured whatever covers it.
//   GTK 4 gives its windows a visual with an alpha channel, which a server with
//   the Composite extension (Xorg, Xvfb, Xwayland) draws off the screen and
//   copies in even without a compositing manager: checked here, a GTK window
//   under a full-screen window is never told it is obscured, while a window of
//   the screen's default visual is. Its FullyObscured is still taken where it
//   comes, from servers without that extension.
// - Under a compositing manager (the owner of the selection _NET_WM_CM_Sn)
//   every window is drawn off the screen and the X server reports nothing
//   useful at all; the stacking list works the same, and windows the manager
//   draws translucent are the only ones that may show this one through them.
//   Nothing tells when the manager fades a window in or out, or draws a
//   window's preview elsewhere (a task switcher, an overview of workspaces):
//   such a preview of a hidden window shows its last frame.
// Nothing here changes what GDK asks of the X server: event masks are only
// widened, and GDK handles every event as before.

namespace ticklark::platform {

namespace {

struct Atoms {
  explicit Atoms(Display* display)
      : wmState(XInternAtom(display, "WM_STATE", False)),
        netWmState(XInternAtom(display, "_NET_WM_STATE", False)),
        netWmStateHidden(XInternAtom(display, "_NET_WM_STATE_HIDDEN", False)),
        netWmDesktop(XInternAtom(display, "_NET_WM_DESKTOP", False)),
        netCurrentDesktop(XInternAtom(display, "_NET_CURRENT_DESKTOP", False)),
        netClientListStacking(XInternAtom(display, "_NET_CLIENT_LIST_STACKING", False)),
        netFrameExtents(XInternAtom(display, "_NET_FRAME_EXTENTS", False)),
        gtkFrameExtents(XInternAtom(display, "_GTK_FRAME_EXTENTS", False)),
        netWmWindowOpacity(XInternAtom(display, "_NET_WM_WINDOW_OPACITY", False)) {}
  Atom wmState;
  Atom netWmState;
  Atom netWmStateHidden;
  Atom netWmDesktop;
  Atom netCurrentDesktop;
  Atom netClientListStacking;
  Atom netFrameExtents;
  Atom gtkFrameExtents;
  Atom netWmWindowOpacity;
};

// A property of 32-bit items (cardinals, atoms, windows), empty when absent.
std::vector<unsigned long> Longs(Display* display, ::Window window, Atom property, Atom type) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> items;
  if (XGetWindowProperty(display, window, property, 0, 4096, False, type, &actualType, &format,
                         &count, &after, &data) == Success &&
      data) {
    if (format == 32) {
      const auto* values = reinterpret_cast<const unsigned long*>(data);
      items.assign(values, values + count);
    }
    XFree(data);
  }
  return items;
}

std::optional<unsigned long> First(const std::vector<unsigned long>& items) {
  return items.empty() ? std::nullopt : std::optional<unsigned long>(items.front());
}

bool Contains(const std::vector<unsigned long>& items, unsigned long item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

// Adds |mask| to the events this client hears from |window|.
void Hear(Display* display, ::Window window, long mask) {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) &&
      (attributes.your_event_mask & mask) != mask) {
    XSelectInput(display, window, attributes.your_event_mask | mask);
  }
}

// One window's visibility, shared by every watch of that window.
class Tracker : public std::enable_shared_from_this<Tracker> {
 public:
  Tracker(GdkDisplay* gdk, ::Window id)
      : m_gdk(Share(gdk)),
        m_display(gdk_x11_display_get_xdisplay(gdk)),
        m_id(id),
        m_atoms(m_display) {
    gdk_x11_display_error_trap_push(m_gdk.get());
    XWindowAttributes attributes;
    if (XGetWindowAttributes(m_display, m_id, &attributes)) {
      m_root = attributes.root;
      m_screen = XScreenNumberOfScreen(attributes.screen);
    }
    Hear(m_display, m_id, VisibilityChangeMask | PropertyChangeMask | StructureNotifyMask);
    if (m_root) {
      Hear(m_display, m_root, PropertyChangeMask | SubstructureNotifyMask);
    }
    gdk_x11_display_error_trap_pop_ignored(m_gdk.get());
    m_handlers.Connect("xevent", G_CALLBACK(&Tracker::OnXEvent), this);
    Schedule();  // the window may be covered already
  }

  ~Tracker() {
    m_handlers.DisconnectAll();
    m_idle.Reset();
  }

  Tracker(const Tracker&) = delete;
  Tracker& operator=(const Tracker&) = delete;

  int Add(std::function<void(bool)> listener) {
    m_listeners.emplace(++m_lastListener, std::move(listener));
    return m_lastListener;
  }
  void Remove(int listener) { m_listeners.erase(listener); }
  bool Hidden() const { return m_hidden; }

 private:
  static gboolean OnXEvent(GdkX11Display*, const XEvent* event, gpointer self) {
    static_cast<Tracker*>(self)->OnEvent(*event);
    return FALSE;  // GDK handles the event as usual
  }

  void OnEvent(const XEvent& event) {
    const ::Window window = event.xany.window;
    if (window == m_id) {
      switch (event.type) {
        case VisibilityNotify:
          m_obscured = event.xvisibility.state == VisibilityFullyObscured;
          Schedule();
          break;
        case PropertyNotify:
          if (event.xproperty.atom == m_atoms.netWmState ||
              event.xproperty.atom == m_atoms.netWmDesktop ||
              event.xproperty.atom == m_atoms.wmState) {
            Schedule();
          }
          break;
        case MapNotify:
        case UnmapNotify:
        case ConfigureNotify:
          Schedule();
          break;
        default:
          break;
      }
    } else if (window == m_root && m_root) {
      if (event.type == PropertyNotify) {
        if (event.xproperty.atom == m_atoms.netCurrentDesktop ||
            event.xproperty.atom == m_atoms.netClientListStacking) {
          Schedule();
        }
      } else if ((event.type == ConfigureNotify || event.type == MapNotify ||
                  event.type == UnmapNotify || event.type == DestroyNotify)) {
        Schedule();
      }
    }
  }

  // Once per turn of the main loop, before GTK draws its next frame: a window
  // that shows again has its panes back in the same frame.
  void Schedule() {
    if (!m_idle.Active()) {
      m_idle.Reset(g_idle_add_full(G_PRIORITY_DEFAULT, &Tracker::OnIdle, this, nullptr));
    }
  }

  static gboolean OnIdle(gpointer self) {
    auto* tracker = static_cast<Tracker*>(self);
    tracker->m_idle.Forget();
    // A listener may end the last watch of the window while it is told.
    const std::shared_ptr<Tracker> keep = tracker->shared_from_this();
    tracker->Update();
    return G_SOURCE_REMOVE;
  }

  void Update() {
    gdk_x11_display_error_trap_push(m_gdk.get());
    const VisibilityFacts facts = Gather();
    gdk_x11_display_error_trap_pop_ignored(m_gdk.get());
    const bool hidden = IsWhollyHidden(facts);
    if (hidden == m_hidden) {
      return;
    }
    m_hidden = hidden;
    // A listener may end its own watch, or another's, while it is told.
    std::vector<int> ids;
    for (const auto& entry : m_listeners) {
      ids.push_back(entry.first);
    }
    for (int id : ids) {
      const auto found = m_listeners.find(id);
      if (found != m_listeners.end()) {
        const std::function<void(bool)> listener = found->second;
        listener(hidden);
      }
    }
  }

  // The client area of |window| on the root window, empty when unknown.
  PixelRect ClientRect(::Window window) const {
    XWindowAttributes attributes;
    int x = 0;
    int y = 0;
    ::Window child = None;
    if (!XGetWindowAttributes(m_display, window, &attributes) ||
        !XTranslateCoordinates(m_display, window, m_root, 0, 0, &x, &y, &child)) {
      return {};
    }
    return {x, y, attributes.width, attributes.height};
  }

  bool OnWorkspaceShown(::Window window, std::optional<unsigned long> current) const {
    const auto desktop = First(Longs(m_display, window, m_atoms.netWmDesktop, XA_CARDINAL));
    return !desktop || !current || *desktop == kAllDesktops || *desktop == *current;
  }

  // The opaque windows stacked above this one, frames included.
  std::vector<PixelRect> WindowsAbove(std::optional<unsigned long> current) const {
    const auto stack = Longs(m_display, m_root, m_atoms.netClientListStacking, XA_WINDOW);
    auto next = std::find(stack.begin(), stack.end(), m_id);
    if (next == stack.end()) {
      return {};
    }
    std::vector<PixelRect> above;
    for (++next; next != stack.end(); ++next) {
      const ::Window window = *next;
      XWindowAttributes attributes;
      if (!XGetWindowAttributes(m_display, window, &attributes) ||
          attributes.map_state != IsViewable ||
          Contains(Longs(m_display, window, m_atoms.netWmState, XA_ATOM),
                   m_atoms.netWmStateHidden) ||
          !OnWorkspaceShown(window, current)) {
        continue;
      }
      const auto opacity = First(Longs(m_display, window, m_atoms.netWmWindowOpacity, XA_CARDINAL));
      if (opacity && *opacity < 0xFFFFFFFFul) {
        continue;
      }
      PixelRect rect = ClientRect(window);
      const auto frame = Longs(m_display, window, m_atoms.netFrameExtents, XA_CARDINAL);
      if (frame.size() == 4) {  // left, right, top, bottom
        rect.x -= static_cast<int>(frame[0]);
        rect.y -= static_cast<int>(frame[2]);
        rect.width += static_cast<int>(frame[0] + frame[1]);
        rect.height += static_cast<int>(frame[2] + frame[3]);
      }
      const auto shadow = Longs(m_display, window, m_atoms.gtkFrameExtents, XA_CARDINAL);
      if (shadow.size() == 4) {
        rect.x += static_cast<int>(shadow[0]);
        rect.y += static_cast<int>(shadow[2]);
        rect.width -= static_cast<int>(shadow[0] + shadow[1]);
        rect.height -= static_cast<int>(shadow[2] + shadow[3]);
      }
      above.push_back(rect);
    }
    return above;
  }

  VisibilityFacts Gather() {
    VisibilityFacts facts;
    facts.minimized =
        Contains(Longs(m_display, m_id, m_atoms.netWmState, XA_ATOM), m_atoms.netWmStateHidden) ||
        First(Longs(m_display, m_id, m_atoms.wmState, m_atoms.wmState)) ==
            std::optional<unsigned long>(IconicState);
    facts.desktop = First(Longs(m_display, m_id, m_atoms.netWmDesktop, XA_CARDINAL));
    facts.currentDesktop = First(Longs(m_display, m_root, m_atoms.netCurrentDesktop, XA_CARDINAL));
    facts.fullyObscured = m_obscured;
    facts.client = ClientRect(m_id);
    facts.screen = {0, 0, DisplayWidth(m_display, m_screen), DisplayHeight(m_display, m_screen)};
    facts.above = WindowsAbove(facts.currentDesktop);
    return facts;
  }

  GObjectPtr<GdkDisplay> m_gdk;
  Display* m_display;
  ::Window m_id;
  ::Window m_root = 0;
  int m_screen = 0;
  Atoms m_atoms;
  SignalHandlers m_handlers{m_gdk.get()};
  SourceId m_idle;
  bool m_obscured = false;
  bool m_hidden = false;
  std::map<int, std::function<void(bool)>> m_listeners;
  int m_lastListener = 0;
};

// The trackers of the windows watched now, one per window.
std::map<std::pair<GdkDisplay*, ::Window>, std::weak_ptr<Tracker>>& Trackers() {
  static std::map<std::pair<GdkDisplay*, ::Window>, std::weak_ptr<Tracker>> trackers;
  return trackers;
}

class Watch final : public WindowVisibilityWatch {
 public:
  Watch(std::shared_ptr<Tracker> tracker, std::function<void(bool)> onChange)
      : m_tracker(std::move(tracker)), m_listener(m_tracker->Add(std::move(onChange))) {}
  ~Watch() override { m_tracker->Remove(m_listener); }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  bool IsHidden() const override { return m_tracker->Hidden(); }

 private:
  std::shared_ptr<Tracker> m_tracker;
  int m_listener;
};

}  // namespace

std::unique_ptr<WindowVisibilityWatch> WatchWindowVisibility(GtkWindow* window,
                                                             std::function<void(bool)> onChange) {
  GdkSurface* surface = window ? gtk_native_get_surface(GTK_NATIVE(window)) : nullptr;
  if (!surface || !GDK_IS_X11_SURFACE(surface)) {
    return nullptr;
  }
  GdkDisplay* display = gdk_surface_get_display(surface);
  const auto key = std::make_pair(display, gdk_x11_surface_get_xid(surface));
  auto& trackers = Trackers();
  std::erase_if(trackers, [](const auto& entry) { return entry.second.expired(); });
  std::shared_ptr<Tracker> tracker = trackers[key].lock();
  if (!tracker) {
    tracker = std::make_shared<Tracker>(display, key.second);
    trackers[key] = tracker;
  }
  return std::make_unique<Watch>(std::move(tracker), std::move(onChange));
}

}  // namespace ticklark::platform
