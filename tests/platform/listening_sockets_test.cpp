// SPDX-License-Identifier: MIT
#include "platform/listening_sockets.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ticklark::platform {
namespace {

// As the kernel lists them: sl, local, remote, state, queues, timers,
// retransmits, uid, ... Two states are not LISTEN (0A) and one line is noise.
constexpr const char* kTcp =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n"
    "   0: 0100007F:21C2 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 0 1\n"
    "   1: 00000000:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0 0 2\n"
    "   2: 0100007F:96E8 0100007F:21C2 01 00000000:00000000 00:00000000 00000000  1000 0 3\n"
    "   3: 0200007F:21C3 00000000:0000 0A 00000000:00000000 00:00000000 00000000 65534 0 4\n"
    "   4: 0100007F:21C5 00000000:0000 06 00000000:00000000 00:00000000 00000000  1000 0 5\n"
    "garbage\n";
constexpr const char* kTcp6 =
    "  sl  local_address                         remote_address                        st\n"
    "   0: 00000000000000000000000001000000:21C2 00000000000000000000000000000000:0000 0A "
    "00000000:00000000 00:00000000 00000000  1001 0 6\n"
    "   1: 00000000000000000000000000000000:1F91 00000000000000000000000000000000:0000 0A "
    "00000000:00000000 00:00000000 00000000  1002 0 7\n"
    "   2: 0000000000000000FFFF00000100007F:21C4 00000000000000000000000000000000:0000 0A "
    "00000000:00000000 00:00000000 00000000  1003 0 8\n";

struct Reach {
  const char* ip;
  unsigned port;
  std::vector<unsigned> owners;
};

TEST(ListeningSockets, OwnersOfTheListenersAConnectionReaches) {
  auto sockets = ParseListeningSockets(kTcp, false);
  ASSERT_EQ(sockets.size(), 3u);
  const auto v6 = ParseListeningSockets(kTcp6, true);
  ASSERT_EQ(v6.size(), 3u);
  sockets.insert(sockets.end(), v6.begin(), v6.end());

  const Reach cases[] = {
      {"127.0.0.1", 8642, {1000}},  // bound to the address itself
      {"::1", 8642, {1001}},        // the IPv6 loopback is another socket
      {"127.0.0.1", 8080, {0}},     // 0.0.0.0 takes every IPv4 address...
      {"127.0.0.9", 8080, {0}},
      {"::1", 8080, {}},            // ...and no IPv6 one
      {"127.0.0.1", 8081, {1002}},  // "::" takes both families
      {"::1", 8081, {1002}},
      {"127.0.0.2", 8643, {65534}},  // another loopback address, another owner
      {"127.0.0.1", 8643, {}},
      {"127.0.0.1", 8644, {1003}},  // IPv4 mapped into IPv6
      {"127.0.0.1", 8645, {}},      // closed, not listening
      {"127.0.0.1", 9, {}},
      {"localhost", 8642, {}},  // not an IP address
  };
  for (const Reach& c : cases) {
    EXPECT_EQ(ListenerOwners(sockets, c.ip, c.port), c.owners) << c.ip << ':' << c.port;
  }
}

}  // namespace
}  // namespace ticklark::platform
