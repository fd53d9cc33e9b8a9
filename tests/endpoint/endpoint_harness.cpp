// SPDX-License-Identifier: MIT
#include "endpoint_harness.hpp"

#include <spawn.h>
#include <sys/wait.h>

#include <cctype>
#include <csignal>
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
                            const std::string& config_home) {
  m_log_path = m_scratch.path() + "/stderr.log";
  std::vector<std::string> argv_text = {TICKLARK_ENDPOINT_BINARY};
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

std::string SourceDir() {
  return TICKLARK_SOURCE_DIR_PATH;
}

}  // namespace ticklark::endpoint::test
