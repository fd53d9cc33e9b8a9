// SPDX-License-Identifier: MIT
// ticklark-endpoint: the web endpoint that the program's endpoint pages live on.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <glib-unix.h>
#include <glib.h>
#include <systemd/sd-daemon.h>

#include "endpoint/command_line.hpp"
#include "endpoint/embedded_files.hpp"
#include "endpoint/endpoint_server.hpp"
#include "endpoint/printable_text.hpp"
#include "endpoint/redirect_source.hpp"
#include "platform/gobject_ptr.hpp"

namespace {

constexpr const char* kBuiltInTableName = "built-in redirects.conf";

// Messages quote file names and lines of a user's table: control characters
// in them are shown escaped, never written to the terminal or the journal.
void Say(std::string_view text) {
  std::string line = "ticklark-endpoint: ";
  line += ticklark::endpoint::EscapeControls(text);
  ticklark::endpoint::LogToStandardError(line);
}

// "http://ADDRESS:PORT/" of a listening socket, IPv6 in brackets.
std::string SocketAddressText(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  char text[INET6_ADDRSTRLEN] = "?";
  unsigned port = 0;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    if (address.ss_family == AF_INET6) {
      const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
      inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
      port = ntohs(v6->sin6_port);
      return "http://[" + std::string(text) + "]:" + std::to_string(port) + "/";
    }
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  }
  return "http://" + std::string(text) + ":" + std::to_string(port) + "/";
}

// Binds where the options say, or takes the socket that systemd passed
// (socket activation). Returns false after saying why.
bool StartListening(ticklark::endpoint::EndpointServer& server,
                    const ticklark::endpoint::Options& options, std::string& where) {
  std::string error;
  char** names = nullptr;
  const int passed = sd_listen_fds_with_names(1, &names);
  // The program names the socket it passes (LISTEN_FDNAMES); systemd's
  // sockets are unnamed unless a unit names them.
  const bool fromProgram =
      passed == 1 && names && names[0] && std::string_view(names[0]) == "ticklark2";
  if (names) {
    for (int i = 0; names[i]; ++i) {
      free(names[i]);
    }
    free(names);
  }
  if (passed < 0) {
    Say(std::string("cannot take the sockets passed by systemd: ") + g_strerror(-passed));
    return false;
  }
  if (passed > 1) {
    Say("systemd passed " + std::to_string(passed) + " sockets; the endpoint serves one");
    return false;
  }
  if (passed == 1) {
    const int fd = SD_LISTEN_FDS_START;
    if (sd_is_socket(fd, AF_UNSPEC, SOCK_STREAM, 1) <= 0) {
      Say("the socket passed by systemd is not a listening stream socket");
      return false;
    }
    if (!server.ListenOnSocket(fd, error)) {
      Say("cannot serve the socket passed by systemd: " + error);
      return false;
    }
    if (options.listenGiven) {
      Say("--listen is not used: systemd passed a socket");
    }
    where = SocketAddressText(fd) +
            (fromProgram ? " (socket from ticklark2)" : " (socket from systemd)");
    return true;
  }
  if (!server.Listen(options.host, options.port, error)) {
    Say("cannot listen on " + options.host + ":" + std::to_string(options.port) + ": " + error);
    return false;
  }
  const bool v6 = options.host.find(':') != std::string::npos;
  const std::string host = v6 ? "[" + options.host + "]" : options.host;
  where = "http://" + host + ":" + std::to_string(server.Port()) + "/";
  return true;
}

gboolean OnStopSignal(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_CONTINUE;
}

int Run(const ticklark::endpoint::Options& options) {
  using namespace ticklark::endpoint;
  const bool fileGiven = options.redirects.has_value();
  RedirectSource source(std::string(DefaultRedirects()), kBuiltInTableName,
                        fileGiven ? *options.redirects : UserTablePath(), fileGiven);
  if (const auto errors = source.Load(); !errors.empty()) {
    for (const auto& problem : errors) {
      Say(problem.ToString());
    }
    Say("not started: the redirect table has errors");
    return 1;
  }

  EndpointServer server(source.Table(), AdFramePage(), LogToStandardError);
  std::string where;
  if (!StartListening(server, options, where)) {
    return 1;
  }
  Say("listening on " + where + " with redirects " + kBuiltInTableName + " + " + source.Path());
  std::string error;
  if (!source.Watch([&server](auto table) { server.SetTable(std::move(table)); }, Say, error)) {
    Say("cannot watch " + source.Path() + " (" + error + "); changes need a restart");
  }

  {
    const ticklark::platform::CPtr<GMainLoop, g_main_loop_unref> loop(
        g_main_loop_new(nullptr, FALSE));
    ticklark::platform::SourceId interrupt;
    ticklark::platform::SourceId terminate;
    interrupt.Reset(g_unix_signal_add(SIGINT, OnStopSignal, loop.get()));
    terminate.Reset(g_unix_signal_add(SIGTERM, OnStopSignal, loop.get()));
    g_main_loop_run(loop.get());
  }
  Say("stopped");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  g_set_prgname("ticklark-endpoint");
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const auto parsed = ticklark::endpoint::ParseCommandLine(arguments);
  if (!parsed.Ok()) {
    Say(parsed.error + " (see --help)");
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(ticklark::endpoint::Usage().c_str(), stdout);
    return 0;
  }
  if (parsed.options.version) {
    std::fputs(ticklark::endpoint::VersionText().c_str(), stdout);
    return 0;
  }
  return Run(parsed.options);
}
