// SPDX-License-Identifier: MIT
#include "endpoint/endpoint_server.hpp"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <utility>

#include <gio/gio.h>

#include "endpoint/connection_guard.hpp"
#include "endpoint/request_framing.hpp"
#include "endpoint/router.hpp"
#include "platform/gobject_ptr.hpp"
#include "ticklark/version.hpp"

namespace ticklark::endpoint {

namespace {

// "ticklark-endpoint/<version>": how a client (the run script among them) tells
// this endpoint from any other server on the port.
std::string ServerHeader() {
  return "ticklark-endpoint/" + std::to_string(kVersionMajor) + '.' +
         std::to_string(kVersionMinor) + '.' + std::to_string(kVersionRevision);
}

GQuark StartTimeQuark() {
  static const GQuark quark = g_quark_from_static_string("ticklark-endpoint-start-time");
  return quark;
}

void OnRequest(SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer self) {
  try {
    static_cast<EndpointServer*>(self)->Handle(message);
  } catch (...) {
    soup_server_message_set_status(message, SOUP_STATUS_INTERNAL_SERVER_ERROR, nullptr);
  }
}

void OnGotHeaders(SoupServerMessage* message, gpointer self) {
  try {
    static_cast<EndpointServer*>(self)->CheckBody(message);
  } catch (...) {
    soup_server_message_set_status(message, SOUP_STATUS_INTERNAL_SERVER_ERROR, nullptr);
  }
}

void OnRequestStarted(SoupServer*, SoupServerMessage* message, gpointer self) {
  auto* start = g_new(gint64, 1);
  *start = g_get_monotonic_time();
  g_object_set_qdata_full(G_OBJECT(message), StartTimeQuark(), start, g_free);
  // Heard before libsoup reads any of the body: the handler connected here
  // goes with the message.
  g_signal_connect(message, "got-headers", G_CALLBACK(OnGotHeaders), self);
}

RequestFraming FramingOf(SoupServerMessage* message) {
  RequestFraming framing;
  const char* method = soup_server_message_get_method(message);
  framing.method = method ? method : "";
  SoupMessageHeadersIter iter;
  soup_message_headers_iter_init(&iter, soup_server_message_get_request_headers(message));
  const char* name = nullptr;
  const char* value = nullptr;
  while (soup_message_headers_iter_next(&iter, &name, &value)) {
    if (g_ascii_strcasecmp(name, "Content-Length") == 0) {
      AppendContentLengths(value, framing.contentLengths);
    } else if (g_ascii_strcasecmp(name, "Transfer-Encoding") == 0) {
      framing.transferEncoding = true;
    }
  }
  return framing;
}

// The whole answer to a refused request: no body, and the connection ends.
std::string RefusalText(unsigned status) {
  const char* reason = status == 413 ? "Content Too Large" : "Bad Request";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nServer: " + ServerHeader() +
         "\r\nContent-Length: 0\r\nConnection: close\r\nReferrer-Policy: no-referrer\r\n\r\n";
}

void LogFinishedSafely(gpointer self, SoupServerMessage* message, bool aborted) {
  try {
    static_cast<EndpointServer*>(self)->LogFinished(message, aborted);
  } catch (...) {
    // A log line that cannot be made is dropped; the answer has gone out.
  }
}

void OnRequestFinished(SoupServer*, SoupServerMessage* message, gpointer self) {
  LogFinishedSafely(self, message, false);
}

void OnRequestAborted(SoupServer*, SoupServerMessage* message, gpointer self) {
  LogFinishedSafely(self, message, true);
}

// Request text in a log line: printable ASCII as it is, the rest as \xNN, so
// that a request cannot forge or break log lines.
void AppendPrintable(std::string& line, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7f && c != '\\') {
      line += c;
    } else {
      line += "\\x";
      line += kHex[byte >> 4];
      line += kHex[byte & 0xf];
    }
  }
}

// A flood of connections waits in the kernel's queue rather than being turned
// away before the server has had a turn to accept them.
constexpr int kListenBacklog = SOMAXCONN;

std::string NowUtc() {
  const platform::CPtr<GDateTime, g_date_time_unref> now(g_date_time_new_now_utc());
  const platform::GCharPtr text(g_date_time_format(now.get(), "%Y-%m-%dT%H:%M:%S.%fZ"));
  return text ? text.get() : "";
}

}  // namespace

