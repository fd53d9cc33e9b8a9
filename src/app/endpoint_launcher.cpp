// SPDX-License-Identifier: MIT
#include "app/endpoint_launcher.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <gio/gio.h>
#include <glib-unix.h>
#include <glib.h>

#include "endpoint/printable_text.hpp"
#include "platform/listening_sockets.hpp"
#include "platform/web_address.hpp"
#include "web/core/destinations.hpp"

extern char** environ;

namespace ticklark::app {

namespace {

using Clock = EndpointLauncher::Clock;

constexpr std::string_view kEndpointName = "ticklark-endpoint";
constexpr std::string_view kEndpointPrefix = "ticklark-endpoint: ";
constexpr std::string_view kListeningLine = "ticklark-endpoint: listening on ";
// How long an endpoint of the user's own may take to answer the probe.
constexpr auto kProbeTime = std::chrono::milliseconds(1500);
// How long a stopped endpoint may take to end before it is killed.
constexpr auto kStopTime = std::chrono::milliseconds(3000);

void Say(const std::string& text) {
  const std::string line = "ticklark2: " + text + "\n";
  [[maybe_unused]] const auto written = write(STDERR_FILENO, line.data(), line.size());
}

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, 60000));
}

// The IP addresses a connection to |host| may go to.
std::vector<std::string> AddressesOf(const EndpointAddress& address) {
  if (g_ascii_strcasecmp(address.host.c_str(), "localhost") == 0) {
    return {"127.0.0.1", "::1"};
  }
  return {address.host};
}

// The socket address of |ip| (an IP address as text) and |port|; false when
// |ip| is not an IP address.
bool SocketAddressOf(const std::string& ip, unsigned port, sockaddr_storage& storage,
                     socklen_t& length) {
  storage = {};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET, ip.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof *v4;
    return true;
  }
  if (inet_pton(AF_INET6, ip.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof *v6;
    return true;
  }
  return false;
}

// A listening socket on |ip| and |port|, or -1 with errno set.
int OpenListeningSocket(const std::string& ip, unsigned port) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (!SocketAddressOf(ip, port, storage, length)) {
    errno = EINVAL;
    return -1;
  }
  const int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return -1;
  }
  // Lets a program started again right after its last run bind while that
  // run's connections linger; never while another socket listens there.
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (storage.ss_family == AF_INET6) {
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
  }
  if (bind(fd, reinterpret_cast<const sockaddr*>(&storage), length) != 0 ||
      listen(fd, SOMAXCONN) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Writes |value| in decimal at |out| (room for 20 digits); async-signal-safe.
void WriteDecimal(char* out, unsigned long value) {
  char digits[24];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) {
    *out++ = digits[--count];
  }
  *out = '\0';
}

gboolean OnEndpointOutput(gint, GIOCondition, gpointer self) {
  return static_cast<EndpointLauncher*>(self)->RelayOutput() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void OnEndpointEnded(GPid, gint status, gpointer self) {
  static_cast<EndpointLauncher*>(self)->Ended(status);
}

gboolean OnRestartDue(gpointer self) {
  static_cast<EndpointLauncher*>(self)->Restart();
  return G_SOURCE_REMOVE;
}

std::string Seconds(std::chrono::milliseconds delay) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", static_cast<double>(delay.count()) / 1000.0);
  return text;
}

std::string ProgramPath() {
  gchar* target = g_file_read_link("/proc/self/exe", nullptr);
  std::string path = target ? target : "";
  g_free(target);
  return path;
}

std::string DescribeStatus(int status) {
  if (WIFEXITED(status)) {
    return "exit status " + std::to_string(WEXITSTATUS(status));
  }
  if (WIFSIGNALED(status)) {
    return std::string("signal ") + g_strsignal(WTERMSIG(status));
  }
  return "status " + std::to_string(status);
}

}  // namespace

bool EndpointAddress::IsLoopback() const {
  return platform::IsLoopbackHost(host);
}

