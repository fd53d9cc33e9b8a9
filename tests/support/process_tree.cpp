// SPDX-License-Identifier: MIT
#include "support/process_tree.hpp"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace ticklark::test {

std::vector<int> ProcessTree(int root) {
  std::map<int, std::vector<int>> children;
  if (DIR* proc = opendir("/proc")) {
    while (dirent* entry = readdir(proc)) {
      const int pid = std::atoi(entry->d_name);
      if (pid <= 0) {
        continue;
      }
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string line;
      if (!std::getline(stat, line)) {
        continue;
      }
      // The parent follows the command name, which is in parentheses and may
      // itself hold spaces and parentheses.
      const auto close = line.rfind(')');
      if (close == std::string::npos || close + 2 >= line.size()) {
        continue;
      }
      std::istringstream rest(line.substr(close + 2));
      char state = 0;
      int parent = 0;
      rest >> state >> parent;
      children[parent].push_back(pid);
    }
    closedir(proc);
  }
  std::vector<int> tree{root};
  for (std::size_t i = 0; i < tree.size(); ++i) {
    for (int child : children[tree[i]]) {
      tree.push_back(child);
    }
  }
  return tree;
}

std::string CommandName(int pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

long RollupKiB(int pid, std::string_view field) {
  std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
  const std::string prefix = std::string(field) + ":";
  std::string line;
  while (std::getline(rollup, line)) {
    if (line.rfind(prefix, 0) == 0) {
      return std::atol(line.c_str() + prefix.size());
    }
  }
  return 0;
}

}  // namespace ticklark::test
