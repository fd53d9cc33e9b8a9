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
#include <cstring>
#include <thread>
#include <vector>

#include <gio/gio.h>
#include <glib-unix.h>
#include <glib.h>

#include "platform/listening_sockets.hpp"
#include "web/destinations.hpp"

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

// Runs in the endpoint's process between fork and exec: the kernel sends it
// SIGTERM when the program's thread that started it ends, so that it never
// outlives the program, even one that was killed.
void TieToProgram(gpointer programPid) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != *static_cast<const pid_t*>(programPid)) {
    _exit(0);  // the program ended already
  }
}

gboolean OnEndpointOutput(gint, GIOCondition, gpointer self) {
  return static_cast<EndpointLauncher*>(self)->RelayOutput() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
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
  if (g_ascii_strcasecmp(host.c_str(), "localhost") == 0) {
    return true;
  }
  GInetAddress* address = g_inet_address_new_from_string(host.c_str());
  const bool loopback = address && g_inet_address_get_is_loopback(address);
  if (address) {
    g_object_unref(address);
  }
  return loopback;
}

std::string EndpointAddress::ListenText() const {
  if (g_ascii_strcasecmp(host.c_str(), "localhost") == 0) {
    return "127.0.0.1:" + std::to_string(port);
  }
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<EndpointAddress> ParseEndpointBase(std::string_view base) {
  const std::string text(base);
  GUri* uri = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) {
    return std::nullopt;
  }
  EndpointAddress address;
  address.scheme = g_uri_get_scheme(uri) ? g_uri_get_scheme(uri) : "";
  address.host = g_uri_get_host(uri) ? g_uri_get_host(uri) : "";
  const std::string path = g_uri_get_path(uri) ? g_uri_get_path(uri) : "";
  const int port = g_uri_get_port(uri);
  const bool plain = !g_uri_get_userinfo(uri) && !g_uri_get_query(uri) &&
                     !g_uri_get_fragment(uri) && (path.empty() || path == "/");
  g_uri_unref(uri);
  for (char& c : address.scheme) {
    c = g_ascii_tolower(c);
  }
  const bool web = address.scheme == "http" || address.scheme == "https";
  if (!web || address.host.empty() || !plain || port == 0 || port > 65535 ||
      text.find_first_of(" \t\r\n") != std::string::npos) {
    return std::nullopt;
  }
  address.port = port > 0 ? static_cast<unsigned>(port) : (address.scheme == "https" ? 443u : 80u);
  return address;
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

EndpointLauncher::EndpointLauncher(std::string base, std::string executable)
    : m_base(std::move(base)),
      m_address(ParseEndpointBase(m_base)),
      m_executable(std::move(executable)) {}

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
  const std::string ip = AddressesOf(*m_address).front();
  sockaddr_storage storage{};
  socklen_t length = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET, ip.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(m_address->port));
    length = sizeof *v4;
  } else if (inet_pton(AF_INET6, ip.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(m_address->port));
    length = sizeof *v6;
  } else {
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
  const std::string executable =
      m_executable.empty() ? FindEndpointExecutable(ProgramPath(), lookedAt) : m_executable;
  if (executable.empty() || !g_file_test(executable.c_str(), G_FILE_TEST_IS_EXECUTABLE)) {
    Say("no endpoint started for " + m_base + ": ticklark-endpoint was looked for in " + lookedAt +
        ", not found");
    return EndpointOutcome::kUnavailable;
  }
  const std::string listen = m_address->ListenText();
  const gchar* argv[] = {executable.c_str(), "--listen", listen.c_str(), nullptr};
  pid_t programPid = getpid();
  GError* error = nullptr;
  GPid pid = -1;
  if (!g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(argv), nullptr,
                                G_SPAWN_DO_NOT_REAP_CHILD, TieToProgram, &programPid, &pid, nullptr,
                                nullptr, &m_output, &error)) {
    Say("cannot start " + executable + ": " + (error ? error->message : "unknown error"));
    g_clear_error(&error);
    return EndpointOutcome::kUnavailable;
  }
  m_pid = pid;
  g_unix_set_fd_nonblocking(m_output, TRUE, nullptr);

  bool listening = false;
  bool ended = false;
  while (!listening && !ended) {
    pollfd wait{m_output, POLLIN, 0};
    if (poll(&wait, 1, MillisecondsLeft(deadline)) <= 0) {
      break;  // not listening yet; it may still come up
    }
    ended = !ReadOutput(&listening);
  }
  if (ended) {
    CloseOutput();
    int status = 0;
    if (waitpid(m_pid, &status, 0) == m_pid) {
      m_pid = -1;
    }
    if (FindsForeignListener()) {
      return EndpointOutcome::kForeign;
    }
    Say("the endpoint did not start (" + DescribeStatus(status) +
        "); its pages show the engine's error page");
    return EndpointOutcome::kUnavailable;
  }
  m_watch = g_unix_fd_add(m_output, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                          OnEndpointOutput, this);
  return EndpointOutcome::kStarted;
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
      const std::string text = std::string(line) + "\n";
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
  int status = 0;
  if (m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == m_pid) {
    m_pid = -1;
    Say("the endpoint ended (" + DescribeStatus(status) + "); its pages no longer load");
  }
  return false;
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

void EndpointLauncher::Stop() {
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
}

}  // namespace ticklark::app
