// SPDX-License-Identifier: MIT
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

namespace Gtk {
class Window;
}

namespace ticklark::platform {

// A rectangle in screen pixels (GTK logical pixels).
struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The window manager's frame around a window's client area.
struct FrameExtents {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
  friend bool operator==(const FrameExtents&, const FrameExtents&) = default;
};

// What a placement asks of a window: its outer bounds, frame included; the
// position of its client area; or its outer bounds centred on an area.
struct PlacementRequest {
  enum class Kind { kOuterBounds, kClientPosition, kCentre };
  Kind kind = Kind::kOuterBounds;
  PixelRect rect;  // the bounds, the client position (x, y only) or the area
};

// Where the client area belongs for |request| in a frame of |frame|, with the
// client area now at |client|: the size only changes for outer bounds.
PixelRect ClientRectFor(const PlacementRequest& request, const FrameExtents& frame,
                        const PixelRect& client);

// Places toplevel windows on the screen. GTK 4 keeps this to the window system,
// so it goes through X11 here. Every operation is a no-op on a window that is not
// realized or not on X11.
class WindowPlacement {
 public:
  virtual ~WindowPlacement() = default;

  // Moves and sizes the window so that its outer bounds, frame included, are
  // |bounds|. Works before the window is mapped (realized only) and after.
  virtual void SetOuterBounds(Gtk::Window& window, const PixelRect& bounds) = 0;
  // The outer bounds, frame included, of a mapped window.
  virtual std::optional<PixelRect> OuterBounds(Gtk::Window& window) = 0;
  // Moves the window so that the top-left corner of its client area is at (x, y).
  virtual void MoveClientTo(Gtk::Window& window, int x, int y) = 0;
  // Moves the window so that it is centred on |area| (outer bounds).
  virtual void CenterOn(Gtk::Window& window, const PixelRect& area) = 0;
  // Keeps the window off the taskbar.
  virtual void SetSkipTaskbar(Gtk::Window& window, bool skip) = 0;
  // Tells the window manager, docks and switchers that the window is a splash
  // screen, which they list nowhere. Call before the window is first shown.
  virtual void MarkAsSplash(Gtk::Window& window) { (void)window; }
  // The geometry of every monitor.
  virtual std::vector<PixelRect> Monitors() = 0;
  // The monitor the desktop calls its primary one (where new windows belong),
  // or nothing when there is no monitor.
  virtual std::optional<PixelRect> PrimaryMonitor() {
    const auto monitors = Monitors();
    return monitors.empty() ? std::nullopt : std::optional<PixelRect>(monitors.front());
  }
  // The frame that the window manager puts around the window (or would).
  virtual FrameExtents Frame(Gtk::Window& window) = 0;
  // Whether the window is minimised (iconified) now.
  virtual bool IsMinimized(Gtk::Window& window) = 0;
  // Which buttons the window manager puts in the title bar (and which of the
  // matching actions it allows). Call before the window is first shown.
  virtual void SetTitleBarButtons(Gtk::Window& window, bool minimize, bool maximize, bool close) {
    (void)window;
    (void)minimize;
    (void)maximize;
    (void)close;
  }
};

class PlacementKeeper;

// The real placement, over Xlib. An X error on the way (a window destroyed by
// another client between two requests) leaves the window where it is.
class X11WindowPlacement : public WindowPlacement {
 public:
  X11WindowPlacement();
  ~X11WindowPlacement() override;
  X11WindowPlacement(const X11WindowPlacement&) = delete;
  X11WindowPlacement& operator=(const X11WindowPlacement&) = delete;

  void SetOuterBounds(Gtk::Window& window, const PixelRect& bounds) override;
  std::optional<PixelRect> OuterBounds(Gtk::Window& window) override;
  void MoveClientTo(Gtk::Window& window, int x, int y) override;
  void CenterOn(Gtk::Window& window, const PixelRect& area) override;
  void SetSkipTaskbar(Gtk::Window& window, bool skip) override;
  void MarkAsSplash(Gtk::Window& window) override;
  std::vector<PixelRect> Monitors() override;
  std::optional<PixelRect> PrimaryMonitor() override;
  FrameExtents Frame(Gtk::Window& window) override;
  bool IsMinimized(Gtk::Window& window) override;
  void SetTitleBarButtons(Gtk::Window& window, bool minimize, bool maximize, bool close) override;

 private:
  friend class PlacementKeeper;
  // Windows that the manager frames alike: decorated, resizable, transient.
  using FrameKind = std::tuple<bool, bool, bool>;
  static FrameKind KindOf(Gtk::Window& window);

  // Places the window now as far as its frame is known, and again once the
  // window is mapped and its real frame can be measured.
  void Place(Gtk::Window& window, const PlacementRequest& request);
  void Forget(unsigned long xid);

  // The frame last measured on a mapped window of each kind: the best guess
  // for the next window of that kind before it is mapped.
  std::map<FrameKind, FrameExtents> m_frames;
  std::map<unsigned long, std::shared_ptr<PlacementKeeper>> m_keepers;
};

}  // namespace ticklark::platform
