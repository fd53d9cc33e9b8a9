// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ticklark::platform {

// A TCP socket in the listening state, as the kernel lists it.
struct ListeningSocket {
  // The local address as IPv6 bytes; an IPv4 address is mapped (::ffff:a.b.c.d).
  std::array<std::uint8_t, 16> address{};
  bool v6 = false;  // listed in tcp6, so it takes IPv6 connections
  unsigned port = 0;
  unsigned uid = 0;  // the owner: the user whose process opened it
};

// The listening sockets in the text of /proc/net/tcp (|v6| false) or
// /proc/net/tcp6 (|v6| true). Lines that do not parse are skipped.
std::vector<ListeningSocket> ParseListeningSockets(std::string_view text, bool v6);

// The listening sockets of this network namespace, IPv4 and IPv6.
std::vector<ListeningSocket> ReadListeningSockets();

// The owners of the sockets in |sockets| that a connection to |ip| (an IP
// address as text) and |port| could reach: one bound to that address, or to
// the wildcard address of a family that takes the connection. Empty when none
// listens, or when |ip| is not an IP address.
std::vector<unsigned> ListenerOwners(const std::vector<ListeningSocket>& sockets,
                                     const std::string& ip, unsigned port);

}  // namespace ticklark::platform
