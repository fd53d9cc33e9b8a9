// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <libsoup/soup.h>

#include "endpoint/redirect_table.hpp"

namespace ticklark::endpoint {

// The HTTP side of the endpoint: a SoupServer on the thread's default main
// context that answers through Route() and writes one log line per request.
class EndpointServer {
 public:
  using LogSink = std::function<void(std::string_view line)>;

  // |ad_frame_page| must outlive the server (the embedded page does).
  EndpointServer(std::shared_ptr<const RedirectTable> table, std::string_view ad_frame_page,
                 LogSink log);
  ~EndpointServer();
  EndpointServer(const EndpointServer&) = delete;
  EndpointServer& operator=(const EndpointServer&) = delete;

  // Listens on |host| (an IP address) and |port| (0: any free port). On
  // failure returns false and says why in |error|.
  bool Listen(const std::string& host, unsigned port, std::string& error);
  // Serves the listening socket |fd|, one that systemd passed (socket
  // activation). On failure returns false and says why in |error|.
  bool ListenOnSocket(int fd, std::string& error);
  // The port listened on, once Listen() succeeded.
  unsigned port() const { return m_port; }

  // Requests from now on are answered from |table|.
  void SetTable(std::shared_ptr<const RedirectTable> table);

  // Answers one request; called by libsoup.
  void Handle(SoupServerMessage* message);
  // Writes the log line of a finished request; called by libsoup.
  void LogFinished(SoupServerMessage* message, bool aborted);

 private:
  SoupServer* m_server = nullptr;
  std::shared_ptr<const RedirectTable> m_table;
  std::string_view m_ad_frame_page;
  LogSink m_log;
  unsigned m_port = 0;
  gulong m_started_handler = 0;
  gulong m_finished_handler = 0;
  gulong m_aborted_handler = 0;
};

// Writes |line| and a newline to standard error in one write.
void LogToStandardError(std::string_view line);

}  // namespace ticklark::endpoint
