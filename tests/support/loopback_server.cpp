// SPDX-License-Identifier: MIT
#include "support/loopback_server.hpp"

#include <algorithm>
#include <stdexcept>

#include <libsoup/soup.h>

namespace ticklark::test {

std::string PathOf(std::string_view address) {
  const auto scheme = address.find("://");
  const auto slash = address.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
  return slash == std::string_view::npos ? "/" : std::string(address.substr(slash));
}

struct LoopbackServer::Slow {
  LoopbackServer* server = nullptr;
  SoupServerMessage* message = nullptr;
  std::vector<std::string> chunks;
  std::size_t next = 0;
  guint timer = 0;
  gulong finished = 0;
  gulong disconnected = 0;
};

namespace {

void OnRequest(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*,
               gpointer self) {
  static_cast<LoopbackServer*>(self)->Handle(message, path);
}

void OnSlowDone(SoupServerMessage*, gpointer data) {
  auto* slow = static_cast<LoopbackServer::Slow*>(data);
  slow->server->FinishSlow(slow);
}

gboolean OnSlowTick(gpointer data) {
  auto* slow = static_cast<LoopbackServer::Slow*>(data);
  SoupMessageBody* body = soup_server_message_get_response_body(slow->message);
  const std::string& chunk = slow->chunks[slow->next++];
  soup_message_body_append(body, SOUP_MEMORY_COPY, chunk.data(), chunk.size());
  const bool last = slow->next == slow->chunks.size();
  if (last) {
    soup_message_body_complete(body);
    slow->timer = 0;
  }
  soup_server_message_unpause(slow->message);
  return last ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

}  // namespace

LoopbackServer::LoopbackServer() {
  Start("");
}

LoopbackServer::LoopbackServer(const std::string& pemFile) {
  Start(pemFile);
}

void LoopbackServer::Start(const std::string& pemFile) {
  GError* error = nullptr;
  if (pemFile.empty()) {
    m_server = soup_server_new(nullptr, nullptr);
  } else {
    GTlsCertificate* certificate = g_tls_certificate_new_from_file(pemFile.c_str(), &error);
    if (!certificate) {
      const std::string message = error->message;
      g_error_free(error);
      throw std::runtime_error("certificate " + pemFile + ": " + message);
    }
    m_server = soup_server_new("tls-certificate", certificate, nullptr);
    g_object_unref(certificate);
  }
  soup_server_add_handler(m_server, nullptr, OnRequest, this, nullptr);
  const auto options = static_cast<SoupServerListenOptions>(
      SOUP_SERVER_LISTEN_IPV4_ONLY | (pemFile.empty() ? 0 : SOUP_SERVER_LISTEN_HTTPS));
  if (!soup_server_listen_local(m_server, 0, options, &error)) {
    const std::string message = error->message;
    g_error_free(error);
    g_object_unref(m_server);
    throw std::runtime_error("loopback server: " + message);
  }
  GSList* uris = soup_server_get_uris(m_server);
  const int port = g_uri_get_port(static_cast<GUri*>(uris->data));
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
  m_baseAddress =
      std::string(pemFile.empty() ? "http" : "https") + "://127.0.0.1:" + std::to_string(port);
}

LoopbackServer::~LoopbackServer() {
  for (auto& slow : m_slow) {
    if (slow->timer) {
      g_source_remove(slow->timer);
    }
    g_signal_handler_disconnect(slow->message, slow->finished);
    g_signal_handler_disconnect(slow->message, slow->disconnected);
  }
  soup_server_disconnect(m_server);
  for (auto& slow : m_slow) {
    g_object_unref(slow->message);
  }
  for (SoupServerMessage* message : m_stalled) {
    g_object_unref(message);
  }
  for (SoupServerMessage* message : m_partial) {
    g_object_unref(message);
  }
  g_object_unref(m_server);
}

std::string LoopbackServer::Address(std::string_view path) const {
  return m_baseAddress + std::string(path);
}

void LoopbackServer::Add(const std::string& path, Handler handler) {
  std::lock_guard lock(m_mutex);
  m_handlers[path] = std::move(handler);
}

void LoopbackServer::Serve(const std::string& path, Response response) {
  Add(path, Handler{Kind::kFixed, std::move(response), {}, {}});
}

void LoopbackServer::ServeHtml(const std::string& path, std::string html) {
  Response response;
  response.body = std::move(html);
  Serve(path, std::move(response));
}

void LoopbackServer::Redirect(const std::string& path, std::string location, unsigned status) {
  Response response;
  response.status = status;
  response.headers.emplace_back("Location", std::move(location));
  Serve(path, std::move(response));
}

void LoopbackServer::ServeSlowly(const std::string& path, std::vector<std::string> chunks,
                                 std::chrono::milliseconds interval) {
  Add(path, Handler{Kind::kSlow, {}, std::move(chunks), interval});
}

void LoopbackServer::Stall(const std::string& path) {
  Add(path, Handler{Kind::kStall, {}, {}, {}});
}

void LoopbackServer::ServeAttachment(const std::string& path, std::string fileName,
                                     std::string body) {
  Response response;
  response.contentType = "text/plain";
  response.body = std::move(body);
  response.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + fileName + "\"");
  Serve(path, std::move(response));
}

void LoopbackServer::ServePartly(const std::string& path, Response response, std::size_t promised) {
  Handler handler{Kind::kPartial, std::move(response), {}, {}};
  handler.promised = promised;
  Add(path, std::move(handler));
}

void LoopbackServer::DropPartial() {
  for (SoupServerMessage* message : m_partial) {
    if (GIOStream* stream = soup_server_message_steal_connection(message)) {
      g_io_stream_close(stream, nullptr, nullptr);
      g_object_unref(stream);
    }
    g_object_unref(message);
  }
  m_partial.clear();
}

std::vector<std::string> LoopbackServer::Requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

std::size_t LoopbackServer::CountRequests(std::string_view path) const {
  std::lock_guard lock(m_mutex);
  return static_cast<std::size_t>(
      std::count_if(m_requests.begin(), m_requests.end(), [path](const std::string& request) {
        const auto space = request.find(' ');
        return space != std::string::npos && std::string_view(request).substr(space + 1) == path;
      }));
}

void LoopbackServer::ClearRequests() {
  std::lock_guard lock(m_mutex);
  m_requests.clear();
}

void LoopbackServer::Handle(SoupServerMessage* message, const char* path) {
  Handler handler;
  bool found = false;
  {
    std::lock_guard lock(m_mutex);
    m_requests.push_back(std::string(soup_server_message_get_method(message)) + " " + path);
    if (auto it = m_handlers.find(path); it != m_handlers.end()) {
      handler = it->second;
      found = true;
    }
  }
  if (!found) {
    static constexpr char kNotFound[] = "<!DOCTYPE html><title>Not found</title>Not found";
    soup_server_message_set_status(message, 404, nullptr);
    soup_server_message_set_response(message, "text/html", SOUP_MEMORY_STATIC, kNotFound,
                                     sizeof kNotFound - 1);
    return;
  }
  SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
  switch (handler.kind) {
    case Kind::kFixed:
      soup_server_message_set_status(message, handler.response.status, nullptr);
      for (const auto& [name, value] : handler.response.headers) {
        soup_message_headers_replace(headers, name.c_str(), value.c_str());
      }
      soup_server_message_set_response(message, handler.response.contentType.c_str(),
                                       SOUP_MEMORY_COPY, handler.response.body.data(),
                                       handler.response.body.size());
      return;
    case Kind::kPartial:
      soup_server_message_set_status(message, handler.response.status, nullptr);
      for (const auto& [name, value] : handler.response.headers) {
        soup_message_headers_replace(headers, name.c_str(), value.c_str());
      }
      soup_message_headers_set_content_type(headers, handler.response.contentType.c_str(), nullptr);
      soup_message_headers_set_content_length(headers, static_cast<goffset>(handler.promised));
      // Never completed: the server sends what it has and waits for more.
      soup_message_body_append(soup_server_message_get_response_body(message), SOUP_MEMORY_COPY,
                               handler.response.body.data(), handler.response.body.size());
      g_object_ref(message);
      m_partial.push_back(message);
      return;
    case Kind::kStall:
      g_object_ref(message);
      m_stalled.push_back(message);
      soup_server_message_pause(message);
      return;
    case Kind::kSlow: {
      soup_server_message_set_status(message, 200, nullptr);
      soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
      soup_message_headers_set_content_type(headers, "text/html; charset=utf-8", nullptr);
      auto slow = std::make_unique<Slow>();
      slow->server = this;
      slow->message = g_object_ref(message);
      slow->chunks = std::move(handler.chunks);
      slow->finished = g_signal_connect(message, "finished", G_CALLBACK(OnSlowDone), slow.get());
      slow->disconnected =
          g_signal_connect(message, "disconnected", G_CALLBACK(OnSlowDone), slow.get());
      if (slow->chunks.empty()) {
        soup_message_body_complete(soup_server_message_get_response_body(message));
      } else {
        soup_server_message_pause(message);
        slow->timer =
            g_timeout_add(static_cast<guint>(handler.interval.count()), OnSlowTick, slow.get());
      }
      m_slow.push_back(std::move(slow));
      return;
    }
  }
}

void LoopbackServer::FinishSlow(Slow* slow) {
  // The response went out or the client went away: no more chunks.
  if (slow->timer) {
    g_source_remove(slow->timer);
    slow->timer = 0;
  }
}

}  // namespace ticklark::test
