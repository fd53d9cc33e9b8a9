// SPDX-License-Identifier: MIT
#include "endpoint_harness.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <libsoup/soup.h>

extern char** environ;

namespace ticklark::endpoint::test {

namespace {

template <typename Condition>
bool PollUntil(Condition condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ticklark-ep.XXXXXX").string();
  m_path = mkdtemp(pattern.data()) ? pattern : std::string{};
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::Write(const std::string& name, std::string_view text) const {
  const std::filesystem::path path = std::filesystem::path(m_path) / name;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  return path.string();
}

EndpointProcess::~EndpointProcess() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
}

bool EndpointProcess::Start(const std::vector<std::string>& arguments,
                            const std::string& config_home, unsigned descriptor_limit) {
  m_log_path = m_scratch.path() + "/stderr.log";
  std::vector<std::string> argv_text;
  if (descriptor_limit != 0) {
    const std::string limit = std::to_string(descriptor_limit);
    argv_text = {"/usr/bin/prlimit", "--nofile=" + limit + ":" + limit, "--"};
  }
  argv_text.emplace_back(TICKLARK_ENDPOINT_BINARY);
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : argv_text) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);

  std::vector<std::string> env_text = {"XDG_CONFIG_HOME=" + config_home};
  for (char** entry = environ; *entry; ++entry) {
    if (!std::string_view(*entry).starts_with("XDG_CONFIG_HOME=")) {
      env_text.emplace_back(*entry);
    }
  }
  std::vector<char*> envp;
  for (auto& entry : env_text) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, m_log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    m_pid = -1;
    return false;
  }

  constexpr std::string_view kListening = "listening on http://127.0.0.1:";
  bool exited = false;
  PollUntil(
      [&] {
        const std::string log = Log();
        if (const auto at = log.find(kListening); at != std::string::npos) {
          m_port = static_cast<unsigned>(std::atoi(log.c_str() + at + kListening.size()));
          return true;
        }
        exited = waitpid(m_pid, &m_exited_status, WNOHANG) == m_pid;
        return exited;
      },
      std::chrono::seconds(10));
  if (exited) {
    m_pid = -1;
  }
  return m_port != 0;
}

std::string EndpointProcess::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(m_port);
}

std::string EndpointProcess::Log() const {
  std::ifstream file(m_log_path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool EndpointProcess::WaitForLog(std::string_view text, std::chrono::milliseconds timeout) const {
  return PollUntil([&] { return Log().find(text) != std::string::npos; }, timeout);
}

int EndpointProcess::Stop() {
  if (m_pid > 0) {
    kill(m_pid, SIGTERM);
  }
  return WaitForExit();
}

int EndpointProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (m_pid <= 0) {
    // Start() already saw it end.
    return ExitCode(m_exited_status);
  }
  int status = 0;
  const bool done = PollUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeout);
  if (!done) {
    return -1;
  }
  m_pid = -1;
  return ExitCode(status);
}

std::string HttpReply::Header(const std::string& lower_case_name) const {
  const auto found = headers.find(lower_case_name);
  return found == headers.end() ? std::string{} : found->second;
}

HttpReply Request(const std::string& method, const std::string& url) {
  HttpReply reply;
  SoupSession* session = soup_session_new_with_options("timeout", 10, nullptr);
  SoupMessage* message = soup_message_new(method.c_str(), url.c_str());
  soup_message_add_flags(message, SOUP_MESSAGE_NO_REDIRECT);
  GError* error = nullptr;
  GBytes* body = soup_session_send_and_read(session, message, nullptr, &error);
  if (body) {
    reply.status = soup_message_get_status(message);
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(body, &size));
    reply.body.assign(data ? data : "", size);
    g_bytes_unref(body);
    SoupMessageHeadersIter iter;
    soup_message_headers_iter_init(&iter, soup_message_get_response_headers(message));
    const char* name = nullptr;
    const char* value = nullptr;
    while (soup_message_headers_iter_next(&iter, &name, &value)) {
      std::string key = name;
      for (auto& c : key) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
      reply.headers[key] = value;
    }
  } else {
    reply.error = error ? error->message : "no reply";
    g_clear_error(&error);
  }
  g_object_unref(message);
  g_object_unref(session);
  return reply;
}

