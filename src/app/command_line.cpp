// SPDX-License-Identifier: MIT
#include "app/command_line.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace ticklark::app {

namespace {

// The program's options and those GLib's application adds, by whether they
// take a value.
constexpr std::array<std::string_view, 2> kWithValue{"--endpoint", "--gapplication-app-id"};
constexpr std::array<std::string_view, 6> kFlags{"--version",           "--help", "--help-all",
                                                 "--help-gapplication", "-h",     "-?"};

template <std::size_t N>
bool OneOf(const std::array<std::string_view, N>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

ScannedCommandLine ScanCommandLine(const std::vector<std::string>& arguments) {
  ScannedCommandLine scanned;
  if (arguments.empty()) {
    return scanned;
  }
  scanned.kept.push_back(arguments.front());
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--") {
      break;  // only words follow
    }
    if (argument.size() < 2 || argument.front() != '-') {
      continue;  // a word, "-" included
    }
    const std::size_t equals = argument.find('=');
    const std::string_view name = std::string_view(argument).substr(0, equals);
    if (OneOf(kWithValue, name)) {
      scanned.kept.push_back(argument);
      if (equals == std::string::npos) {
        if (i + 1 == arguments.size()) {
          scanned.error = "option " + std::string(name) + " needs a value";
          return scanned;
        }
        scanned.kept.push_back(arguments[++i]);
      }
    } else if (OneOf(kFlags, name) && equals == std::string::npos) {
      scanned.kept.push_back(argument);
    } else if (OneOf(kFlags, name)) {
      scanned.error = "option " + std::string(name) + " takes no value";
      return scanned;
    } else {
      scanned.error = "unknown option " + argument;
      return scanned;
    }
  }
  return scanned;
}

}  // namespace ticklark::app
