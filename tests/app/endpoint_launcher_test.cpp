// SPDX-License-Identifier: MIT
// The endpoint started with the program: what it does for each kind of
// listener it finds on the endpoint's address.
#include "app/endpoint_launcher.hpp"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <string>

#include <gtest/gtest.h>

namespace ticklark::app {
namespace {

using namespace std::chrono_literals;

struct BaseCase {
  const char* base;
  bool valid;
  const char* listen;  // when valid
  bool loopback;
};

TEST(EndpointBase, OnlyHttpOrHttpsWithAHostAndNothingAfterIt) {
  const BaseCase cases[] = {
      {"http://127.0.0.1:8642", true, "127.0.0.1:8642", true},
      {"http://127.0.0.1:8642/", true, "127.0.0.1:8642", true},
      {"HTTP://127.0.0.2:9000", true, "127.0.0.2:9000", true},
      {"http://localhost:8642", true, "127.0.0.1:8642", true},
      {"http://[::1]:8642", true, "[::1]:8642", true},
      {"https://ticklark.example.org", true, "ticklark.example.org:443", false},
      {"http://192.0.2.7", true, "192.0.2.7:80", false},
      {"ftp://127.0.0.1:8642", false, "", false},
      {"127.0.0.1:8642", false, "", false},
      {"http://", false, "", false},
      {"http://127.0.0.1:8642/ticklark", false, "", false},
      {"http://127.0.0.1:8642?x=1", false, "", false},
      {"http://127.0.0.1:8642#x", false, "", false},
      {"http://user@127.0.0.1:8642", false, "", false},
      {"http://127.0.0.1:0", false, "", false},
      {"http://127.0.0.1:99999", false, "", false},
      {"http://127.0.0.1: 8642", false, "", false},
      {"", false, "", false},
  };
  for (const BaseCase& c : cases) {
    const auto address = ParseEndpointBase(c.base);
    ASSERT_EQ(address.has_value(), c.valid) << c.base;
    if (address) {
      EXPECT_EQ(address->ListenText(), c.listen) << c.base;
      EXPECT_EQ(address->IsLoopback(), c.loopback) << c.base;
    }
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
                 false, "ticklark-endpoint: cannot listen on 127.0.0.1:"},
        Scenario{"OtherUser", Holder::kOtherUser, true, EndpointOutcome::kForeign, false,
                 "another user's program (uid 65534) holds 127.0.0.1:"},
        Scenario{"NoExecutable", Holder::kNothing, false, EndpointOutcome::kUnavailable, false,
                 "ticklark-endpoint was looked for in /nonexistent/ticklark-endpoint"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(EndpointLauncher, AnotherMachinesEndpointIsNeverStarted) {
  EndpointLauncher launcher("https://ticklark.example.org", TICKLARK_ENDPOINT_BINARY);
  EXPECT_EQ(launcher.Prepare(EndpointLauncher::Clock::now() + 1s), EndpointOutcome::kNotLoopback);
  EXPECT_EQ(launcher.Pid(), -1);
}

}  // namespace
}  // namespace ticklark::app
