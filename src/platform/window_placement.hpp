// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
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
  // The geometry of every monitor.
  virtual std::vector<PixelRect> Monitors() = 0;
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

// The real placement, over Xlib.
class X11WindowPlacement : public WindowPlacement {
 public:
  void SetOuterBounds(Gtk::Window& window, const PixelRect& bounds) override;
  std::optional<PixelRect> OuterBounds(Gtk::Window& window) override;
  void MoveClientTo(Gtk::Window& window, int x, int y) override;
  void CenterOn(Gtk::Window& window, const PixelRect& area) override;
  void SetSkipTaskbar(Gtk::Window& window, bool skip) override;
  std::vector<PixelRect> Monitors() override;
  FrameExtents Frame(Gtk::Window& window) override;
  bool IsMinimized(Gtk::Window& window) override;
  void SetTitleBarButtons(Gtk::Window& window, bool minimize, bool maximize, bool close) override;

 private:
  // Frames look alike for every window of one manager: the last one seen is
  // the best guess for a window not yet mapped.
  FrameExtents m_lastFrame;
  bool m_haveFrame = false;
};

}  // namespace ticklark::platform
