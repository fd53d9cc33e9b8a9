// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

typedef struct _SoupServer SoupServer;
typedef struct _SoupServerMessage SoupServerMessage;

namespace ticklark::test {

// A real HTTP server on 127.0.0.1, port chosen by the system, answering from
// the thread's default main context: whatever pumps the main loop (the GTK
// test fixture) serves its requests. Unknown paths answer 404.
// The path of an address, "/" when it has none: "http://host:1/a/b" -> "/a/b".
std::string PathOf(std::string_view address);

class LoopbackServer {
 public:
  struct Response {
    unsigned status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
  };

  // Plain HTTP.
  LoopbackServer();
  // HTTPS with the certificate and private key in |pemFile|.
  explicit LoopbackServer(const std::string& pemFile);
  ~LoopbackServer();

  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // "http://127.0.0.1:PORT" (or https), no trailing slash.
  const std::string& BaseAddress() const { return m_baseAddress; }
  // BaseAddress() + |path|.
  std::string Address(std::string_view path) const;

  // Handlers by exact path; registering a path again replaces its handler.
  void Serve(const std::string& path, Response response);
  void ServeHtml(const std::string& path, std::string html);
  void Redirect(const std::string& path, std::string location, unsigned status = 302);
  // A chunked body sent one chunk per |interval|.
  void ServeSlowly(const std::string& path, std::vector<std::string> chunks,
                   std::chrono::milliseconds interval);
  // Headers are never sent: the response is paused and never resumed.
  void Stall(const std::string& path);
  // A response the browser should save rather than show.
  void ServeAttachment(const std::string& path, std::string fileName, std::string body);
  // |response| with its body sent and |promised| bytes announced; the
  // connection stays open until DropPartial() closes it mid-body.
  void ServePartly(const std::string& path, Response response, std::size_t promised);
  void DropPartial();

  // "METHOD /path" of every request so far, in order of arrival.
  std::vector<std::string> Requests() const;
  std::size_t CountRequests(std::string_view path) const;
  void ClearRequests();

  // For the server's C callbacks.
  void Handle(SoupServerMessage* message, const char* path);
  struct Slow;
  void FinishSlow(Slow* slow);

 private:
  enum class Kind { kFixed, kSlow, kStall, kPartial };
  struct Handler {
    Kind kind = Kind::kFixed;
    Response response;
    std::vector<std::string> chunks;
    std::chrono::milliseconds interval{0};
    std::size_t promised = 0;
  };

  void Start(const std::string& pemFile);
  void Add(const std::string& path, Handler handler);

  SoupServer* m_server = nullptr;
  std::string m_baseAddress;
  mutable std::mutex m_mutex;
  std::map<std::string, Handler, std::less<>> m_handlers;
  std::vector<std::string> m_requests;
  std::vector<SoupServerMessage*> m_stalled;
  std::vector<SoupServerMessage*> m_partial;
  std::vector<std::unique_ptr<Slow>> m_slow;
};

}  // namespace ticklark::test
