// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ticklark::endpoint {

inline constexpr const char* kDefaultListenHost = "127.0.0.1";
inline constexpr unsigned kDefaultListenPort = 8642;

struct Options {
  std::string host = kDefaultListenHost;
  unsigned port = kDefaultListenPort;
  bool listenGiven = false;              // --listen was on the command line
  std::optional<std::string> redirects;  // --redirects FILE instead of the user's table
  bool help = false;
  bool version = false;
};

struct ParsedCommandLine {
  Options options;
  std::string error;  // empty when the command line is good

  bool Ok() const { return error.empty(); }
};

// Reads the arguments after the program name, with GLib's option parser.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// "ADDRESS:PORT", with an IPv6 address in brackets ("[::1]:8642").
bool ParseListenAddress(const std::string& text, std::string& host, unsigned& port);

// The text of --help.
std::string Usage();

// The text of --version.
std::string VersionText();

}  // namespace ticklark::endpoint
