// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>

#include <gtest/gtest.h>

namespace ticklark::test {

// Starts GTK (X11 backend) and gtkmm once per test binary. Safe to call again.
void InitGtkOnce();

// Runs the default main context until |done| returns true or |timeout| passes.
// Returns the last value of |done|. Never sleeps longer than a few milliseconds
// without looking at |done| again.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the default main context for |duration|, handling whatever arrives.
void PumpFor(std::chrono::milliseconds duration);

// Test fixture for anything that makes widgets.
class GtkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InitGtkOnce(); }
};

}  // namespace ticklark::test
