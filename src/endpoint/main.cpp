// SPDX-License-Identifier: MIT
// ticklark-endpoint: the web endpoint that the program's endpoint pages live on.
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <glib-unix.h>
#include <glib.h>

#include "endpoint/command_line.hpp"
#include "endpoint/embedded_files.hpp"
#include "endpoint/endpoint_server.hpp"
#include "endpoint/redirect_source.hpp"
#include "platform/gobject_ptr.hpp"

namespace {

constexpr const char* kBuiltInTableName = "built-in redirects.conf";

void Say(std::string_view text) {
  std::string line = "ticklark-endpoint: ";
  line += text;
  ticklark::endpoint::LogToStandardError(line);
}

gboolean OnStopSignal(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_CONTINUE;
}

int Run(const ticklark::endpoint::Options& options) {
  using namespace ticklark::endpoint;
  const bool file_given = options.redirects.has_value();
  RedirectSource source(std::string(DefaultRedirects()), kBuiltInTableName,
                        file_given ? *options.redirects : UserTablePath(), file_given);
  if (const auto errors = source.Load(); !errors.empty()) {
    for (const auto& problem : errors) {
      Say(problem.ToString());
    }
    Say("not started: the redirect table has errors");
    return 1;
  }

  EndpointServer server(source.table(), AdFramePage(), LogToStandardError);
  std::string error;
  if (!server.Listen(options.host, options.port, error)) {
    Say("cannot listen on " + options.host + ":" + std::to_string(options.port) + ": " + error);
    return 1;
  }
  const bool v6 = options.host.find(':') != std::string::npos;
  const std::string host = v6 ? "[" + options.host + "]" : options.host;
  Say("listening on http://" + host + ":" + std::to_string(server.port()) + "/ with redirects " +
      kBuiltInTableName + " + " + source.path());
  if (!source.Watch([&server](auto table) { server.SetTable(std::move(table)); }, Say, error)) {
    Say("cannot watch " + source.path() + " (" + error + "); changes need a restart");
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
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const auto parsed = ticklark::endpoint::ParseCommandLine(arguments);
  if (!parsed.ok()) {
    Say(parsed.error + " (see --help)");
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(ticklark::endpoint::Usage().c_str(), stdout);
    return 0;
  }
  return Run(parsed.options);
}