std::string EndpointAddress::ListenText() const {
  if (g_ascii_strcasecmp(host.c_str(), "localhost") == 0) {
    return "127.0.0.1:" + std::to_string(port);
  }
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<EndpointAddress> ParseEndpointBase(std::string_view base) {
  const auto parts = platform::ParseEndpointBase(base);
  if (!parts) {
    return std::nullopt;
  }
  return EndpointAddress{parts->scheme, parts->host, static_cast<unsigned>(parts->port)};
}

std::string FindEndpointExecutable(const std::string& programPath, std::string& lookedAt) {
  gchar* folder = g_path_get_dirname(programPath.c_str());
  const std::string beside = std::string(folder) + "/" + std::string(kEndpointName);
  lookedAt = std::string(folder) + " and on PATH";
  g_free(folder);
  if (!programPath.empty() && g_file_test(beside.c_str(), G_FILE_TEST_IS_REGULAR) &&
      g_file_test(beside.c_str(), G_FILE_TEST_IS_EXECUTABLE)) {
    return beside;
  }
  gchar* onPath = g_find_program_in_path(std::string(kEndpointName).c_str());
  std::string found = onPath ? onPath : "";
  g_free(onPath);
  return found;
}

EndpointLauncher::EndpointLauncher(std::string base, std::string executable, RestartLimits limits)
    : m_base(std::move(base)),
      m_address(ParseEndpointBase(m_base)),
      m_executable(std::move(executable)),
      m_schedule(limits) {}

EndpointLauncher::~EndpointLauncher() {
  Stop();
}

EndpointOutcome EndpointLauncher::Prepare(Clock::time_point deadline) {
  if (!m_address || !m_address->IsLoopback()) {
    return m_outcome = EndpointOutcome::kNotLoopback;
  }
  if (FindsForeignListener()) {
    return m_outcome = EndpointOutcome::kForeign;
  }
  bool listened = false;
  const auto sockets = platform::ReadListeningSockets();
  for (const std::string& ip : AddressesOf(*m_address)) {
    listened = listened || !platform::ListenerOwners(sockets, ip, m_address->port).empty();
  }
  if (listened) {
    // Trusted, the user's own or the system's. If it is no endpoint, starting
    // one says why it cannot listen there.
    if (m_address->scheme == "https" ||
        AnswersAsEndpoint(std::min(deadline, Clock::now() + kProbeTime))) {
      return m_outcome = EndpointOutcome::kRunning;
    }
  }
  if (m_address->scheme != "http") {
    Say("nothing answers on " + m_base + " and ticklark-endpoint serves plain http only");
    return m_outcome = EndpointOutcome::kUnavailable;
  }
  return m_outcome = Start(deadline);
}

bool EndpointLauncher::FindsForeignListener() {
  const auto sockets = platform::ReadListeningSockets();
  const unsigned me = getuid();
  for (const std::string& ip : AddressesOf(*m_address)) {
    for (unsigned owner : platform::ListenerOwners(sockets, ip, m_address->port)) {
      if (owner != me && owner != 0) {
        m_foreignUid = owner;
        Say("another user's program (uid " + std::to_string(owner) + ") holds " +
            m_address->ListenText() +
            ", the endpoint's address; nothing is loaded from it. To use another address, "
            "start the program with --endpoint http://127.0.0.1:PORT");
        return true;
      }
    }
  }
  return false;
}

// Asks for the market strip's headers and looks for the endpoint's name.
bool EndpointLauncher::AnswersAsEndpoint(Clock::time_point deadline) const {
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (!SocketAddressOf(AddressesOf(*m_address).front(), m_address->port, storage, length)) {
    return false;
  }
  const int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  std::string reply;
  bool sent = false;
  pollfd wait{fd, POLLOUT, 0};
  if (connect(fd, reinterpret_cast<sockaddr*>(&storage), length) == 0 || errno == EINPROGRESS) {
    int error = 0;
    socklen_t size = sizeof error;
    if (poll(&wait, 1, MillisecondsLeft(deadline)) == 1 &&
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
      const std::string request = "HEAD " + std::string(web::kAdFramePath) +
                                  " HTTP/1.1\r\nHost: " + m_address->ListenText() +
                                  "\r\nConnection: close\r\n\r\n";
      sent = send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
             static_cast<ssize_t>(request.size());
    }
  }
  wait.events = POLLIN;
  while (sent && reply.find("\r\n\r\n") == std::string::npos && reply.size() < 8192 &&
         poll(&wait, 1, MillisecondsLeft(deadline)) == 1) {
    char buffer[2048];
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      break;
    }
    reply.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  gchar* lower = g_ascii_strdown(reply.c_str(), -1);
  const std::string headers = lower;
  g_free(lower);
  return headers.starts_with("http/1.1 200") &&
         headers.find("\r\nserver: ticklark-endpoint/") != std::string::npos;
}

EndpointOutcome EndpointLauncher::Start(Clock::time_point deadline) {
  std::string lookedAt = m_executable;
  m_found = m_executable.empty() ? FindEndpointExecutable(ProgramPath(), lookedAt) : m_executable;
  if (m_found.empty() || !g_file_test(m_found.c_str(), G_FILE_TEST_IS_EXECUTABLE)) {
    Say("no endpoint started for " + m_base + ": ticklark-endpoint was looked for in " + lookedAt +
        ", not found");
    return EndpointOutcome::kUnavailable;
  }
  m_listening = OpenListeningSocket(AddressesOf(*m_address).front(), m_address->port);
  if (m_listening < 0) {
    const int error = errno;
    if (FindsForeignListener()) {
      return EndpointOutcome::kForeign;
    }
    Say("cannot listen on " + m_address->ListenText() + ", the endpoint's address: " +
        g_strerror(error) + "; its pages show the engine's error page");
    return EndpointOutcome::kUnavailable;
  }
  std::string error;
  if (!Spawn(error)) {
    Say("cannot start " + m_found + ": " + error);
    CloseListening();
    return EndpointOutcome::kUnavailable;
  }

  bool listening = false;
  bool ended = false;
  while (!listening && !ended) {
    pollfd wait{m_output, POLLIN, 0};
    if (poll(&wait, 1, MillisecondsLeft(deadline)) <= 0) {
      break;  // not listening yet; it may still come up
    }
    ended = !ReadOutput(&listening);
  }
  if (ended && !listening) {
    CloseOutput();
    int status = 0;
    if (waitpid(m_pid, &status, 0) == m_pid) {
      m_pid = -1;
    }
    CloseListening();
    Say("the endpoint did not start (" + DescribeStatus(status) +
        "); its pages show the engine's error page");
    return EndpointOutcome::kUnavailable;
  }
  // One that listened and ended at once is started again as any other.
  WatchEnd();
  return EndpointOutcome::kStarted;
}

// Starts the endpoint on the program's listening socket, passed as systemd
// passes one: descriptor 3, LISTEN_FDS=1 and LISTEN_PID the endpoint's own
// process id, which only the child knows; it writes it into the environment
// prepared for it. Everything between fork and exec is async-signal-safe.
bool EndpointLauncher::Spawn(std::string& error) {
  int output[2] = {-1, -1};
  if (pipe2(output, O_CLOEXEC) != 0) {
    error = g_strerror(errno);
    return false;
  }
  std::vector<std::string> variables;
  for (char** variable = environ; variable && *variable; ++variable) {
    if (!std::string_view(*variable).starts_with("LISTEN_")) {
      variables.emplace_back(*variable);
    }
  }
  variables.emplace_back("LISTEN_FDS=1");
  variables.emplace_back("LISTEN_FDNAMES=ticklark2");
  variables.emplace_back("LISTEN_PID=" + std::string(24, '0'));
  char* pidDigits = variables.back().data() + std::string_view("LISTEN_PID=").size();
  std::vector<char*> envp;
  for (std::string& variable : variables) {
    envp.push_back(variable.data());
  }
  envp.push_back(nullptr);
  char* const argv[] = {m_found.data(), nullptr};
  const pid_t programPid = getpid();
  const int listening = m_listening;

  const pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // The kernel sends SIGTERM when the program's thread that started it
    // ends, so that it never outlives the program, even one that was killed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != programPid) {
      _exit(0);  // the program ended already
    }
    if (dup2(output[1], STDERR_FILENO) < 0 ||
        (listening == 3 ? fcntl(3, F_SETFD, 0) : dup2(listening, 3)) < 0) {
      _exit(127);
    }
    close_range(4, ~0U, 0);
    WriteDecimal(pidDigits, static_cast<unsigned long>(getpid()));
    execve(argv[0], argv, envp.data());
    _exit(127);
  }
  const int forkError = errno;
  close(output[1]);
  if (pid < 0) {
    close(output[0]);
    error = g_strerror(forkError);
    return false;
  }
  m_pid = pid;
  m_output = output[0];
  g_unix_set_fd_nonblocking(m_output, TRUE, nullptr);
  return true;
}

