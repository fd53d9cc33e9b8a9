// SPDX-License-Identifier: MIT
// Slow clients against a running ticklark-endpoint. Normal requests are timed
// one after another, first alone, then while many connections send part of a
// request line, then a byte every few seconds, connecting again when the
// endpoint cuts them off. Prints the latencies, the endpoint's CPU time, and
// its resident memory and open descriptors before, during (the most seen) and
// after.
//
//   endpoint_slow_clients PORT PID [CONNECTIONS [SECONDS [TRICKLE_MS]]]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "endpoint_harness.hpp"

namespace {

using namespace std::chrono_literals;
using ticklark::endpoint::test::RawConnection;

constexpr const char* kPath = "/ticklark/viewext/redirect/rhipo.asp";
constexpr const char* kPartialLine = "GET /ticklark/viewext/redi";

// User and system CPU time of |pid|, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::ostringstream read;
  read << stat.rdbuf();
  const std::string text = read.str();
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int index = 3; fields >> field && index <= 15; ++index) {
    if (index >= 14) {
      ticks += std::atol(field.c_str());
    }
  }
  return ticks;
}

struct Sample {
  std::size_t rss_kib;
  std::size_t descriptors;
};

Sample Measure(pid_t pid) {
  return {ticklark::endpoint::test::ResidentKiB(pid),
          ticklark::endpoint::test::OpenDescriptors(pid)};
}

double Milliseconds(std::chrono::microseconds time) {
  return static_cast<double>(time.count()) / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PORT PID [CONNECTIONS [SECONDS [TRICKLE_MS]]]\n", argv[0]);
    return 2;
  }
  const auto port = static_cast<unsigned>(std::atoi(argv[1]));
  const pid_t pid = std::atoi(argv[2]);
  const auto connections = static_cast<std::size_t>(argc > 3 ? std::atoi(argv[3]) : 2000);
  const auto seconds = argc > 4 ? std::atoi(argv[4]) : 30;
  const auto trickle = std::chrono::milliseconds(argc > 5 ? std::atoi(argv[5]) : 5000);
  if (!ticklark::endpoint::test::AllowDescriptors(connections + 64)) {
    std::fprintf(stderr, "endpoint_slow_clients: may not open %zu descriptors\n", connections);
    return 1;
  }

  // Normal requests, one at a time 50 ms apart, for |length|: their latencies
  // and how many failed; |between| runs after each.
  std::size_t errors = 0;
  const auto time_requests = [&](std::chrono::seconds length, const auto& between) {
    std::vector<std::chrono::microseconds> latencies;
    const auto until = std::chrono::steady_clock::now() + length;
    while (std::chrono::steady_clock::now() < until) {
      std::chrono::microseconds took{};
      if (ticklark::endpoint::test::TimedGet(port, kPath, took) == 302) {
        latencies.push_back(took);
      } else {
        ++errors;
      }
      between();
      std::this_thread::sleep_for(50ms);
    }
    std::sort(latencies.begin(), latencies.end());
    return latencies;
  };
  const auto alone = time_requests(5s, [] {});
  std::this_thread::sleep_for(500ms);  // the last of them closed
  const Sample before = Measure(pid);
  const long cpu_before = CpuTicks(pid);
  const auto start = std::chrono::steady_clock::now();

  // The slow clients, each visited once per trickle period.
  std::atomic<bool> running = true;
  std::atomic<std::size_t> reconnects = 0;
  std::thread slow([&] {
    std::vector<std::unique_ptr<RawConnection>> held(connections);
    const std::size_t per_step = std::max<std::size_t>(1, connections / 400);
    const auto step = trickle * per_step / connections;
    auto next_step = std::chrono::steady_clock::now();
    for (std::size_t next = 0; running; next = (next + per_step) % connections) {
      for (std::size_t i = next; i < std::min(next + per_step, connections); ++i) {
        auto& connection = held[i];
        if (connection && connection->connected() && !connection->ClosedByServer() &&
            connection->Send("r")) {
          continue;
        }
        if (connection) {
          ++reconnects;
        }
        connection = std::make_unique<RawConnection>(port);
        connection->Send(kPartialLine);
      }
      next_step += step;
      std::this_thread::sleep_until(next_step);
    }
  });

  Sample during{0, 0};
  auto next_sample = start;
  const auto latencies = time_requests(std::chrono::seconds(seconds), [&] {
    if (std::chrono::steady_clock::now() >= next_sample) {
      const Sample now = Measure(pid);
      during.rss_kib = std::max(during.rss_kib, now.rss_kib);
      during.descriptors = std::max(during.descriptors, now.descriptors);
      next_sample += 1s;
    }
  });
  const long cpu_during = CpuTicks(pid) - cpu_before;
  const double run_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  running = false;
  slow.join();

  // Once the slow clients have gone, as long as a request may take to arrive.
  std::this_thread::sleep_for(6s);
  const Sample after = Measure(pid);

  const auto percentile = [](const std::vector<std::chrono::microseconds>& sorted, std::size_t p) {
    return sorted.empty() ? 0.0 : Milliseconds(sorted[(sorted.size() - 1) * p / 100]);
  };
  std::printf(
      "slow clients: %zu connections, each a partial request line then a byte every %.1f s, "
      "connecting again when cut off, for %d s\n",
      connections, static_cast<double>(trickle.count()) / 1000.0, seconds);
  std::printf(
      "  normal requests      one at a time, 50 ms apart: %zu alone for 5 s, %zu meanwhile\n",
      alone.size(), latencies.size());
  std::printf("  latency p50          %.3f ms alone, %.3f ms meanwhile\n", percentile(alone, 50),
              percentile(latencies, 50));
  std::printf("  latency p99          %.3f ms alone, %.3f ms meanwhile\n", percentile(alone, 99),
              percentile(latencies, 99));
  std::printf("  latency max          %.3f ms alone, %.3f ms meanwhile\n", percentile(alone, 100),
              percentile(latencies, 100));
  std::printf("  errors               %zu\n", errors);
  std::printf("  slow reconnections   %zu\n", reconnects.load());
  std::printf("  endpoint CPU         %.0f%% of a core\n",
              100.0 * static_cast<double>(cpu_during) / static_cast<double>(sysconf(_SC_CLK_TCK)) /
                  run_seconds);
  std::printf("  endpoint RSS         %zu KiB before, %zu KiB during (most), %zu KiB after\n",
              before.rss_kib, during.rss_kib, after.rss_kib);
  std::printf("  open descriptors     %zu before, %zu during (most), %zu after\n",
              before.descriptors, during.descriptors, after.descriptors);
  return errors == 0 ? 0 : 1;
}
