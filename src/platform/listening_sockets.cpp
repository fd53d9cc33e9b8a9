// SPDX-License-Identifier: MIT
#include "platform/listening_sockets.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gio/gio.h>

#include "platform/gobject_ptr.hpp"

namespace ticklark::platform {

namespace {

constexpr std::string_view kListenState = "0A";

using Bytes = std::array<std::uint8_t, 16>;

// The kernel prints each 32-bit word of the address as it lies in memory,
// read as a host-order number: copying the number back gives the bytes.
bool ParseAddress(std::string_view hex, bool v6, Bytes& bytes) {
  const std::size_t words = v6 ? 4 : 1;
  if (hex.size() != words * 8) {
    return false;
  }
  bytes = {};
  std::uint8_t* out = bytes.data();
  if (!v6) {
    bytes[10] = 0xFF;
    bytes[11] = 0xFF;
    out += 12;
  }
  for (std::size_t i = 0; i < words; ++i) {
    std::uint32_t word = 0;
    const char* first = hex.data() + i * 8;
    const auto [end, error] = std::from_chars(first, first + 8, word, 16);
    if (error != std::errc{} || end != first + 8) {
      return false;
    }
    std::memcpy(out + i * 4, &word, 4);
  }
  return true;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
      ++i;
    }
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
      ++i;
    }
    if (i > start) {
      fields.push_back(line.substr(start, i - start));
    }
  }
  return fields;
}

std::string ReadAll(const char* path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool IsMappedV4(const Bytes& bytes) {
  return std::all_of(bytes.begin(), bytes.begin() + 10, [](std::uint8_t b) { return b == 0; }) &&
         bytes[10] == 0xFF && bytes[11] == 0xFF;
}

bool IsZero(const std::uint8_t* first, const std::uint8_t* last) {
  return std::all_of(first, last, [](std::uint8_t b) { return b == 0; });
}

}  // namespace

std::vector<ListeningSocket> ParseListeningSockets(std::string_view text, bool v6) {
  std::vector<ListeningSocket> sockets;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid ...
    const auto fields = Fields(text.substr(start, end - start));
    start = end + 1;
    if (fields.size() < 8 || fields[3] != kListenState) {
      continue;
    }
    const std::string_view local = fields[1];
    const auto colon = local.find(':');
    ListeningSocket socket;
    socket.v6 = v6;
    unsigned uid = 0;
    const std::string_view port = colon == std::string_view::npos ? "" : local.substr(colon + 1);
    if (colon == std::string_view::npos ||
        !ParseAddress(local.substr(0, colon), v6, socket.address) ||
        std::from_chars(port.data(), port.data() + port.size(), socket.port, 16).ec !=
            std::errc{} ||
        std::from_chars(fields[7].data(), fields[7].data() + fields[7].size(), uid).ec !=
            std::errc{}) {
      continue;
    }
    socket.uid = uid;
    sockets.push_back(socket);
  }
  return sockets;
}

std::vector<ListeningSocket> ReadListeningSockets() {
  auto sockets = ParseListeningSockets(ReadAll("/proc/net/tcp"), false);
  const auto v6 = ParseListeningSockets(ReadAll("/proc/net/tcp6"), true);
  sockets.insert(sockets.end(), v6.begin(), v6.end());
  return sockets;
}

std::vector<unsigned> ListenerOwners(const std::vector<ListeningSocket>& sockets,
                                     const std::string& ip, unsigned port) {
  const GObjectPtr<GInetAddress> parsed = Adopt(g_inet_address_new_from_string(ip.c_str()));
  if (!parsed) {
    return {};
  }
  Bytes target{};
  const bool targetV4 = g_inet_address_get_family(parsed.get()) == G_SOCKET_FAMILY_IPV4;
  const auto* raw = g_inet_address_to_bytes(parsed.get());
  if (targetV4) {
    target[10] = 0xFF;
    target[11] = 0xFF;
    std::memcpy(target.data() + 12, raw, 4);
  } else {
    std::memcpy(target.data(), raw, 16);
  }

  std::vector<unsigned> owners;
  for (const ListeningSocket& socket : sockets) {
    if (socket.port != port) {
      continue;
    }
    const Bytes& a = socket.address;
    bool reaches = a == target;
    if (!socket.v6) {
      reaches = reaches || (targetV4 && IsZero(a.data() + 12, a.data() + 16));  // 0.0.0.0
    } else {
      // "::" takes IPv4 connections too unless it is IPv6-only, which the
      // list does not tell: counted for both.
      reaches = reaches || IsZero(a.data(), a.data() + 16);
      reaches = reaches || (targetV4 && IsMappedV4(a) && IsZero(a.data() + 12, a.data() + 16));
    }
    if (reaches && std::find(owners.begin(), owners.end(), socket.uid) == owners.end()) {
      owners.push_back(socket.uid);
    }
  }
  return owners;
}

}  // namespace ticklark::platform
