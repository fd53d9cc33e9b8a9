// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>

namespace ticklark::app {

// The start procedure's wait behind the splash. Nothing of the program runs
// until |until|, while the web engine's messages go through, so that the
// processes started ahead of the main window finish launching meanwhile. The
// splash takes no input throughout: it has no handlers and refuses to close.
void SplashWaitUntil(std::chrono::steady_clock::time_point until);
void SplashWait(int milliseconds);

}  // namespace ticklark::app
