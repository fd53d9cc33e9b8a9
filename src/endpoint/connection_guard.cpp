// SPDX-License-Identifier: MIT
#include "endpoint/connection_guard.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include <gio/gio.h>

namespace ticklark::endpoint {

// The input side of a connection as libsoup reads it. The end of the peer's
// data (or a read error) is reported as one stray byte before the end itself.
// libsoup 3.2 closes a kept-alive connection whose peer left only when the
// peer's data ends in the middle of a request: at the end of an answer, or
// with a read error, it leaves the connection, its descriptor and its memory
// behind for good (the peer's side in CLOSE-WAIT). With the byte, the data
// ends inside a request: libsoup tries to answer "400 Bad Request", which
// fails as the socket's sending side is shut first, and closes the
// connection. Ending a connection is shutting its socket down, which leads
// here the same way.
struct PeerEndStream {
  GInputStream parent;
  platform::GObjectPtr<GSocketConnection> connection;  // made in place by the type's init
  ConnectionObserver* observer;
  ConnectionTable::Id id;
  gboolean endReported;
};

namespace {

// Connections accepted per turn of the main loop. libsoup reads and answers a
// request that is already in while it is handed the connection, so a long
// batch would hold up everything else, closing finished connections too.
constexpr int kAcceptBatch = 4;
// Descriptors kept for everything but connections: standard streams, the
// listening socket, the main loop's, the table file's watch, and a turn's
// worth of connections that are being ended but not closed yet.
constexpr rlim_t kReservedDescriptors = 64;
// After accept() failed for want of descriptors (or any reason but "nothing
// to accept"), accepting pauses this long instead of spinning.
constexpr guint kAcceptPauseMilliseconds = 100;
// When descriptors ran out, this many waiting connections are ended at once.
constexpr int kShedOnExhaustion = 16;
// How often connections are checked against their limits while any is open.
constexpr guint kSweepMilliseconds = 250;
// Once a burst of this many connections has closed again, freed memory is
// handed back to the system, so that the endpoint's size returns to its usual.
constexpr std::size_t kTrimAfterPeak = 64;

GQuark ConnectionIdQuark() {
  static const GQuark quark = g_quark_from_static_string("ticklark-endpoint-connection");
  return quark;
}

struct PeerEndStreamClass {
  GInputStreamClass parent_class;
};

constexpr char kStrayByte = 'x';
GObjectClass* s_peerEndParentClass = nullptr;

PeerEndStream* AsPeerEnd(gpointer stream) {
  return static_cast<PeerEndStream*>(stream);
}

GInputStream* BaseInput(PeerEndStream* self) {
  return g_io_stream_get_input_stream(G_IO_STREAM(self->connection.get()));
}

// What a read of the underlying stream (|read| bytes, or -1 with |failure|)
// becomes for libsoup.
gssize ReportEnd(PeerEndStream* self, void* buffer, gsize count, gssize read,
                 platform::GErrorPtr failure, GError** error) {
  const bool ended =
      read == 0 ||
      (read < 0 && !g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK) &&
       !g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED));
  if (ended && count > 0 && !self->endReported) {
    self->endReported = TRUE;
    // The peer sends nothing more, so no answer is owed; libsoup's answer to
    // the stray byte then fails instead of reaching a peer that still reads.
    g_socket_shutdown(g_socket_connection_get_socket(self->connection.get()), FALSE, TRUE, nullptr);
    static_cast<char*>(buffer)[0] = kStrayByte;
    return 1;
  }
  if (failure) {
    g_propagate_error(error, failure.release());
  }
  return read;
}

gssize PeerEndRead(GInputStream* stream, void* buffer, gsize count, GCancellable* cancellable,
                   GError** error) {
  PeerEndStream* self = AsPeerEnd(stream);
  platform::GErrorPtr failure;
  const gssize read =
      g_input_stream_read(BaseInput(self), buffer, count, cancellable, platform::Out(failure));
  return ReportEnd(self, buffer, count, read, std::move(failure), error);
}

gssize PeerEndReadNonblocking(GPollableInputStream* stream, void* buffer, gsize count,
                              GError** error) {
  PeerEndStream* self = AsPeerEnd(stream);
  platform::GErrorPtr failure;
  const gssize read = g_pollable_input_stream_read_nonblocking(
      G_POLLABLE_INPUT_STREAM(BaseInput(self)), buffer, count, nullptr, platform::Out(failure));
  return ReportEnd(self, buffer, count, read, std::move(failure), error);
}

