// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>

#include <glib.h>
#include <gtest/gtest.h>

namespace Gtk {
class Widget;
class Window;
}  // namespace Gtk

namespace ticklark::test {

// Starts GTK (X11 backend) and gtkmm once per test binary. Safe to call again.
void InitGtkOnce();

// Runs the default main context until |done| returns true or |timeout| passes.
// Returns the last value of |done|. Never sleeps longer than a few milliseconds
// without looking at |done| again.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the default main context for |duration|, handling whatever arrives.
// For waits on something that must not happen; anything that does happen has
// a condition to wait for with PumpUntil.
void PumpFor(std::chrono::milliseconds duration);

// Has |widget| drawn again and waits until its window has painted that frame,
// so that whatever changed before has been laid out and drawn. False when no
// frame came within |timeout| (an unmapped widget has none).
bool AwaitNextFrame(Gtk::Widget& widget,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Gives |window| the X keyboard focus, as a click on it would, and waits until
// GTK counts it active. Tests that walk the focus need it: GTK keeps the chain
// of focused children only in the active window, and on a display shared with
// other tests any window may hold the focus. Asks again while another client
// takes it away.
bool AwaitActive(Gtk::Window& window, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Starts openbox on the test display and waits until it manages windows (it
// names itself on the root window). Its process id, or 0 when it cannot run.
GPid StartWindowManager();
// Ends the window manager |pid| started by StartWindowManager, if any.
void EndWindowManager(GPid& pid);

// Test fixture for anything that makes widgets.
class GtkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InitGtkOnce(); }
};

}  // namespace ticklark::test
