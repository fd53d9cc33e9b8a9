// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <libsoup/soup.h>

#include "endpoint/connection_table.hpp"
#include "platform/gobject_ptr.hpp"

namespace ticklark::endpoint {

// A connection's input as libsoup reads it (see connection_guard.cpp).
struct PeerEndStream;

// Told when a connection's input stream is closed, which libsoup does when it
// is done with the connection.
class ConnectionObserver {
 public:
  virtual void ConnectionClosed(ConnectionTable::Id id) = 0;

 protected:
  ~ConnectionObserver() = default;
};

// The server's connections: accepting them on the listening socket, handing
// them to libsoup, and holding each to its limits. libsoup's own listener
// stops accepting for good the first time accept() fails (out of descriptors,
// say), and has no limits of its own, hence this.
class ConnectionGuard final : private ConnectionObserver {
 public:
  using LogSink = std::function<void(std::string_view line)>;

  ConnectionGuard(SoupServer* server, ConnectionLimits limits, LogSink log);
  ~ConnectionGuard();
  ConnectionGuard(const ConnectionGuard&) = delete;
  ConnectionGuard& operator=(const ConnectionGuard&) = delete;

  // Accepts connections on |listening|, a socket that listens already (once
  // only). On failure returns false and says why in |error|.
  bool Start(GSocket* listening, std::string& error);
  // No more accepting; the open connections stay.
  void StopAccepting();
  std::size_t Count() const { return m_table.Size(); }
  std::size_t Cap() const { return m_cap; }

  // The listening socket has connections to accept; false once accepting pauses.
  bool AcceptPending();
  void ResumeAccepting();
  // Ends the connections past their time; false once none is open.
  bool Sweep();

  // Takes |message|'s connection from libsoup before it reads the request's
  // body, sends |answer| (a whole answer that ends the connection), and ends
  // the connection once the client has stopped sending or after a short grace
  // time; what it still sends is read and dropped meanwhile, so that the
  // answer reaches it rather than a reset.
  void Refuse(SoupServerMessage* message, const std::string& answer);
  // Reads and drops what a refused connection's client still sends; false
  // once the connection is ended.
  bool Drain(ConnectionTable::Id id);
  // What a refused connection's drain source is called with.
  struct DrainTarget {
    ConnectionGuard* guard;
    ConnectionTable::Id id;
  };

  void RequestBegun(SoupServerMessage* message);
  void RequestRead(SoupServerMessage* message);
  void Answered(SoupServerMessage* message);

 private:
  // A connection's parts, released in the opposite order.
  struct Held {
    platform::GObjectPtr<GSocket> socket;
    platform::GObjectPtr<GSocketConnection> connection;
    platform::GObjectPtr<PeerEndStream> stream;
    platform::GObjectPtr<GIOStream> refused;  // taken from libsoup by Refuse()
    std::unique_ptr<DrainTarget> drainTarget;
    platform::AttachedSource drain;
  };

  void ConnectionClosed(ConnectionTable::Id id) override;
  void Adopt(GSocket* client);
  void End(ConnectionTable::Id id);
  void Release(ConnectionTable::Id id);
  void WatchListening();
  void Say(const std::string& text) const;
  std::optional<ConnectionTable::Id> IdOf(SoupServerMessage* message) const;

  SoupServer* m_server;
  ConnectionLimits m_limits;
  ConnectionTable m_table;
  LogSink m_log;
  std::size_t m_cap = 0;
  std::size_t m_peak = 0;
  std::map<ConnectionTable::Id, Held> m_held;
  platform::GObjectPtr<GSocket> m_listening;
  platform::AttachedSource m_acceptSource;
  platform::SourceId m_resumeTimeout;
  platform::SourceId m_sweepTimeout;
  int m_keepAlivePeer = -1;
  bool m_shortOfDescriptors = false;
  platform::SignalHandlers m_handlers;
};

}  // namespace ticklark::endpoint
