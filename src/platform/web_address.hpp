// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Web addresses taken apart once, the same way for the program and its
// endpoint. GLib only, no GTK.
namespace ticklark::platform {

// An absolute address split into what says where it goes.
struct AddressParts {
  std::string scheme;  // lower case
  std::string host;    // an IPv6 address without its brackets; may be empty
  int port = 0;        // as given, else 443 for https and 80 for any other scheme
  // Nothing but scheme, host, port and a "/" at most: no user name, path,
  // query or fragment, and no blank anywhere.
  bool bareBase = false;
};

// The parts of |address|, or nothing when it is not an absolute address.
std::optional<AddressParts> SplitAddress(std::string_view address);

// True for an absolute http or https address with a host; the only kind of
// address the program ever hands to another program.
bool IsWebAddress(std::string_view address);

// localhost, 127.0.0.0/8 or ::1 (no brackets): this computer's own addresses,
// which need no network.
bool IsLoopbackHost(std::string_view host);

// True when |address| goes to one of this computer's own addresses.
bool IsLoopbackAddress(std::string_view address);

// An endpoint base: "http[s]://host[:port]" with a "/" at most after it, the
// port between 1 and 65535. Nothing else.
std::optional<AddressParts> ParseEndpointBase(std::string_view base);

}  // namespace ticklark::platform
