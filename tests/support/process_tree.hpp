// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ticklark::test {

// |root| first, then every process descended from it (web processes, the
// network process, their sandbox helpers), as /proc shows them now.
std::vector<int> ProcessTree(int root);

// The process's command name, as the kernel keeps it (15 characters at most).
std::string CommandName(int pid);

// Kilobytes of one field of /proc/PID/smaps_rollup ("Pss", "Private_Dirty"...);
// 0 when the process is gone.
long RollupKiB(int pid, std::string_view field);

}  // namespace ticklark::test
