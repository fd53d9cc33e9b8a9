// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace ticklark::app {

// The command line as the application is given it: the program's name and its
// options, every other word left out, for the program opens nothing. |error|
// says what is wrong when an option is unknown or lacks its value.
struct ScannedCommandLine {
  std::vector<std::string> kept;
  std::string error;
};

ScannedCommandLine ScanCommandLine(const std::vector<std::string>& arguments);

// What a bad command line prints after its error, and exits with.
inline constexpr const char* kUsage =
    "Usage: ticklark2 [--endpoint=BASE]\n"
    "       ticklark2 --version | --help\n";
inline constexpr int kBadCommandLineStatus = 2;

}  // namespace ticklark::app