void EndpointLauncher::WatchEnd() {
  m_watch = g_unix_fd_add(m_output, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                          OnEndpointOutput, this);
  m_childWatch = g_child_watch_add(m_pid, OnEndpointEnded, this);
}

// Passes the endpoint's own messages on to standard error; its request log,
// one line per page, stays out of the program's.
bool EndpointLauncher::ReadOutput(bool* listening) {
  if (m_output < 0) {
    return false;
  }
  bool open = true;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(m_output, buffer, sizeof buffer);
    if (got > 0) {
      m_partial.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    open = got < 0 && (errno == EAGAIN || errno == EINTR);
    break;
  }
  std::size_t start = 0;
  for (std::size_t end = m_partial.find('\n'); end != std::string::npos;
       end = m_partial.find('\n', start)) {
    const std::string_view line(m_partial.data() + start, end - start);
    if (line.starts_with(kEndpointPrefix)) {
      // The endpoint escapes what it quotes; one that does not (another
      // version, a user's own) writes nothing raw here either.
      const std::string text = endpoint::EscapeControls(line) + "\n";
      [[maybe_unused]] const auto written = write(STDERR_FILENO, text.data(), text.size());
    }
    if (listening && line.starts_with(kListeningLine)) {
      *listening = true;
    }
    start = end + 1;
  }
  m_partial.erase(0, start);
  return open;
}

