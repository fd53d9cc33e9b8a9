// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gobject_ptr.hpp"
#include "platform/listening_sockets.hpp"
#include "web/core/load_guard.hpp"

typedef struct _GCancellable GCancellable;
typedef struct _GDataInputStream GDataInputStream;
typedef struct _GSubprocess GSubprocess;

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

// How soon an endpoint that ended by itself is started again.
struct RestartLimits {
  // After the first end; doubled for every restart within |window|.
  std::chrono::milliseconds firstDelay{250};
  std::chrono::milliseconds longestDelay{4000};
  // At most this many restarts within any |window|; one more waits until the
  // oldest of them has left it.
  unsigned perWindow = 5;
  std::chrono::milliseconds window{60000};
};

// When to start an ended endpoint again, from the restarts so far.
class RestartSchedule {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RestartSchedule(RestartLimits limits) : m_limits(limits) {}
  // The wait before the next start, for an endpoint that ended at |now|.
  std::chrono::milliseconds Delay(Clock::time_point now);
  // A restart took place at |now|.
  void Restarted(Clock::time_point now);
  // Restarts within the window that ends at |now|.
  unsigned RecentRestarts(Clock::time_point now);

 private:
  RestartLimits m_limits;
  std::deque<Clock::time_point> m_restarts;
};

// Starts the endpoint on a loopback base when nothing answers there, and
// stops it again with the program. The program opens the listening socket
// itself and passes it to the endpoint (as systemd's socket activation does),
// so that the address stays the program's for as long as it runs; an
// endpoint that ends by itself is started again on the same socket. The
// endpoint is a child that the kernel ends when the program ends, however it
// ends; its own messages are passed on to the program's standard error.
class EndpointLauncher {
 public:
  using Clock = std::chrono::steady_clock;

  // |executable| empty: ticklark-endpoint next to the program's own
  // executable, else on PATH.
  explicit EndpointLauncher(std::string base, std::string executable = {},
                            RestartLimits limits = {});
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
  // The started endpoint's process, or -1 (also while it is being restarted).
  pid_t Pid() const { return m_pid; }
  // Whether the program holds the endpoint's listening socket.
  bool HoldsAddress() const { return m_listening >= 0; }
  // How often the endpoint has been started again so far.
  unsigned Restarts() const { return m_restarts; }
  // The endpoint's base, taken apart; empty when it did not parse.
  const std::optional<EndpointAddress>& Address() const { return m_address; }
  // The owner of the listener when the outcome is kForeign.
  unsigned ForeignUid() const { return m_foreignUid; }

  // Called with each line the endpoint writes on its standard error, and
  // with nullptr at the end of it; |cancelled| when the read was given up.
  void LineRead(const char* line, std::size_t length, bool cancelled);
  // Called when the program's main loop sees the endpoint's output move.
  bool OutputReady();
  // Called when the endpoint's process has ended.
  void Exited(int status);
  // Called when an ended endpoint's output has had its time to end too.
  void OutputOverdue();
  // Called by the restart timer.
  void Restart();

 private:
  bool FindsForeignListener();
  bool AnswersAsEndpoint(Clock::time_point deadline) const;
  EndpointOutcome Start(Clock::time_point deadline);
  bool Spawn(std::string& error);
  void AwaitListening(Clock::time_point deadline);
  bool AwaitExit(Clock::time_point deadline);
  void WatchEnd();
  void ReadLine();
  void ReadWhatIsThere();
  void Ended(int status);
  void EndRun();
  void CloseListening();

  std::string m_base;
  std::optional<EndpointAddress> m_address;
  std::string m_executable;
  std::string m_found;  // the executable started
  EndpointOutcome m_outcome = EndpointOutcome::kUnavailable;
  unsigned m_foreignUid = 0;
  pid_t m_pid = -1;
  int m_listening = -1;  // the endpoint's listening socket, held by the program
  // The endpoint's output is read on a context of the launcher's own, which
  // the program's main loop runs whenever the output moves, and which the
  // launcher runs itself while it waits for the endpoint to listen or end.
  platform::CPtr<GMainContext, g_main_context_unref> m_context;
  platform::GObjectPtr<GSubprocess> m_process;
  platform::GObjectPtr<GDataInputStream> m_output;  // its standard error
  platform::GObjectPtr<GCancellable> m_cancel;      // its read and its wait
  platform::AttachedSource m_outputWatch;
  platform::SourceId m_outputOverdue;
  platform::SourceId m_restartTimer;
  bool m_reading = false;
  bool m_listeningSaid = false;
  bool m_outputEnded = false;
  bool m_exited = false;
  int m_status = 0;
  RestartSchedule m_schedule;
  unsigned m_restarts = 0;
  bool m_stopping = false;
};

// Before each load the program orders from its endpoint's address: the
// address is the program's own while it holds the endpoint's socket; else
// (the user's own endpoint, or none) the listener there must still be the
// user's or the system's, or nothing is loaded from it. Other addresses are
// not its business.
class EndpointOwnerCheck final : public web::LoadGuard {
 public:
  using SocketTables = std::function<std::vector<platform::ListeningSocket>()>;

  explicit EndpointOwnerCheck(const EndpointLauncher& launcher,
                              SocketTables tables = platform::ReadListeningSockets);
  bool MayLoad(const char* address) override;

 private:
  const EndpointLauncher& m_launcher;
  SocketTables m_tables;
  unsigned m_namedUid = 0;  // the other user last named on standard error
};

// ticklark-endpoint next to |programPath|'s folder, else on PATH; empty when
// neither has it. |lookedAt| tells where it was looked for.
std::string FindEndpointExecutable(const std::string& programPath, std::string& lookedAt);

}  // namespace ticklark::app
