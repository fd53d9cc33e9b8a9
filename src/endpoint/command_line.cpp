// SPDX-License-Identifier: MIT
#include "endpoint/command_line.hpp"

#include <charconv>

namespace ticklark::endpoint {

bool ParseListenAddress(const std::string& text, std::string& host, unsigned& port) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    return false;
  }
  std::string address = text.substr(0, colon);
  if (address.front() == '[') {
    if (address.size() < 3 || address.back() != ']') {
      return false;
    }
    address = address.substr(1, address.size() - 2);
  } else if (address.find(':') != std::string::npos) {
    return false;  // an IPv6 address needs its brackets
  }
  const char* first = text.data() + colon + 1;
  const char* last = text.data() + text.size();
  unsigned value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc{} || end != last || value > 65535) {
    return false;
  }
  host = address;
  port = value;
  return true;
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  ParsedCommandLine parsed;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    std::string name = argument;
    std::optional<std::string> value;
    if (const auto equals = argument.find('=');
        argument.starts_with("--") && equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
    }
    if (name == "--help" || name == "-h") {
      parsed.options.help = true;
      continue;
    }
    if (name != "--redirects" && name != "--listen") {
      parsed.error = "unknown argument '" + argument + "'";
      return parsed;
    }
    if (!value) {
      if (i + 1 == arguments.size()) {
        parsed.error = name + " needs a value";
        return parsed;
      }
      value = arguments[++i];
    }
    if (name == "--redirects") {
      if (value->empty()) {
        parsed.error = "--redirects needs a file name";
        return parsed;
      }
      parsed.options.redirects = *value;
    } else if (!ParseListenAddress(*value, parsed.options.host, parsed.options.port)) {
      parsed.error = "--listen takes ADDRESS:PORT, such as 127.0.0.1:8642, not '" + *value + "'";
      return parsed;
    }
  }
  return parsed;
}

std::string Usage() {
  return "Usage: ticklark-endpoint [--listen ADDRESS:PORT] [--redirects FILE]\n"
         "\n"
         "Serves the Ticklark 2 endpoint pages: the redirect pages\n"
         "/ticklark/viewext/redirect/<key>.asp and the ad frame page\n"
         "/ticklark/viewext/ticklark_ad_frame.asp.\n"
         "\n"
         "  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:8642;\n"
         "                         port 0 picks a free port; IPv6 as [::1]:8642)\n"
         "  --redirects FILE       read redirect overrides from FILE instead of\n"
         "                         $XDG_CONFIG_HOME/Ticklark2/endpoint.conf\n"
         "  --help                 show this text\n"
         "\n"
         "A table file holds one 'key = address' a line and '#' comments; its\n"
         "entries replace those of the built-in table. It is read again when it\n"
         "changes; a table with errors is refused, naming file and line.\n";
}

}  // namespace ticklark::endpoint
