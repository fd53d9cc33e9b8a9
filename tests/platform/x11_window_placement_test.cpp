// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include "platform/window_placement.hpp"
#include "support/gtk_fixture.hpp"

// Xlib after gtkmm: its macros clash with glibmm names.
#include <gdk/x11/gdkx.h>

#include <X11/Xlib.h>

namespace ticklark::platform {
namespace {

using Kind = PlacementRequest::Kind;

struct ClientRectCase {
  const char* name;
  PlacementRequest request;
  FrameExtents frame;
  PixelRect client;  // where the client area is now
  PixelRect expected;
};

void PrintTo(const ClientRectCase& param, std::ostream* out) {
  *out << param.name;
}

class ClientRects : public ::testing::TestWithParam<ClientRectCase> {};

TEST_P(ClientRects, PutTheFrameWhereTheRequestSays) {
  EXPECT_EQ(ClientRectFor(GetParam().request, GetParam().frame, GetParam().client),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Placement, ClientRects,
    ::testing::Values(ClientRectCase{"OuterBoundsWithoutFrame",
                                     {Kind::kOuterBounds, {100, 80, 800, 600}},
                                     {},
                                     {0, 0, 1, 1},
                                     {100, 80, 800, 600}},
                      // twm: a 2-pixel border all round and a title bar of 27 above it.
                      ClientRectCase{"OuterBoundsInATitledFrame",
                                     {Kind::kOuterBounds, {100, 80, 800, 600}},
                                     {2, 2, 29, 2},
                                     {0, 0, 1, 1},
                                     {102, 109, 796, 569}},
                      ClientRectCase{"OuterBoundsSmallerThanTheFrame",
                                     {Kind::kOuterBounds, {-50, -40, 3, 20}},
                                     {2, 2, 29, 2},
                                     {0, 0, 1, 1},
                                     {-48, -11, 1, 1}},
                      ClientRectCase{"ClientPositionKeepsTheSize",
                                     {Kind::kClientPosition, {120, 90, 0, 0}},
                                     {1, 1, 23, 4},
                                     {5, 5, 300, 200},
                                     {120, 90, 300, 200}},
                      ClientRectCase{"CentreCountsTheFrame",
                                     {Kind::kCentre, {800, 0, 800, 1200}},
                                     {2, 2, 29, 2},
                                     {0, 0, 470, 256},
                                     {965, 485, 470, 256}},
                      ClientRectCase{"CentreOnAnAreaSmallerThanTheWindow",
                                     {Kind::kCentre, {0, 0, 100, 100}},
                                     {},
                                     {0, 0, 300, 200},
                                     {-100, -50, 300, 200}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A second client of the same X display, as another program would be.
class OtherClient {
 public:
  OtherClient() : m_display(XOpenDisplay(nullptr)) {}
  ~OtherClient() {
    if (m_display) {
      XCloseDisplay(m_display);
    }
  }
  OtherClient(const OtherClient&) = delete;
  OtherClient& operator=(const OtherClient&) = delete;
  Display* operator->() const { return m_display; }
  Display* get() const { return m_display; }

 private:
  Display* m_display;
};

::Window XidOf(Gtk::Window& window) {
  return gdk_x11_surface_get_xid(window.get_surface()->gobj());
}

class X11Placement : public test::GtkTest {};

// Another client destroys the window between two requests of ours: each
// operation leaves it unplaced and the program goes on (GDK's own handler
// would end it on the first X error).
TEST_F(X11Placement, AWindowDestroyedByAnotherClientIsNotPlaced) {
  OtherClient other;
  ASSERT_NE(other.get(), nullptr);
  X11WindowPlacement placement;
  for (const bool shown : {false, true}) {
    SCOPED_TRACE(shown ? "shown" : "realized only");
    auto window = std::make_unique<Gtk::Window>();
    window->set_default_size(200, 100);
    if (shown) {
      window->present();
      ASSERT_TRUE(test::PumpUntil([&] { return window->get_mapped(); }));
    } else {
      gtk_widget_realize(GTK_WIDGET(window->gobj()));
    }
    gdk_display_sync(gdk_display_get_default());
    XDestroyWindow(other.get(), XidOf(*window));
    XSync(other.get(), False);
    // GDK has not heard of it yet: these requests meet a window that is gone.
    placement.SetOuterBounds(*window, {10, 10, 300, 200});
    placement.MoveClientTo(*window, 20, 30);
    placement.CenterOn(*window, {0, 0, 800, 600});
    placement.SetTitleBarButtons(*window, true, true, true);
    placement.SetSkipTaskbar(*window, true);
    EXPECT_EQ(placement.OuterBounds(*window), std::nullopt);
    (void)placement.Frame(*window);
    // GDK's own requests on the window as it goes are none of the
    // placement's business.
    GdkDisplay* display = gdk_display_get_default();
    gdk_x11_display_error_trap_push(display);
    window.reset();
    test::PumpFor(std::chrono::milliseconds(200));
    gdk_x11_display_error_trap_pop_ignored(display);
  }
}

}  // namespace
}  // namespace ticklark::platform
