// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace ticklark::endpoint {

// How long a connection may stay at each stage, and how many are held at once.
// The reasons for the numbers are in the endpoint's README.
struct ConnectionLimits {
  // From a connection's start, or a later request's first byte, to the last
  // byte of that request.
  std::chrono::milliseconds request{5000};
  // From a whole request to the last byte of its answer.
  std::chrono::milliseconds answer{10000};
  // A kept-alive connection between two requests.
  std::chrono::milliseconds idle{15000};
  // Open connections at most.
  std::size_t connections = 128;
};

// Every open connection with its stage and the time it may stay there. It
// holds no sockets: the server feeds it events and acts on its answers, so the
// rules are tested with a made-up clock.
class ConnectionTable {
 public:
  using Clock = std::chrono::steady_clock;
  using Id = std::uint64_t;

  enum class Stage { kRequest, kAnswer, kIdle, kEnding };

  // An ended connection that has not closed within this time is closed outright.
  static constexpr std::chrono::milliseconds kEndingGrace{2000};

  explicit ConnectionTable(ConnectionLimits limits) : m_limits(limits) {}

  // A new connection, waiting for its first request.
  Id Add(Clock::time_point now);
  // The first byte of a later request arrived.
  void RequestBegun(Id id, Clock::time_point now);
  // The whole request arrived; the answer is on its way.
  void RequestRead(Id id, Clock::time_point now);
  // The answer went out (or the request was given up).
  void Answered(Id id, Clock::time_point now);
  // The server is ending the connection; it counts until it is removed.
  void MarkEnding(Id id, Clock::time_point now);
  // The connection is closed.
  void Remove(Id id);

  struct Overdue {
    std::vector<Id> toEnd;    // past their stage's time; now marked ending
    std::vector<Id> toClose;  // ended a while ago and still open
  };
  Overdue TakeOverdue(Clock::time_point now);

  // The connection to end so that a new one fits: the longest idle, else the
  // one waiting longest for its request. None while all are answering or ending.
  std::optional<Id> Victim() const;

  bool Full() const { return m_entries.size() >= m_limits.connections; }
  std::size_t Size() const { return m_entries.size(); }
  std::optional<Stage> StageOf(Id id) const;

 private:
  struct Entry {
    Stage stage;
    Clock::time_point since;
    Clock::time_point deadline;
  };
  void Enter(Id id, Stage stage, Clock::time_point now);

  ConnectionLimits m_limits;
  std::unordered_map<Id, Entry> m_entries;
  Id m_nextId = 1;
};

}  // namespace ticklark::endpoint
