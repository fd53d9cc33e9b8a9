// SPDX-License-Identifier: MIT
// A small X client for the test scripts, which must drive windows the same way
// with or without a window manager.
//   x-window-tool close ID   asks window ID to close (WM_DELETE_WINDOW)
//   x-window-tool outer ID   prints "x y width height" of the window's outer
//                            bounds: its frame (the ancestor just below the
//                            root) with the frame's border
//   x-window-tool managed    succeeds when a window manager runs (a client
//                            redirects the root window's children)
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <X11/Xlib.h>

namespace {

int Close(Display* display, Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  return 0;
}

int Outer(Display* display, Window window) {
  Window top = window;
  for (;;) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, top, &root, &parent, &children, &count)) {
      return 1;
    }
    if (children) {
      XFree(children);
    }
    if (parent == root || parent == 0) {
      break;
    }
    top = parent;
  }
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, top, &attributes)) {
    return 1;
  }
  std::printf("%d %d %d %d\n", attributes.x, attributes.y,
              attributes.width + 2 * attributes.border_width,
              attributes.height + 2 * attributes.border_width);
  return 0;
}

int Managed(Display* display) {
  XWindowAttributes root;
  if (!XGetWindowAttributes(display, DefaultRootWindow(display), &root)) {
    return 1;
  }
  return (root.all_event_masks & SubstructureRedirectMask) != 0 ? 0 : 1;
}

int Ignore(Display*, XErrorEvent*) {
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool managed = argc == 2 && std::strcmp(argv[1], "managed") == 0;
  if (argc != 3 && !managed) {
    std::fprintf(stderr, "usage: %s close|outer WINDOW | managed\n", argv[0]);
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    return 2;
  }
  XSetErrorHandler(Ignore);
  const Window window = managed ? 0 : std::strtoul(argv[2], nullptr, 0);
  const int status = managed                              ? Managed(display)
                     : std::strcmp(argv[1], "close") == 0 ? Close(display, window)
                     : std::strcmp(argv[1], "outer") == 0 ? Outer(display, window)
                                                          : 2;
  XCloseDisplay(display);
  return status;
}