bool EndpointLauncher::RelayOutput() {
  if (ReadOutput(nullptr)) {
    return true;
  }
  m_watch = 0;
  CloseOutput();
  return false;  // the child watch hears of the end
}

void EndpointLauncher::Ended(int status) {
  m_childWatch = 0;
  m_pid = -1;
  ReadOutput(nullptr);
  CloseOutput();
  if (m_stopping || m_listening < 0) {
    return;
  }
  const auto now = Clock::now();
  const auto delay = m_schedule.Delay(now);
  const unsigned recent = m_schedule.RecentRestarts(now);
  std::string line = "the endpoint ended (" + DescribeStatus(status) + "); started again in " +
                     Seconds(delay) + " on the same socket";
  if (recent > 0) {
    line += " (" + std::to_string(recent) + " restarts in the last minute)";
  }
  Say(line);
  m_restartTimer = g_timeout_add(static_cast<guint>(delay.count()), OnRestartDue, this);
}

void EndpointLauncher::Restart() {
  m_restartTimer = 0;
  m_schedule.Restarted(Clock::now());
  ++m_restarts;
  std::string error;
  if (!Spawn(error)) {
    Say("cannot start " + m_found + " again: " + error);
    Ended(127 << 8);  // counted as an endpoint that ended at once
    return;
  }
  WatchEnd();
}