gboolean PeerEndClose(GInputStream* stream, GCancellable* cancellable, GError** error) {
  PeerEndStream* self = AsPeerEnd(stream);
  const auto keep = platform::Share(self);  // the observer may let go of it
  const gboolean closed =
      g_io_stream_close(G_IO_STREAM(self->connection.get()), cancellable, error);
  if (ConnectionObserver* observer = std::exchange(self->observer, nullptr)) {
    observer->ConnectionClosed(self->id);
  }
  return closed;
}

void PeerEndFinalize(GObject* object) {
  PeerEndStream* self = AsPeerEnd(object);
  if (ConnectionObserver* observer = std::exchange(self->observer, nullptr)) {
    observer->ConnectionClosed(self->id);
  }
  std::destroy_at(&self->connection);
  s_peerEndParentClass->finalize(object);
}

gboolean PeerEndCanPoll(GPollableInputStream*) {
  return TRUE;
}

gboolean PeerEndIsReadable(GPollableInputStream* stream) {
  return g_pollable_input_stream_is_readable(G_POLLABLE_INPUT_STREAM(BaseInput(AsPeerEnd(stream))));
}

GSource* PeerEndCreateSource(GPollableInputStream* stream, GCancellable* cancellable) {
  const platform::CPtr<GSource, g_source_unref> base(g_pollable_input_stream_create_source(
      G_POLLABLE_INPUT_STREAM(BaseInput(AsPeerEnd(stream))), cancellable));
  return g_pollable_source_new_full(stream, base.get(), cancellable);
}

void PeerEndInit(GTypeInstance* instance, gpointer) {
  std::construct_at(&AsPeerEnd(instance)->connection);
}

void PeerEndClassInit(gpointer klass, gpointer) {
  s_peerEndParentClass = G_OBJECT_CLASS(g_type_class_peek_parent(klass));
  G_OBJECT_CLASS(klass)->finalize = PeerEndFinalize;
  G_INPUT_STREAM_CLASS(klass)->read_fn = PeerEndRead;
  G_INPUT_STREAM_CLASS(klass)->close_fn = PeerEndClose;
}

void PeerEndPollableInit(gpointer iface, gpointer) {
  auto* pollable = static_cast<GPollableInputStreamInterface*>(iface);
  pollable->can_poll = PeerEndCanPoll;
  pollable->is_readable = PeerEndIsReadable;
  pollable->create_source = PeerEndCreateSource;
  pollable->read_nonblocking = PeerEndReadNonblocking;
}

GType PeerEndStreamType() {
  static const GType type = [] {
    const GType registered = g_type_register_static_simple(
        G_TYPE_INPUT_STREAM, "TicklarkPeerEndStream",
        static_cast<guint>(sizeof(PeerEndStreamClass)), PeerEndClassInit,
        static_cast<guint>(sizeof(PeerEndStream)), PeerEndInit, static_cast<GTypeFlags>(0));
    static const GInterfaceInfo pollable = {PeerEndPollableInit, nullptr, nullptr};
    g_type_add_interface_static(registered, G_TYPE_POLLABLE_INPUT_STREAM, &pollable);
    return registered;
  }();
  return type;
}

platform::GObjectPtr<PeerEndStream> NewPeerEndStream(GSocketConnection* connection,
                                                     ConnectionObserver* observer,
                                                     ConnectionTable::Id id) {
  auto stream =
      platform::Adopt(static_cast<PeerEndStream*>(g_object_new(PeerEndStreamType(), nullptr)));
  stream->connection = platform::Share(connection);
  stream->observer = observer;
  stream->id = id;
  return stream;
}

// Raises the soft limit on open descriptors towards |wanted| as far as the
// hard limit allows; returns the soft limit in force.
rlim_t RaiseDescriptorLimit(rlim_t wanted) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    return wanted;
  }
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
      limit = raised;
    }
  }
  return limit.rlim_cur == RLIM_INFINITY ? wanted : limit.rlim_cur;
}

ConnectionTable::Clock::time_point Now() {
  return ConnectionTable::Clock::now();
}

}  // namespace

