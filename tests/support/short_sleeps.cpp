// SPDX-License-Identifier: MIT
// Loaded into the program (LD_PRELOAD) by tests that start it many times: a
// g_usleep of a second or more returns at once, so the splash does not hold
// up each start for four seconds. Everything else sleeps as asked.
#include <dlfcn.h>

#include <cstdlib>

#include <glib.h>

namespace {

// The program's own child processes (the web engine's) run as usual.
[[gnu::constructor]] void NotForChildProcesses() {
  unsetenv("LD_PRELOAD");
}

}  // namespace

extern "C" void g_usleep(gulong microseconds) {
  if (microseconds >= G_USEC_PER_SEC) {
    return;
  }
  using Sleep = void (*)(gulong);
  static const auto real = reinterpret_cast<Sleep>(dlsym(RTLD_NEXT, "g_usleep"));
  real(microseconds);
}
