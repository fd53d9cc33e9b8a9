// SPDX-License-Identifier: MIT
#include "platform/beep.hpp"

#include <gdk/gdk.h>

namespace ticklark::platform {

void DisplayBeeper::Beep() {
  if (GdkDisplay* display = gdk_display_get_default()) {
    gdk_display_beep(display);
  }
}

}  // namespace ticklark::platform