namespace {

gboolean OnListeningReady(GSocket*, GIOCondition, gpointer guard) {
  return static_cast<ConnectionGuard*>(guard)->AcceptPending() ? G_SOURCE_CONTINUE
                                                               : G_SOURCE_REMOVE;
}

gboolean OnResumeAccepting(gpointer guard) {
  static_cast<ConnectionGuard*>(guard)->ResumeAccepting();
  return G_SOURCE_REMOVE;
}

gboolean OnSweep(gpointer guard) {
  return static_cast<ConnectionGuard*>(guard)->Sweep() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

gboolean OnRefusedReadable(GSocket*, GIOCondition, gpointer target) {
  const auto* drain = static_cast<const ConnectionGuard::DrainTarget*>(target);
  return drain->guard->Drain(drain->id) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void OnGuardRequestStarted(SoupServer*, SoupServerMessage* message, gpointer guard) {
  static_cast<ConnectionGuard*>(guard)->RequestBegun(message);
}

void OnGuardRequestRead(SoupServer*, SoupServerMessage* message, gpointer guard) {
  static_cast<ConnectionGuard*>(guard)->RequestRead(message);
}

void OnGuardRequestDone(SoupServer*, SoupServerMessage* message, gpointer guard) {
  static_cast<ConnectionGuard*>(guard)->Answered(message);
}

}  // namespace

ConnectionGuard::ConnectionGuard(SoupServer* server, ConnectionLimits limits, LogSink log)
    : m_server(server),
      m_limits(limits),
      m_table(limits),
      m_log(std::move(log)),
      m_handlers(server) {
  m_handlers.Connect("request-started", G_CALLBACK(OnGuardRequestStarted), this);
  m_handlers.Connect("request-read", G_CALLBACK(OnGuardRequestRead), this);
  m_handlers.Connect("request-finished", G_CALLBACK(OnGuardRequestDone), this);
  m_handlers.Connect("request-aborted", G_CALLBACK(OnGuardRequestDone), this);
}

ConnectionGuard::~ConnectionGuard() {
  m_handlers.DisconnectAll();
  StopAccepting();
  m_sweepTimeout.Reset();
  while (!m_held.empty()) {
    const ConnectionTable::Id id = m_held.begin()->first;
    g_io_stream_close(G_IO_STREAM(m_held.begin()->second.connection.get()), nullptr, nullptr);
    Release(id);
  }
  if (m_listening) {
    g_socket_close(m_listening.get(), nullptr);
    m_listening.reset();
  }
  if (m_keepAlivePeer >= 0) {
    close(m_keepAlivePeer);
  }
}

bool ConnectionGuard::Start(GSocket* listening, std::string& error) {
  if (m_listening) {
    error = "the server serves one socket only";
    return false;
  }
  platform::GErrorPtr failure;
  gint accepting = 0;
  if (!g_socket_get_option(listening, SOL_SOCKET, SO_ACCEPTCONN, &accepting,
                           platform::Out(failure)) ||
      !accepting) {
    error = failure ? failure->message : "the socket does not listen";
    return false;
  }

  // libsoup keeps a connection open after an answer only while the server has
  // a listener of its own (a server without one is shutting down). Ours come
  // in through soup_server_accept_iostream(), so the server gets a listener
  // that never hears anything: one end of a socket pair whose other end is
  // kept open and never written to.
  int pair[2] = {-1, -1};
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    error = "cannot make a socket pair";
    return false;
  }
  platform::GObjectPtr<GSocket> keepAlive =
      platform::Adopt(g_socket_new_from_fd(pair[0], platform::Out(failure)));
  if (!keepAlive) {
    close(pair[0]);
    close(pair[1]);
    error = failure->message;
    return false;
  }
  const bool listened = soup_server_listen_socket(
      m_server, keepAlive.get(), static_cast<SoupServerListenOptions>(0), platform::Out(failure));
  keepAlive.reset();
  if (!listened) {
    close(pair[1]);
    error = failure->message;
    return false;
  }
  m_keepAlivePeer = pair[1];

  const rlim_t descriptors = RaiseDescriptorLimit(m_limits.connections + kReservedDescriptors);
  m_cap = descriptors > 2 * kReservedDescriptors
              ? std::min<std::size_t>(m_limits.connections, descriptors - kReservedDescriptors)
              : std::max<std::size_t>(1, descriptors / 2);

  g_socket_set_blocking(listening, FALSE);
  m_listening = platform::Share(listening);
  WatchListening();
  return true;
}

void ConnectionGuard::WatchListening() {
  m_acceptSource.reset(g_socket_create_source(m_listening.get(), G_IO_IN, nullptr));
  // A socket source calls a GSocketSourceFunc; GLib's own G_SOURCE_FUNC casts the same way.
  g_source_set_callback(
      m_acceptSource.get(),
      reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(OnListeningReady)), this, nullptr);
  g_source_attach(m_acceptSource.get(), nullptr);
}

void ConnectionGuard::StopAccepting() {
  m_acceptSource.reset();
  m_resumeTimeout.Reset();
}

