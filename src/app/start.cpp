// SPDX-License-Identifier: MIT
#include "app/start.hpp"

namespace ticklark::app {

int Run(int, char**) { return 0; }

}  // namespace ticklark::app