void LogToStandardError(std::string_view line) {
  std::string text(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
}

EndpointServer::EndpointServer(std::shared_ptr<const RedirectTable> table,
                               std::string_view adFramePage, LogSink log, ConnectionLimits limits)
    : m_server(soup_server_new("server-header", ServerHeader().c_str(), nullptr)),
      m_table(std::move(table)),
      m_adFramePage(adFramePage),
      m_log(std::move(log)),
      m_guard(std::make_unique<ConnectionGuard>(m_server.get(), limits, m_log)),
      m_handlers(m_server.get()) {
  soup_server_add_handler(m_server.get(), nullptr, OnRequest, this, nullptr);
  m_handlers.Connect("request-started", G_CALLBACK(OnRequestStarted), this);
  m_handlers.Connect("request-finished", G_CALLBACK(OnRequestFinished), this);
  m_handlers.Connect("request-aborted", G_CALLBACK(OnRequestAborted), this);
}

EndpointServer::~EndpointServer() {
  m_handlers.DisconnectAll();
  soup_server_remove_handler(m_server.get(), nullptr);
  m_guard->StopAccepting();
  // Closes every connection (the guard hears of each) and the keep-alive listener.
  soup_server_disconnect(m_server.get());
  m_guard.reset();
  m_server.reset();
}

bool EndpointServer::Listen(const std::string& host, unsigned port, std::string& error) {
  const auto address = platform::Adopt(g_inet_address_new_from_string(host.c_str()));
  if (!address) {
    error = "'" + host + "' is not an IP address";
    return false;
  }
  const GSocketFamily family = g_inet_address_get_family(address.get());
  const auto socketAddress =
      platform::Adopt(g_inet_socket_address_new(address.get(), static_cast<guint16>(port)));
  platform::GErrorPtr failure;
  const auto listening = platform::Adopt(g_socket_new(
      family, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_DEFAULT, platform::Out(failure)));
  bool listened = listening != nullptr;
  if (listened) {
    if (family == G_SOCKET_FAMILY_IPV6) {
      g_socket_set_option(listening.get(), IPPROTO_IPV6, IPV6_V6ONLY, TRUE, nullptr);
    }
    g_socket_set_listen_backlog(listening.get(), kListenBacklog);
    listened = g_socket_bind(listening.get(), socketAddress.get(), TRUE, platform::Out(failure));
  }
  if (listened) {
    listened = g_socket_listen(listening.get(), platform::Out(failure));
  }
  if (!listened) {
    error = failure->message;
    return false;
  }
  return Serve(listening.get(), error);
}

bool EndpointServer::Serve(GSocket* listening, std::string& error) {
  if (!m_guard->Start(listening, error)) {
    return false;
  }
  const auto local = platform::Adopt(g_socket_get_local_address(listening, nullptr));
  if (local && G_IS_INET_SOCKET_ADDRESS(local.get())) {
    m_port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local.get()));
  }
  return true;
}

bool EndpointServer::ListenOnSocket(int fd, std::string& error) {
  platform::GErrorPtr socketError;
  const auto socket = platform::Adopt(g_socket_new_from_fd(fd, platform::Out(socketError)));
  if (!socket) {
    error = socketError ? socketError->message : "not a socket";
    return false;
  }
  return Serve(socket.get(), error);
}

std::size_t EndpointServer::ConnectionCount() const {
  return m_guard->Count();
}

std::size_t EndpointServer::ConnectionCap() const {
  return m_guard->Cap();
}

void EndpointServer::SetTable(std::shared_ptr<const RedirectTable> table) {
  m_table = std::move(table);
}

void EndpointServer::Handle(SoupServerMessage* message) {
  const char* method = soup_server_message_get_method(message);
  const char* path = g_uri_get_path(soup_server_message_get_uri(message));
  const Response response = Route(method ? method : "", path ? path : "", *m_table, m_adFramePage);
  SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
  // No page of ours passes the endpoint's address on to the sites it leads to.
  soup_message_headers_replace(headers, "Referrer-Policy", "no-referrer");
  soup_message_headers_replace(headers, "X-Content-Type-Options", "nosniff");
  if (response.status == 302) {
    soup_message_headers_replace(headers, "Location", response.location.c_str());
    soup_message_headers_replace(headers, "Cache-Control", "no-store");
  } else if (response.status == 200) {
    soup_message_headers_replace(headers, "Cache-Control", "no-cache");
    soup_message_headers_replace(
        headers, "Content-Security-Policy",
        "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'");
  }
  if (response.allowGetHead) {
    soup_message_headers_replace(headers, "Allow", "GET, HEAD");
  }
  soup_server_message_set_status(message, response.status, nullptr);
  if (!response.contentType.empty()) {
    const std::string contentType(response.contentType);
    soup_server_message_set_response(message, contentType.c_str(), SOUP_MEMORY_STATIC,
                                     response.body.data(), response.body.size());
  }
}

void EndpointServer::CheckBody(SoupServerMessage* message) {
  const BodyAnswer answer = JudgeBody(FramingOf(message));
  if (answer == BodyAnswer::kNoBody) {
    return;
  }
  const unsigned status = answer == BodyAnswer::kTooLarge ? 413 : 400;
  soup_server_message_set_status(message, status, nullptr);
  // libsoup would read the whole body before answering and keep it in
  // memory: the connection is taken from it, answered here and ended.
  LogFinished(message, false);
  m_guard->Refuse(message, RefusalText(status));
}

void EndpointServer::LogFinished(SoupServerMessage* message, bool aborted) {
  if (!m_log) {
    return;
  }
  const auto* start =
      static_cast<const gint64*>(g_object_get_qdata(G_OBJECT(message), StartTimeQuark()));
  const double elapsedMs =
      start ? static_cast<double>(g_get_monotonic_time() - *start) / 1000.0 : 0.0;
  const char* method = soup_server_message_get_method(message);
  GUri* uri = soup_server_message_get_uri(message);
  const char* path = uri ? g_uri_get_path(uri) : nullptr;

  std::string line = NowUtc();
  line += ' ';
  AppendPrintable(line, method ? method : "-");
  line += ' ';
  AppendPrintable(line, path && *path ? path : "-");
  line += ' ';
  line +=
      aborted ? std::string("aborted") : std::to_string(soup_server_message_get_status(message));
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, " %.3f ms", elapsedMs);
  line += elapsed;
  m_log(line);
}

}  // namespace ticklark::endpoint
