// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>

namespace ticklark::app {

// The start procedure's wait behind the splash. Nothing of the program runs
// until |until|, while the web engine's messages go through, so that the
// processes started ahead of the main window finish launching meanwhile. The
// splash takes no input throughout: it has no handlers and refuses to close.
// The wait ends early once |stop|, asked after each message, says so.
void SplashWaitUntil(std::chrono::steady_clock::time_point until,
                     const std::function<bool()>& stop = {});
void SplashWait(int milliseconds);

}  // namespace ticklark::app
