// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ticklark::app {

// An endpoint base split into its parts: http or https, a host (an IPv6
// address without its brackets) and a port (the scheme's own when not given).
struct EndpointAddress {
  std::string scheme;
  std::string host;
  unsigned port = 0;

  // localhost, 127.0.0.0/8 or ::1: a program of this machine answers there.
  bool IsLoopback() const;
  // "127.0.0.1:8642", "[::1]:8642": the form ticklark-endpoint's --listen takes.
  std::string ListenText() const;
};

// Reads "scheme://host[:port]" with a trailing "/" at most. Nothing else: no
// path, query, fragment or user name.
std::optional<EndpointAddress> ParseEndpointBase(std::string_view base);

// What the program found, or did, at the endpoint's address.
enum class EndpointOutcome {
  kNotLoopback,  // another machine's endpoint: used as it is, never started
  kRunning,      // the user's own endpoint already answers there
  kStarted,      // started by the program, tied to its life
  kForeign,      // another user's program holds the address: nothing is loaded from it
  kUnavailable,  // none could be started (said why on standard error)
};

// Starts the endpoint on a loopback base when nothing answers there, and
// stops it again with the program. The endpoint is a child that the kernel
// ends when the program ends, however it ends.
class EndpointLauncher {
 public:
  using Clock = std::chrono::steady_clock;

  // |executable| empty: ticklark-endpoint next to the program's own
  // executable, else on PATH.
  explicit EndpointLauncher(std::string base, std::string executable = {});
  ~EndpointLauncher();
  EndpointLauncher(const EndpointLauncher&) = delete;
  EndpointLauncher& operator=(const EndpointLauncher&) = delete;

  // Looks at who listens on the base's address and starts the endpoint when
  // nothing does, waiting at most until |deadline| for it to listen. Blocks;
  // meant for the splash's wait.
  EndpointOutcome Prepare(Clock::time_point deadline);
  // Stops the endpoint started here, if any, and waits for it.
  void Stop();

  EndpointOutcome Outcome() const { return m_outcome; }
  // The started endpoint's process, or -1.
  pid_t Pid() const { return m_pid; }
  // The owner of the listener when the outcome is kForeign.
  unsigned ForeignUid() const { return m_foreignUid; }

  // Called by the pipe watch with the endpoint's standard error.
  bool RelayOutput();

 private:
  bool FindsForeignListener();
  bool AnswersAsEndpoint(Clock::time_point deadline) const;
  EndpointOutcome Start(Clock::time_point deadline);
  bool ReadOutput(bool* listening);
  void CloseOutput();

  std::string m_base;
  std::optional<EndpointAddress> m_address;
  std::string m_executable;
  EndpointOutcome m_outcome = EndpointOutcome::kUnavailable;
  unsigned m_foreignUid = 0;
  pid_t m_pid = -1;
  int m_output = -1;  // read end of the endpoint's standard error
  std::string m_partial;
  unsigned m_watch = 0;
};

// ticklark-endpoint next to |programPath|'s folder, else on PATH; empty when
// neither has it. |lookedAt| tells where it was looked for.
std::string FindEndpointExecutable(const std::string& programPath, std::string& lookedAt);

}  // namespace ticklark::app
