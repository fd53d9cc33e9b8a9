// SPDX-License-Identifier: MIT
// The endpoint started with the program: what it does for each kind of
// listener it finds on the endpoint's address.
#include "app/endpoint_launcher.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <glib.h>

#include <gtest/gtest.h>

#include "platform/web_address.hpp"

namespace ticklark::app {
namespace {

using namespace std::chrono_literals;

struct BaseCase {
  const char* base;
  bool valid;          // as an endpoint base
  const char* listen;  // when valid
  bool loopback;       // the address goes to this computer, base or not
  int port;            // as the address's parts give it; -1: not an address
};

// One parser for every place that takes an endpoint base or an address apart.
TEST(EndpointBase, OnlyHttpOrHttpsWithAHostAndNothingAfterIt) {
  const BaseCase cases[] = {
      {"http://127.0.0.1:8642", true, "127.0.0.1:8642", true, 8642},
      {"http://127.0.0.1:8642/", true, "127.0.0.1:8642", true, 8642},
      {"HTTP://127.0.0.2:9000", true, "127.0.0.2:9000", true, 9000},
      {"http://localhost:8642", true, "127.0.0.1:8642", true, 8642},
      {"http://LocalHost", true, "127.0.0.1:80", true, 80},
      {"http://[::1]:8642", true, "[::1]:8642", true, 8642},
      {"https://ticklark.example.org", true, "ticklark.example.org:443", false, 443},
      {"http://192.0.2.7", true, "192.0.2.7:80", false, 80},
      {"http://127.0.0.1.example.org", true, "127.0.0.1.example.org:80", false, 80},
      {"ftp://127.0.0.1:8642", false, "", true, 8642},
      {"127.0.0.1:8642", false, "", false, -1},
      {"http://", false, "", false, 80},
      {"http://127.0.0.1:8642/ticklark", false, "", true, 8642},
      {"https://[::1]/q?s=1", false, "", true, 443},
      {"http://127.0.0.1:8642?x=1", false, "", true, 8642},
      {"http://127.0.0.1:8642#x", false, "", true, 8642},
      {"http://user@127.0.0.1:8642", false, "", true, 8642},
      {"http://127.0.0.1:0", false, "", true, 0},
      {"http://127.0.0.1:99999", false, "", false, -1},
      {"http://127.0.0.1: 8642", false, "", false, -1},
      {"", false, "", false, -1},
  };
  for (const BaseCase& c : cases) {
    const auto address = ParseEndpointBase(c.base);
    ASSERT_EQ(address.has_value(), c.valid) << c.base;
    if (address) {
      EXPECT_EQ(address->ListenText(), c.listen) << c.base;
      EXPECT_EQ(address->IsLoopback(), c.loopback) << c.base;
    }
    const auto parts = platform::SplitAddress(c.base);
    EXPECT_EQ(parts ? parts->port : -1, c.port) << c.base;
    EXPECT_EQ(platform::IsLoopbackAddress(c.base), c.loopback) << c.base;
  }
}

// A loopback port that nothing listens on now.
unsigned FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// Listens on |port| and never answers. Returns the socket.
int Listen(unsigned port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

enum class Holder {
  kNothing,
  kOwnEndpoint,  // the user's own endpoint, answering
  kOwnSilent,    // a listener of the user's own that never answers
  kOtherUser,    // a listener of another user's (uid 65534)
};

struct Scenario {
  const char* name;
  Holder holder;
  bool executableFound;
  EndpointOutcome outcome;
  bool startsOne;
  const char* said;  // part of what standard error says
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
  *out << scenario.name;
}

class EndpointLauncherScenarios : public ::testing::TestWithParam<Scenario> {
 protected:
  void TearDown() override {
    if (m_holderPid > 0) {
      kill(m_holderPid, SIGKILL);
      waitpid(m_holderPid, nullptr, 0);
    }
    if (m_socket >= 0) {
      close(m_socket);
    }
  }

  // Another user's process listens and counts, on |m_connections|, every
  // connection it accepts.
  bool StartOtherUsersListener() {
    int counted[2];
    if (getuid() != 0 || pipe(counted) != 0) {
      return false;
    }
    int ready[2];
    if (pipe(ready) != 0) {
      return false;
    }
    m_holderPid = fork();
    if (m_holderPid == 0) {
      close(counted[0]);
      close(ready[0]);
      if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) {
        _exit(1);
      }
      const int fd = Listen(m_port);
      [[maybe_unused]] auto w = write(ready[1], fd >= 0 ? "y" : "n", 1);
      for (;;) {
        const int connection = accept(fd, nullptr, nullptr);
        w = write(counted[1], "c", 1);
        close(connection);
      }
    }
    close(counted[1]);
    close(ready[1]);
    m_connections = counted[0];
    fcntl(m_connections, F_SETFL, O_NONBLOCK);
    char answer = 'n';
    const bool listening = read(ready[0], &answer, 1) == 1 && answer == 'y';
    close(ready[0]);
    return listening;
  }

  unsigned m_port = FreePort();
  std::string m_base = "http://127.0.0.1:" + std::to_string(m_port);
  pid_t m_holderPid = -1;
  int m_socket = -1;
  int m_connections = -1;
};

TEST_P(EndpointLauncherScenarios, StartsOnlyWhereNothingOfTheUsersAnswers) {
  const Scenario& scenario = GetParam();
  EndpointLauncher own(m_base, TICKLARK_ENDPOINT_BINARY);
  switch (scenario.holder) {
    case Holder::kNothing:
      break;
    case Holder::kOwnEndpoint:
      ASSERT_EQ(own.Prepare(EndpointLauncher::Clock::now() + 5s), EndpointOutcome::kStarted);
      break;
    case Holder::kOwnSilent:
      m_socket = Listen(m_port);
      ASSERT_GE(m_socket, 0);
      break;
    case Holder::kOtherUser:
      if (!StartOtherUsersListener()) {
        GTEST_SKIP() << "needs root to listen as another user";
      }
      break;
  }
  EndpointLauncher launcher(m_base, scenario.executableFound ? TICKLARK_ENDPOINT_BINARY
                                                             : "/nonexistent/ticklark-endpoint");
  testing::internal::CaptureStderr();
  const auto outcome = launcher.Prepare(EndpointLauncher::Clock::now() + 5s);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(outcome, scenario.outcome) << said;
  EXPECT_EQ(launcher.Pid() > 0, scenario.startsOne) << said;
  EXPECT_NE(said.find(scenario.said), std::string::npos) << said;

  if (scenario.startsOne) {
    // It answers as the endpoint: a second look finds it running.
    EndpointLauncher second(m_base, TICKLARK_ENDPOINT_BINARY);
    EXPECT_EQ(second.Prepare(EndpointLauncher::Clock::now() + 5s), EndpointOutcome::kRunning);
    EXPECT_EQ(second.Pid(), -1);
    const pid_t pid = launcher.Pid();
    launcher.Stop();
    EXPECT_NE(kill(pid, 0), 0) << "the endpoint outlived Stop()";
  }
  if (scenario.holder == Holder::kOtherUser) {
    EXPECT_EQ(launcher.ForeignUid(), 65534u);
    char seen[16];
    EXPECT_EQ(read(m_connections, seen, sizeof seen), -1)
        << "the other user's listener was reached";
    close(m_connections);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Listeners, EndpointLauncherScenarios,
    ::testing::Values(
        Scenario{"NothingThere", Holder::kNothing, true, EndpointOutcome::kStarted, true,
                 "ticklark-endpoint: listening on http://127.0.0.1:"},
        Scenario{"OwnEndpoint", Holder::kOwnEndpoint, true, EndpointOutcome::kRunning, false, ""},
        Scenario{"OwnSilentListener", Holder::kOwnSilent, true, EndpointOutcome::kUnavailable,
                 false, "cannot listen on 127.0.0.1:"},
        Scenario{"OtherUser", Holder::kOtherUser, true, EndpointOutcome::kForeign, false,
                 "another user's program (uid 65534) holds 127.0.0.1:"},
        Scenario{"NoExecutable", Holder::kNothing, false, EndpointOutcome::kUnavailable, false,
                 "ticklark-endpoint was looked for in /nonexistent/ticklark-endpoint"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

// Runs the main loop until |done| holds or |timeout| has passed.
template <typename Condition>
bool RunLoopUntil(Condition done, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) {
      return false;
    }
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// The status of a HEAD of the market strip on 127.0.0.1:|port|, or 0.
unsigned StripStatus(unsigned port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const timeval wait{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const std::string request =
      "HEAD /ticklark/viewext/ticklark_ad_frame.asp HTTP/1.1\r\nHost: x\r\nConnection: "
      "close\r\n\r\n";
  char reply[64] = {};
  const bool asked =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size()) &&
      recv(fd, reply, sizeof reply - 1, MSG_WAITALL) > 12;
  close(fd);
  return asked && std::string_view(reply).starts_with("HTTP/1.1 ")
             ? static_cast<unsigned>(std::atoi(reply + 9))
             : 0u;
}

// Whether a process of uid 65534 can listen on 127.0.0.1:|port| (as root
// only; nullopt otherwise).
std::optional<bool> OtherUserCanListen(unsigned port) {
  if (getuid() != 0) {
    return std::nullopt;
  }
  const pid_t child = fork();
  if (child == 0) {
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) {
      _exit(2);
    }
    _exit(Listen(port) >= 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 2) {
    return std::nullopt;
  }
  return WEXITSTATUS(status) == 0;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// Killed outright, the endpoint comes back on the program's socket; nobody
// else can take the address meanwhile, and a request made while it was gone
// waits for it instead of failing.
TEST(EndpointRestart, AKilledEndpointComesBackOnTheSameSocket) {
  const unsigned port = FreePort();
  EndpointLauncher launcher("http://127.0.0.1:" + std::to_string(port), TICKLARK_ENDPOINT_BINARY);
  ASSERT_EQ(launcher.Prepare(EndpointLauncher::Clock::now() + 5s), EndpointOutcome::kStarted);
  ASSERT_EQ(StripStatus(port), 200u);
  const pid_t first = launcher.Pid();

  testing::internal::CaptureStderr();
  ASSERT_EQ(kill(first, SIGKILL), 0);
  // Gone, and not yet reaped by the program: the socket stays with it.
  EXPECT_TRUE(RunLoopUntil([&] { return launcher.Pid() != first; }, 5s));
  const auto otherListens = OtherUserCanListen(port);
  std::thread waiting([&] { EXPECT_EQ(StripStatus(port), 200u); });
  EXPECT_TRUE(RunLoopUntil([&] { return launcher.Pid() > 0; }, 5s));
  EXPECT_TRUE(RunLoopUntil([&] { return StripStatus(port) == 200u; }, 5s));
  RunLoopUntil([] { return false; }, 200ms);
  waiting.join();
  const std::string said = testing::internal::GetCapturedStderr();

  EXPECT_NE(launcher.Pid(), first);
  EXPECT_EQ(launcher.Restarts(), 1u);
  EXPECT_EQ(Count(said, "ticklark2: the endpoint ended (signal Killed); started again in 0.25 s"),
            1u)
      << said;
  if (otherListens) {
    EXPECT_FALSE(*otherListens) << "uid 65534 could listen on the endpoint's address";
  }
  const pid_t second = launcher.Pid();
  launcher.Stop();
  EXPECT_NE(kill(second, 0), 0) << "the endpoint outlived Stop()";
  EXPECT_TRUE(OtherUserCanListen(port).value_or(true)) << "the address was not given back";
}

// An endpoint that ends as soon as it has started is started again at most
// as often as the limit allows, each time with one line; what it says is
// passed on escaped.
TEST(EndpointRestart, AnEndpointThatEndsAtOnceIsHeldToTheLimit) {
  char folder[] = "/tmp/ticklark-restart.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string script = std::string(folder) + "/ticklark-endpoint";
  std::ofstream(script) << "#!/bin/sh\n"
                           "printf 'ticklark-endpoint: listening on fd %s \\033[2J\\n' "
                           "\"$LISTEN_FDS\" >&2\n"
                           "exit 3\n";
  chmod(script.c_str(), 0755);
  const RestartLimits limits{20ms, 40ms, 3, 10s};
  EndpointLauncher launcher("http://127.0.0.1:" + std::to_string(FreePort()), script, limits);
  testing::internal::CaptureStderr();
  ASSERT_EQ(launcher.Prepare(EndpointLauncher::Clock::now() + 5s), EndpointOutcome::kStarted);
  EXPECT_TRUE(RunLoopUntil([&] { return launcher.Restarts() == limits.perWindow; }, 8s));
  RunLoopUntil([] { return false; }, 1s);  // time for a restart that must not come
  const unsigned withinTheWindow = launcher.Restarts();
  launcher.Stop();
  const std::string said = testing::internal::GetCapturedStderr();
  unlink(script.c_str());
  rmdir(folder);

  EXPECT_EQ(withinTheWindow, limits.perWindow) << said;
  // Every end said once: the first start's and each restart's.
  EXPECT_EQ(Count(said, "ticklark2: the endpoint ended (exit status 3); started again in "),
            withinTheWindow + 1)
      << said;
  EXPECT_EQ(Count(said, "(3 restarts in the last minute)"), 1u) << said;
  EXPECT_EQ(Count(said, "ticklark-endpoint: listening on fd 1 \\x1b[2J"), withinTheWindow + 1)
      << said;
  EXPECT_EQ(said.find('\x1b'), std::string::npos);
}

// What the endpoint says while it stops with the program still reaches
// standard error, as do the lines it wrote before.
TEST(EndpointRestart, WhatAStoppedEndpointSaysIsPassedOn) {
  const unsigned port = FreePort();
  EndpointLauncher launcher("http://127.0.0.1:" + std::to_string(port), TICKLARK_ENDPOINT_BINARY);
  testing::internal::CaptureStderr();
  ASSERT_EQ(launcher.Prepare(EndpointLauncher::Clock::now() + 5s), EndpointOutcome::kStarted);
  ASSERT_EQ(StripStatus(port), 200u);  // serving: it has its stop signals by now
  launcher.Stop();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Count(said, "ticklark-endpoint: listening on "), 1u) << said;
  EXPECT_EQ(Count(said, "ticklark-endpoint: stopped"), 1u) << said;
}

struct Schedule {
  double endedAt;  // seconds
  long delay;      // milliseconds
};

TEST(EndpointRestart, DelaysDoubleAndTheWindowHoldsTheCount) {
  const Schedule steps[] = {
      {0.0, 250},   {0.3, 500},   {0.9, 1000}, {2.0, 2000},
      {4.1, 4000},  {8.2, 52050},  // the sixth within a minute waits for the first to leave it
      {125.0, 250},                // a minute without a restart starts again from the shortest
  };
  RestartSchedule schedule(RestartLimits{});
  const auto zero = RestartSchedule::Clock::time_point{};
  for (const Schedule& step : steps) {
    const auto ended = zero + std::chrono::milliseconds(static_cast<long>(step.endedAt * 1000));
    const auto delay = schedule.Delay(ended);
    EXPECT_EQ(delay.count(), step.delay) << "ended at " << step.endedAt << " s";
    schedule.Restarted(ended + delay);
  }
}

// A listening socket as the kernel's tables list it.
platform::ListeningSocket Listener(const std::string& ip, unsigned port, unsigned uid) {
  platform::ListeningSocket socket;
  socket.port = port;
  socket.uid = uid;
  in_addr v4{};
  if (inet_pton(AF_INET, ip.c_str(), &v4) == 1) {
    socket.address[10] = 0xFF;
    socket.address[11] = 0xFF;
    std::memcpy(socket.address.data() + 12, &v4, sizeof v4);
  } else {
    socket.v6 = true;
    inet_pton(AF_INET6, ip.c_str(), socket.address.data());
  }
  return socket;
}

struct LoadCase {
  const char* name;
  const char* address;
  std::vector<std::pair<const char*, unsigned>> listeners;  // "ip", uid
  bool mayLoad;
};

// A listener that the program does not hold is asked for its owner before
// every load from the endpoint's address; nothing else is.
TEST(EndpointOwnerCheck, OnlyTheUsersOrTheSystemsListenerIsAsked) {
  const unsigned me = getuid() == 65534 ? 65533 : getuid();
  const std::string endpoint = "http://127.0.0.1:8642";
  const std::string strip = endpoint + "/ticklark/viewext/ticklark_ad_frame.asp";
  const LoadCase cases[] = {
      {"nobody listens", strip.c_str(), {}, true},
      {"the user's own", strip.c_str(), {{"127.0.0.1", me}}, true},
      {"the system's", strip.c_str(), {{"127.0.0.1", 0}}, true},
      {"another user's", strip.c_str(), {{"127.0.0.1", 65534}}, false},
      {"another user's on every address", strip.c_str(), {{"0.0.0.0", 65534}}, false},
      {"another user's beside the user's",
       strip.c_str(),
       {{"127.0.0.1", me}, {"::", 65534}},
       false},
      {"localhost, another user's on ::1", "http://localhost:8642/x", {{"::1", 65534}}, false},
      {"another loopback name", "http://127.0.0.2:8642/x", {{"127.0.0.2", 65534}}, false},
      {"another port", "http://127.0.0.1:8643/x", {{"127.0.0.1", 65534}}, true},
      {"an outside page", "https://www.nasdaq.com/", {{"0.0.0.0", 65534}}, true},
      {"no address", "about:blank", {{"127.0.0.1", 65534}}, true},
  };
  EndpointLauncher launcher(endpoint,
                            "/nonexistent/ticklark-endpoint");  // the program holds nothing
  for (const LoadCase& c : cases) {
    std::vector<platform::ListeningSocket> sockets;
    for (const auto& [ip, uid] : c.listeners) {
      sockets.push_back(Listener(ip, 8642, uid));
    }
    EndpointOwnerCheck check(launcher, [&] { return sockets; });
    testing::internal::CaptureStderr();
    EXPECT_EQ(check.MayLoad(c.address), c.mayLoad) << c.name;
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("another user's program (uid 65534) now holds") != std::string::npos,
              !c.mayLoad)
        << c.name << ": " << said;
  }
  // Another machine's endpoint is not this machine's users' business.
  EndpointLauncher remote("https://ticklark.example.org", "/nonexistent/ticklark-endpoint");
  remote.Prepare(EndpointLauncher::Clock::now());
  EndpointOwnerCheck check(remote, [] {
    return std::vector<platform::ListeningSocket>{Listener("0.0.0.0", 443, 65534)};
  });
  EXPECT_TRUE(check.MayLoad("https://ticklark.example.org/ticklark/viewext/ticklark_ad_frame.asp"));
}

TEST(EndpointLauncher, AnotherMachinesEndpointIsNeverStarted) {
  EndpointLauncher launcher("https://ticklark.example.org", TICKLARK_ENDPOINT_BINARY);
  EXPECT_EQ(launcher.Prepare(EndpointLauncher::Clock::now() + 1s), EndpointOutcome::kNotLoopback);
  EXPECT_EQ(launcher.Pid(), -1);
}

}  // namespace
}  // namespace ticklark::app
