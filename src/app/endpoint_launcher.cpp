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
#include <vector>

#include <gio/gio.h>
#include <glib.h>

#include "endpoint/printable_text.hpp"
#include "platform/gobject_ptr.hpp"
#include "platform/listening_sockets.hpp"
#include "platform/web_address.hpp"
#include "web/core/destinations.hpp"

namespace ticklark::app {

namespace {

using Clock = EndpointLauncher::Clock;
using platform::Adopt;
using platform::GCharPtr;
using platform::GErrorPtr;
using platform::Out;

constexpr std::string_view kEndpointName = "ticklark-endpoint";
constexpr std::string_view kEndpointPrefix = "ticklark-endpoint: ";
constexpr std::string_view kListeningLine = "ticklark-endpoint: listening on ";
// How long an endpoint of the user's own may take to answer the probe.
constexpr auto kProbeTime = std::chrono::milliseconds(1500);
// How long a stopped endpoint may take to end before it is killed.
constexpr auto kStopTime = std::chrono::milliseconds(3000);
// How long the output of an ended endpoint may stay open, held by a process
// it left behind, before the endpoint is taken for ended all the same.
constexpr auto kOutputEndTime = std::chrono::milliseconds(500);

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

// What the endpoint's process does between fork and exec; async-signal-safe.
struct ChildSetup {
  pid_t programPid;
  char* pidDigits;  // LISTEN_PID's value in the environment prepared for it
};

void SetUpEndpointProcess(gpointer data) {
  const auto* setup = static_cast<const ChildSetup*>(data);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // The kernel sends SIGTERM when the program's thread that started it
  // ends, so that it never outlives the program, even one that was killed.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != setup->programPid) {
    _exit(0);  // the program ended already
  }
  WriteDecimal(setup->pidDigits, static_cast<unsigned long>(getpid()));
}

bool Cancelled(const GErrorPtr& error) {
  return g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

// The endpoint's reads run on the launcher's own context, which only the
// launcher runs: the launcher is there whenever they finish.
void OnEndpointLine(GObject* stream, GAsyncResult* result, gpointer self) {
  gsize length = 0;
  GErrorPtr error;
  const GCharPtr line(g_data_input_stream_read_line_finish(G_DATA_INPUT_STREAM(stream), result,
                                                           &length, Out(error)));
  static_cast<EndpointLauncher*>(self)->LineRead(line.get(), length, Cancelled(error));
}

gboolean OnEndpointOutput(GObject*, gpointer self) {
  return static_cast<EndpointLauncher*>(self)->OutputReady() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

// The wait for the end runs on the program's main context, where it may
// finish after its launcher has gone: a launcher cancels it before it goes.
void OnEndpointEnded(GObject* process, GAsyncResult* result, gpointer self) {
  GErrorPtr error;
  g_subprocess_wait_finish(G_SUBPROCESS(process), result, Out(error));
  if (!Cancelled(error)) {
    static_cast<EndpointLauncher*>(self)->Exited(g_subprocess_get_status(G_SUBPROCESS(process)));
  }
}

gboolean OnOutputOverdue(gpointer self) {
  static_cast<EndpointLauncher*>(self)->OutputOverdue();
  return G_SOURCE_REMOVE;
}

gboolean OnRestartDue(gpointer self) {
  static_cast<EndpointLauncher*>(self)->Restart();
  return G_SOURCE_REMOVE;
}

// A wait run on the launcher's own context, for the endpoint to listen or to end.
struct Waiting {
  bool over = false;   // its deadline has passed
  bool ended = false;  // the process has ended
};

gboolean OnWaitOver(gpointer waiting) {
  static_cast<Waiting*>(waiting)->over = true;
  return G_SOURCE_REMOVE;
}

void OnEndpointEndedWhileWaited(GObject* process, GAsyncResult* result, gpointer waiting) {
  g_subprocess_wait_finish(G_SUBPROCESS(process), result, nullptr);
  static_cast<Waiting*>(waiting)->ended = true;
}

// A timer on |context| that sets |waiting|'s over at |deadline|.
platform::AttachedSource WaitUntil(Clock::time_point deadline, GMainContext* context,
                                   Waiting& waiting) {
  platform::AttachedSource timer(
      g_timeout_source_new(static_cast<guint>(MillisecondsLeft(deadline))));
  g_source_set_callback(timer.get(), OnWaitOver, &waiting, nullptr);
  g_source_attach(timer.get(), context);
  return timer;
}

// Makes a context the thread's default for as long as it is held, so that
// what is started meanwhile finishes there.
class ContextInUse {
 public:
  explicit ContextInUse(GMainContext* context) : m_context(context) {
    g_main_context_push_thread_default(m_context);
  }
  ~ContextInUse() { g_main_context_pop_thread_default(m_context); }
  ContextInUse(const ContextInUse&) = delete;
  ContextInUse& operator=(const ContextInUse&) = delete;

 private:
  GMainContext* m_context;
};

std::string Seconds(std::chrono::milliseconds delay) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", static_cast<double>(delay.count()) / 1000.0);
  return text;
}

std::string ProgramPath() {
  const GCharPtr target(g_file_read_link("/proc/self/exe", nullptr));
  return target ? target.get() : "";
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
  const GCharPtr folder(g_path_get_dirname(programPath.c_str()));
  const std::string beside = std::string(folder.get()) + "/" + std::string(kEndpointName);
  lookedAt = std::string(folder.get()) + " and on PATH";
  if (!programPath.empty() && g_file_test(beside.c_str(), G_FILE_TEST_IS_REGULAR) &&
      g_file_test(beside.c_str(), G_FILE_TEST_IS_EXECUTABLE)) {
    return beside;
  }
  const GCharPtr onPath(g_find_program_in_path(std::string(kEndpointName).c_str()));
  return onPath ? onPath.get() : "";
}

EndpointLauncher::EndpointLauncher(std::string base, std::string executable, RestartLimits limits)
    : m_base(std::move(base)),
      m_address(ParseEndpointBase(m_base)),
      m_executable(std::move(executable)),
      m_context(g_main_context_new()),
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
  const GCharPtr lower(g_ascii_strdown(reply.c_str(), -1));
  const std::string_view headers = lower.get();
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

  AwaitListening(deadline);  // when it is not listening yet, it may still come up
  if (m_outputEnded && !m_listeningSaid) {
    g_subprocess_wait(m_process.get(), nullptr, nullptr);
    const int status = g_subprocess_get_status(m_process.get());
    EndRun();
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
// prepared for it, which it is given as it is.
bool EndpointLauncher::Spawn(std::string& error) {
  const platform::GObjectPtr<GSubprocessLauncher> launcher =
      Adopt(g_subprocess_launcher_new(static_cast<GSubprocessFlags>(
          G_SUBPROCESS_FLAGS_STDIN_INHERIT | G_SUBPROCESS_FLAGS_STDERR_PIPE)));
  const platform::GStrvPtr environment(g_get_environ());
  for (char** variable = environment.get(); *variable; ++variable) {
    const std::string_view text(*variable);
    if (text.starts_with("LISTEN_")) {
      g_subprocess_launcher_unsetenv(launcher.get(),
                                     std::string(text.substr(0, text.find('='))).c_str());
    }
  }
  g_subprocess_launcher_setenv(launcher.get(), "LISTEN_FDS", "1", TRUE);
  g_subprocess_launcher_setenv(launcher.get(), "LISTEN_FDNAMES", "ticklark2", TRUE);
  g_subprocess_launcher_setenv(launcher.get(), "LISTEN_PID", std::string(24, '0').c_str(), TRUE);
  ChildSetup setup{getpid(),
                   const_cast<char*>(g_subprocess_launcher_getenv(launcher.get(), "LISTEN_PID"))};
  g_subprocess_launcher_set_child_setup(launcher.get(), SetUpEndpointProcess, &setup, nullptr);
  // The launcher closes its copy of the socket when it goes; the program keeps its own.
  const int socket = fcntl(m_listening, F_DUPFD_CLOEXEC, 3);
  if (socket < 0) {
    error = g_strerror(errno);
    return false;
  }
  g_subprocess_launcher_take_fd(launcher.get(), socket, 3);

  const char* const argv[] = {m_found.c_str(), nullptr};
  GErrorPtr failure;
  m_process = Adopt(g_subprocess_launcher_spawnv(launcher.get(), argv, Out(failure)));
  if (!m_process) {
    error = failure ? failure->message : "not started";
    return false;
  }
  const char* pid = g_subprocess_get_identifier(m_process.get());
  m_pid = pid ? static_cast<pid_t>(g_ascii_strtoll(pid, nullptr, 10)) : -1;
  m_output = Adopt(g_data_input_stream_new(g_subprocess_get_stderr_pipe(m_process.get())));
  g_data_input_stream_set_newline_type(m_output.get(), G_DATA_STREAM_NEWLINE_TYPE_LF);
  m_cancel = Adopt(g_cancellable_new());
  m_listeningSaid = false;
  m_outputEnded = false;
  m_exited = false;
  const ContextInUse reading(m_context.get());
  ReadLine();
  return true;
}

void EndpointLauncher::ReadLine() {
  m_reading = true;
  g_data_input_stream_read_line_async(m_output.get(), G_PRIORITY_DEFAULT, m_cancel.get(),
                                      OnEndpointLine, this);
}

// Passes the endpoint's own messages on to standard error; its request log,
// one line per page, stays out of the program's.
void EndpointLauncher::LineRead(const char* line, std::size_t length, bool cancelled) {
  m_reading = false;
  if (cancelled) {
    return;
  }
  if (!line) {
    m_outputEnded = true;
    return;
  }
  const std::string_view text(line, length);
  if (text.starts_with(kEndpointPrefix)) {
    // The endpoint escapes what it quotes; one that does not (another
    // version, a user's own) writes nothing raw here either.
    const std::string escaped = endpoint::EscapeControls(text) + "\n";
    [[maybe_unused]] const auto written = write(STDERR_FILENO, escaped.data(), escaped.size());
  }
  m_listeningSaid = m_listeningSaid || text.starts_with(kListeningLine);
  ReadLine();
}

// Runs the launcher's context until the endpoint says it listens, its output
// ends or |deadline| passes.
void EndpointLauncher::AwaitListening(Clock::time_point deadline) {
  Waiting waiting;
  const auto timer = WaitUntil(deadline, m_context.get(), waiting);
  const ContextInUse reading(m_context.get());
  while (!m_listeningSaid && !m_outputEnded && !waiting.over) {
    g_main_context_iteration(m_context.get(), TRUE);
  }
}

// Runs the launcher's context, passing on what the endpoint says, until its
// process ends or |deadline| passes. True when it ended.
bool EndpointLauncher::AwaitExit(Clock::time_point deadline) {
  Waiting waiting;
  const auto timer = WaitUntil(deadline, m_context.get(), waiting);
  const ContextInUse reading(m_context.get());
  g_subprocess_wait_async(m_process.get(), nullptr, OnEndpointEndedWhileWaited, &waiting);
  while (!waiting.ended && !waiting.over) {
    g_main_context_iteration(m_context.get(), TRUE);
  }
  if (!waiting.ended) {
    g_subprocess_force_exit(m_process.get());
    while (!waiting.ended) {  // |waiting| is the wait's until it has finished
      g_main_context_iteration(m_context.get(), TRUE);
    }
    return false;
  }
  return true;
}

// Reads what the endpoint has written so far, without waiting for more.
void EndpointLauncher::ReadWhatIsThere() {
  const ContextInUse reading(m_context.get());
  while (g_main_context_iteration(m_context.get(), FALSE)) {
  }
}

void EndpointLauncher::WatchEnd() {
  g_subprocess_wait_async(m_process.get(), m_cancel.get(), OnEndpointEnded, this);
  if (!m_outputEnded) {
    m_outputWatch.reset(g_pollable_input_stream_create_source(
        G_POLLABLE_INPUT_STREAM(g_subprocess_get_stderr_pipe(m_process.get())), nullptr));
    g_source_set_callback(m_outputWatch.get(), G_SOURCE_FUNC(OnEndpointOutput), this, nullptr);
    g_source_attach(m_outputWatch.get(), nullptr);
  }
}

bool EndpointLauncher::OutputReady() {
  ReadWhatIsThere();
  if (!m_outputEnded) {
    return true;
  }
  if (m_exited) {
    Ended(m_status);
  }
  return false;
}

void EndpointLauncher::Exited(int status) {
  m_pid = -1;
  m_exited = true;
  m_status = status;
  ReadWhatIsThere();
  if (m_outputEnded) {
    Ended(status);
  } else {
    m_outputOverdue.Reset(
        g_timeout_add(static_cast<guint>(kOutputEndTime.count()), OnOutputOverdue, this));
  }
}

void EndpointLauncher::OutputOverdue() {
  m_outputOverdue.Forget();
  Ended(m_status);
}

void EndpointLauncher::Ended(int status) {
  EndRun();
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
  m_restartTimer.Reset(g_timeout_add(static_cast<guint>(delay.count()), OnRestartDue, this));
}

void EndpointLauncher::Restart() {
  m_restartTimer.Forget();
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

// Lets go of the endpoint's process and output, once it has ended or is left
// to end by itself; its wait on the program's context finishes as cancelled.
void EndpointLauncher::EndRun() {
  m_outputWatch.reset();
  m_outputOverdue.Reset();
  if (m_cancel) {
    g_cancellable_cancel(m_cancel.get());
  }
  if (m_reading) {
    const ContextInUse reading(m_context.get());
    while (m_reading) {
      g_main_context_iteration(m_context.get(), TRUE);
    }
  }
  m_output.reset();
  m_process.reset();
  m_cancel.reset();
  m_pid = -1;
}

void EndpointLauncher::CloseListening() {
  if (m_listening >= 0) {
    close(m_listening);
    m_listening = -1;
  }
}

void EndpointLauncher::Stop() {
  m_stopping = true;
  m_restartTimer.Reset();
  if (m_process && !m_exited) {
    g_subprocess_send_signal(m_process.get(), SIGTERM);
    AwaitExit(Clock::now() + kStopTime);
  }
  if (m_process) {
    ReadWhatIsThere();
  }
  EndRun();
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
