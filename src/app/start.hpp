// SPDX-License-Identifier: MIT
#pragma once

namespace ticklark::app {

// Runs the program: the start procedure, then the window event loop until the
// main window has closed. Returns the process exit status.
int Run(int argc, char** argv);

}  // namespace ticklark::app