bool ConnectionGuard::AcceptPending() {
  for (int turn = 0; turn < kAcceptBatch; ++turn) {
    platform::GErrorPtr failure;
    const platform::GObjectPtr<GSocket> client =
        platform::Adopt(g_socket_accept(m_listening.get(), nullptr, platform::Out(failure)));
    if (client) {
      if (m_shortOfDescriptors) {
        m_shortOfDescriptors = false;
        Say("accepting again");
      }
      Adopt(client.get());
      continue;
    }
    const bool drained = g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK);
    const bool exhausted =
        g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_TOO_MANY_OPEN_FILES);
    const std::string why = failure->message;
    if (drained) {
      return true;
    }
    if (exhausted) {
      // The oldest waiting connections make room; their descriptors come free
      // as soon as libsoup has closed them.
      if (!m_shortOfDescriptors) {
        m_shortOfDescriptors = true;
        Say("out of file descriptors (" + why + "); ending waiting connections");
      }
      const auto now = Now();
      for (int shed = 0; shed < kShedOnExhaustion; ++shed) {
        const auto victim = m_table.Victim();
        if (!victim) {
          break;
        }
        m_table.MarkEnding(*victim, now);
        End(*victim);
      }
    }
    // The source goes; it comes back after a pause.
    m_acceptSource.reset();
    m_resumeTimeout.Reset(g_timeout_add(kAcceptPauseMilliseconds, OnResumeAccepting, this));
    return false;
  }
  return true;
}

void ConnectionGuard::ResumeAccepting() {
  m_resumeTimeout.Forget();
  WatchListening();
}

void ConnectionGuard::Adopt(GSocket* client) {
  const auto now = Now();
  if (m_table.Size() >= m_cap) {
    const auto victim = m_table.Victim();
    if (!victim) {
      // Every connection is busy answering: this one is refused.
      g_socket_close(client, nullptr);
      return;
    }
    m_table.MarkEnding(*victim, now);
    End(*victim);
  }
  const auto local = platform::Adopt(g_socket_get_local_address(client, nullptr));
  const auto remote = platform::Adopt(g_socket_get_remote_address(client, nullptr));
  if (!local || !remote) {
    // Gone before it was accepted.
    g_socket_close(client, nullptr);
    return;
  }
  // Answers go out in two writes (head, then body); without this the body
  // waits for the client's delayed acknowledgement of the head.
  g_socket_set_option(client, IPPROTO_TCP, TCP_NODELAY, TRUE, nullptr);

  const ConnectionTable::Id id = m_table.Add(now);
  Held& held = m_held[id];
  held.socket = platform::Share(client);
  held.connection = platform::Adopt(g_socket_connection_factory_create_connection(client));
  held.stream = NewPeerEndStream(held.connection.get(), this, id);
  m_peak = std::max(m_peak, m_table.Size());
  // libsoup hands the remote address to every message of the connection:
  // the way from a message back to its connection.
  g_object_set_qdata(G_OBJECT(remote.get()), ConnectionIdQuark(),
                     reinterpret_cast<gpointer>(static_cast<std::uintptr_t>(id)));

  // |held| may be gone once libsoup has the connection.
  const auto stream = platform::Adopt(
      g_simple_io_stream_new(G_INPUT_STREAM(held.stream.get()),
                             g_io_stream_get_output_stream(G_IO_STREAM(held.connection.get()))));
  platform::GErrorPtr failure;
  if (!soup_server_accept_iostream(m_server, stream.get(), local.get(), remote.get(),
                                   platform::Out(failure))) {
    g_io_stream_close(stream.get(), nullptr, nullptr);
  }

  if (!m_sweepTimeout.Active() && m_table.Size() > 0) {
    m_sweepTimeout.Reset(g_timeout_add(kSweepMilliseconds, OnSweep, this));
  }
}

void ConnectionGuard::End(ConnectionTable::Id id) {
  // Wakes libsoup on both sides: a read sees the end, a write fails; either
  // way libsoup closes the connection.
  if (const auto found = m_held.find(id); found != m_held.end()) {
    g_socket_shutdown(found->second.socket.get(), TRUE, TRUE, nullptr);
  }
}

bool ConnectionGuard::Sweep() {
  const ConnectionTable::Overdue overdue = m_table.TakeOverdue(Now());
  for (const auto id : overdue.toEnd) {
    End(id);
  }
  for (const auto id : overdue.toClose) {
    // libsoup did not close it in time: the descriptor is freed here.
    if (const auto found = m_held.find(id); found != m_held.end()) {
      g_io_stream_close(G_IO_STREAM(found->second.connection.get()), nullptr, nullptr);
    }
    Release(id);
  }
  if (m_table.Size() > 0) {
    return true;
  }
  m_sweepTimeout.Forget();
  return false;
}