RawConnection::RawConnection(unsigned port) {
  m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Connecting waits 2 s at most: a server that no longer accepts leaves
  // connections in its queue, or drops them once the queue is full.
  bool connected = false;
  if (m_fd >= 0) {
    const int flags = fcntl(m_fd, F_GETFL);
    fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
    if (connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      connected = true;
    } else if (errno == EINPROGRESS) {
      pollfd ready{m_fd, POLLOUT, 0};
      int error = 0;
      socklen_t length = sizeof error;
      connected = poll(&ready, 1, 2000) == 1 &&
                  getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    fcntl(m_fd, F_SETFL, flags);
  }
  if (m_fd >= 0 && !connected) {
    close(m_fd);
    m_fd = -1;
  }
}

RawConnection::~RawConnection() {
  if (m_fd >= 0) {
    close(m_fd);
  }
}

bool RawConnection::Send(std::string_view bytes) {
  while (m_fd >= 0 && !bytes.empty()) {
    const ssize_t sent = send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) {
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return m_fd >= 0;
}

unsigned RawConnection::ReadAnswer(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string text;
  std::size_t wanted = std::string::npos;
  while (m_fd >= 0 && text.size() < wanted) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{m_fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) != 1) {
      return 0;
    }
    char buffer[4096];
    const ssize_t got = recv(m_fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      return 0;
    }
    text.append(buffer, static_cast<std::size_t>(got));
    const auto head_end = text.find("\r\n\r\n");
    if (wanted == std::string::npos && head_end != std::string::npos) {
      std::size_t length = 0;
      std::string lower = text.substr(0, head_end);
      for (auto& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
      if (const auto at = lower.find("\r\ncontent-length:"); at != std::string::npos) {
        length = std::strtoul(lower.c_str() + at + 17, nullptr, 10);
      }
      wanted = head_end + 4 + length;
    }
  }
  return text.starts_with("HTTP/1.") && text.size() > 12
             ? static_cast<unsigned>(std::atoi(text.c_str() + 9))
             : 0;
}

bool RawConnection::ClosedByServer() {
  // Whatever the server wrote last is read past, up to the end or a reset.
  char buffer[4096];
  while (m_fd >= 0) {
    const ssize_t got = recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
      return true;
    }
    if (got < 0) {
      return false;
    }
  }
  return false;
}

unsigned TimedGet(unsigned port, const std::string& path, std::chrono::microseconds& took) {
  const auto start = std::chrono::steady_clock::now();
  RawConnection connection(port);
  unsigned status = 0;
  if (connection.Send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")) {
    status = connection.ReadAnswer();
  }
  took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start);
  return status;
}

std::size_t OpenDescriptors(pid_t pid) {
  std::error_code ec;
  std::size_t count = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end;
       !ec && it != end; it.increment(ec)) {
    ++count;
  }
  return count;
}

namespace {

std::size_t StatusKiB(pid_t pid, std::string_view field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(field)) {
      return std::strtoul(line.c_str() + field.size(), nullptr, 10);
    }
  }
  return 0;
}

}  // namespace

std::size_t ResidentKiB(pid_t pid) {
  return StatusKiB(pid, "VmRSS:");
}

std::size_t PeakResidentKiB(pid_t pid) {
  return StatusKiB(pid, "VmHWM:");
}

bool AllowDescriptors(std::size_t wanted) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    return false;
  }
  if (limit.rlim_cur >= wanted) {
    return true;
  }
  if (limit.rlim_max < wanted) {
    return false;
  }
  limit.rlim_cur = wanted;
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

std::string SourceDir() {
  return TICKLARK_SOURCE_DIR_PATH;
}

}  // namespace ticklark::endpoint::test
