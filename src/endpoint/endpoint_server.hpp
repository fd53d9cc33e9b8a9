// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <libsoup/soup.h>

#include "endpoint/connection_table.hpp"
#include "endpoint/redirect_table.hpp"
#include "platform/gobject_ptr.hpp"

namespace ticklark::endpoint {

class ConnectionGuard;

// The HTTP side of the endpoint: a SoupServer on the thread's default main
// context that answers through Route() and writes one log line per request.
// The server accepts its connections itself and holds each to the limits in
// |limits| (see ConnectionLimits).
class EndpointServer {
 public:
  using LogSink = std::function<void(std::string_view line)>;

  // |adFramePage| must outlive the server (the embedded page does).
  EndpointServer(std::shared_ptr<const RedirectTable> table, std::string_view adFramePage,
                 LogSink log, ConnectionLimits limits = {});
  ~EndpointServer();
  EndpointServer(const EndpointServer&) = delete;
  EndpointServer& operator=(const EndpointServer&) = delete;

  // Listens on |host| (an IP address) and |port| (0: any free port), then
  // serves as Serve() does. On failure returns false and says why in |error|.
  bool Listen(const std::string& host, unsigned port, std::string& error);
  // Serves the connections that arrive on |listening|: a bound stream socket
  // that listens already, made by Listen() or handed over by whoever started
  // the endpoint. The server keeps a reference and closes it when it goes.
  // Once only; on failure returns false and says why in |error|.
  bool Serve(GSocket* listening, std::string& error);
  // Serves the listening socket |fd|, one that systemd passed (socket
  // activation), as Serve() does.
  bool ListenOnSocket(int fd, std::string& error);
  // The port served, once serving.
  unsigned Port() const { return m_port; }
  // Connections open now, and how many may be open at once (the limit, or
  // fewer when the process may not open enough descriptors).
  std::size_t ConnectionCount() const;
  std::size_t ConnectionCap() const;

  // Requests from now on are answered from |table|.
  void SetTable(std::shared_ptr<const RedirectTable> table);

  // Answers one request; called by libsoup.
  void Handle(SoupServerMessage* message);
  // Refuses a request whose headers announce a body (see JudgeBody) before
  // any of it is read; called by libsoup once the headers are in.
  void CheckBody(SoupServerMessage* message);
  // Writes the log line of a finished request; called by libsoup.
  void LogFinished(SoupServerMessage* message, bool aborted);

 private:
  platform::GObjectPtr<SoupServer> m_server;
  std::shared_ptr<const RedirectTable> m_table;
  std::string_view m_adFramePage;
  LogSink m_log;
  unsigned m_port = 0;
  std::unique_ptr<ConnectionGuard> m_guard;
  platform::SignalHandlers m_handlers;
};

// Writes |line| and a newline to standard error in one write.
void LogToStandardError(std::string_view line);

}  // namespace ticklark::endpoint
