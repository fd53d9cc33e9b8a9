// SPDX-License-Identifier: MIT
#include "endpoint/connection_table.hpp"

namespace ticklark::endpoint {

ConnectionTable::Id ConnectionTable::Add(Clock::time_point now) {
  const Id id = m_nextId++;
  m_entries[id] = {Stage::kRequest, now, now + m_limits.request};
  return id;
}

void ConnectionTable::Enter(Id id, Stage stage, Clock::time_point now) {
  const auto found = m_entries.find(id);
  if (found == m_entries.end() || found->second.stage == Stage::kEnding) {
    return;
  }
  std::chrono::milliseconds allowed = m_limits.request;
  if (stage == Stage::kAnswer) {
    allowed = m_limits.answer;
  } else if (stage == Stage::kIdle) {
    allowed = m_limits.idle;
  } else if (stage == Stage::kEnding) {
    allowed = kEndingGrace;
  }
  found->second = {stage, now, now + allowed};
}

void ConnectionTable::RequestBegun(Id id, Clock::time_point now) {
  // A first request's time runs from the connection's start, not its first byte.
  const auto found = m_entries.find(id);
  if (found != m_entries.end() && found->second.stage == Stage::kIdle) {
    Enter(id, Stage::kRequest, now);
  }
}

void ConnectionTable::RequestRead(Id id, Clock::time_point now) {
  Enter(id, Stage::kAnswer, now);
}

void ConnectionTable::Answered(Id id, Clock::time_point now) {
  Enter(id, Stage::kIdle, now);
}

void ConnectionTable::MarkEnding(Id id, Clock::time_point now) {
  Enter(id, Stage::kEnding, now);
}

void ConnectionTable::Remove(Id id) {
  m_entries.erase(id);
}

ConnectionTable::Overdue ConnectionTable::TakeOverdue(Clock::time_point now) {
  Overdue overdue;
  for (auto& [id, entry] : m_entries) {
    if (entry.deadline > now) {
      continue;
    }
    if (entry.stage == Stage::kEnding) {
      overdue.toClose.push_back(id);
    } else {
      overdue.toEnd.push_back(id);
      entry = {Stage::kEnding, now, now + kEndingGrace};
    }
  }
  return overdue;
}

std::optional<ConnectionTable::Id> ConnectionTable::Victim() const {
  std::optional<Id> idle;
  std::optional<Id> waiting;
  Clock::time_point idleSince{};
  Clock::time_point waitingSince{};
  for (const auto& [id, entry] : m_entries) {
    if (entry.stage == Stage::kIdle && (!idle || entry.since < idleSince)) {
      idle = id;
      idleSince = entry.since;
    } else if (entry.stage == Stage::kRequest && (!waiting || entry.since < waitingSince)) {
      waiting = id;
      waitingSince = entry.since;
    }
  }
  return idle ? idle : waiting;
}

std::optional<ConnectionTable::Stage> ConnectionTable::StageOf(Id id) const {
  const auto found = m_entries.find(id);
  if (found == m_entries.end()) {
    return std::nullopt;
  }
  return found->second.stage;
}

}  // namespace ticklark::endpoint