void ConnectionGuard::ConnectionClosed(ConnectionTable::Id id) {
  Release(id);
}

void ConnectionGuard::Release(ConnectionTable::Id id) {
  m_table.Remove(id);
  if (const auto found = m_held.find(id); found != m_held.end()) {
    const Held held = std::move(found->second);
    m_held.erase(found);
    held.stream->observer = nullptr;
  }  // its parts are released here
  if (m_table.Size() == 0 && m_peak >= kTrimAfterPeak) {
    m_peak = 0;
    malloc_trim(0);
  }
}

std::optional<ConnectionTable::Id> ConnectionGuard::IdOf(SoupServerMessage* message) const {
  GSocketAddress* remote = soup_server_message_get_remote_address(message);
  if (!remote) {
    return std::nullopt;
  }
  const ConnectionTable::Id id =
      reinterpret_cast<std::uintptr_t>(g_object_get_qdata(G_OBJECT(remote), ConnectionIdQuark()));
  if (m_held.find(id) == m_held.end()) {
    return std::nullopt;
  }
  return id;
}

void ConnectionGuard::Refuse(SoupServerMessage* message, const std::string& answer) {
  const auto id = IdOf(message);
  // |message| may be gone once its connection is taken.
  auto taken = platform::Adopt(soup_server_message_steal_connection(message));
  const auto found = id ? m_held.find(*id) : m_held.end();
  if (found == m_held.end()) {
    if (taken) {
      g_io_stream_close(taken.get(), nullptr, nullptr);
    }
    return;
  }
  Held& held = found->second;
  held.refused = std::move(taken);
  m_table.MarkEnding(*id, Now());
  // A few hundred bytes: the socket's empty buffer takes them at once.
  g_socket_send_with_blocking(held.socket.get(), answer.data(), answer.size(), FALSE, nullptr,
                              nullptr);
  g_socket_shutdown(held.socket.get(), FALSE, TRUE, nullptr);
  held.drainTarget = std::make_unique<DrainTarget>(DrainTarget{this, *id});
  held.drain.reset(g_socket_create_source(
      held.socket.get(), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), nullptr));
  g_source_set_callback(
      held.drain.get(),
      reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(OnRefusedReadable)),
      held.drainTarget.get(), nullptr);
  g_source_attach(held.drain.get(), nullptr);
  if (!m_sweepTimeout.Active()) {
    m_sweepTimeout.Reset(g_timeout_add(kSweepMilliseconds, OnSweep, this));
  }
}

bool ConnectionGuard::Drain(ConnectionTable::Id id) {
  const auto found = m_held.find(id);
  if (found == m_held.end()) {
    return false;
  }
  char dropped[16384];
  for (int turn = 0; turn < 64; ++turn) {
    platform::GErrorPtr failure;
    const gssize got =
        g_socket_receive_with_blocking(found->second.socket.get(), dropped, sizeof dropped, FALSE,
                                       nullptr, platform::Out(failure));
    if (got > 0) {
      continue;
    }
    if (got < 0 && g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK)) {
      return true;
    }
    // The client has stopped sending: the connection ends, and this source
    // with it (its callback data is held until the connection is released).
    found->second.drain.reset();
    const platform::GObjectPtr<GIOStream> refused = std::move(found->second.refused);
    if (refused) {
      g_io_stream_close(refused.get(), nullptr, nullptr);  // releases the connection
    } else {
      g_io_stream_close(G_IO_STREAM(found->second.connection.get()), nullptr, nullptr);
      Release(id);
    }
    return false;
  }
  return true;  // more to read on the next turn
}

void ConnectionGuard::RequestBegun(SoupServerMessage* message) {
  if (const auto id = IdOf(message)) {
    m_table.RequestBegun(*id, Now());
  }
}

void ConnectionGuard::RequestRead(SoupServerMessage* message) {
  if (const auto id = IdOf(message)) {
    m_table.RequestRead(*id, Now());
  }
}

void ConnectionGuard::Answered(SoupServerMessage* message) {
  if (const auto id = IdOf(message)) {
    m_table.Answered(*id, Now());
  }
}

void ConnectionGuard::Say(const std::string& text) const {
  if (m_log) {
    m_log("ticklark-endpoint: " + text);
  }
}

}  // namespace ticklark::endpoint