void EndpointLauncher::CloseOutput() {
  if (m_watch != 0) {
    g_source_remove(m_watch);
    m_watch = 0;
  }
  if (m_output >= 0) {
    close(m_output);
    m_output = -1;
  }
}

void EndpointLauncher::CloseListening() {
  if (m_listening >= 0) {
    close(m_listening);
    m_listening = -1;
  }
}

void EndpointLauncher::Stop() {
  m_stopping = true;
  if (m_restartTimer != 0) {
    g_source_remove(m_restartTimer);
    m_restartTimer = 0;
  }
  if (m_childWatch != 0) {
    // The process is reaped here, not by GLib.
    g_source_remove(m_childWatch);
    m_childWatch = 0;
  }
  if (m_pid > 0) {
    kill(m_pid, SIGTERM);
    const auto until = Clock::now() + kStopTime;
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(m_pid, &status, WNOHANG)) == 0 && Clock::now() < until) {
      ReadOutput(nullptr);  // a full pipe would hold it up
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, &status, 0);
    }
    m_pid = -1;
  }
  ReadOutput(nullptr);
  CloseOutput();
  CloseListening();
}

std::chrono::milliseconds RestartSchedule::Delay(Clock::time_point now) {
  const unsigned recent = RecentRestarts(now);
  auto delay = m_limits.firstDelay;
  for (unsigned i = 0; i < recent && delay < m_limits.longestDelay; ++i) {
    delay *= 2;
  }
  delay = std::min(delay, m_limits.longestDelay);
  if (recent >= m_limits.perWindow && !m_restarts.empty()) {
    // The oldest restart that must leave the window first.
    const auto leaves = m_restarts[recent - m_limits.perWindow] + m_limits.window;
    delay = std::max(delay, std::chrono::ceil<std::chrono::milliseconds>(leaves - now));
  }
  return delay;
}

void RestartSchedule::Restarted(Clock::time_point now) {
  m_restarts.push_back(now);
}

unsigned RestartSchedule::RecentRestarts(Clock::time_point now) {
  while (!m_restarts.empty() && m_restarts.front() + m_limits.window <= now) {
    m_restarts.pop_front();
  }
  return static_cast<unsigned>(m_restarts.size());
}

EndpointOwnerCheck::EndpointOwnerCheck(const EndpointLauncher& launcher, SocketTables tables)
    : m_launcher(launcher), m_tables(std::move(tables)) {}

bool EndpointOwnerCheck::MayLoad(const char* address) {
  const auto& endpoint = m_launcher.Address();
  const EndpointOutcome outcome = m_launcher.Outcome();
  if (!endpoint || outcome == EndpointOutcome::kNotLoopback) {
    return true;  // another machine's endpoint: not a question of local users
  }
  const auto parts = address ? platform::SplitAddress(address) : std::nullopt;
  if (!parts) {
    return true;
  }
  const bool web = parts->scheme == "http" || parts->scheme == "https";
  const EndpointAddress asked{parts->scheme, parts->host, static_cast<unsigned>(parts->port)};
  if (!web || asked.port != endpoint->port || !asked.IsLoopback()) {
    return true;  // not on the endpoint's port of this machine
  }
  if (outcome == EndpointOutcome::kForeign) {
    return false;
  }
  const std::vector<std::string> ips = AddressesOf(asked);
  if (m_launcher.HoldsAddress() && ips == AddressesOf(*endpoint) && ips.size() == 1) {
    return true;  // the program's own socket: nobody else can listen there
  }
  const auto sockets = m_tables();
  const unsigned me = getuid();
  for (const std::string& ip : ips) {
    for (const unsigned owner : platform::ListenerOwners(sockets, ip, endpoint->port)) {
      if (owner != me && owner != 0) {
        if (owner != m_namedUid) {
          m_namedUid = owner;
          Say("another user's program (uid " + std::to_string(owner) + ") now holds " +
              endpoint->ListenText() + ", the endpoint's address; nothing is loaded from it");
        }
        return false;
      }
    }
  }
  return true;
}

}  // namespace ticklark::app
