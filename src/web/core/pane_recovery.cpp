// SPDX-License-Identifier: MIT
#include "web/core/pane_recovery.hpp"

#include <algorithm>
#include <utility>

namespace ticklark::web {

PaneRecovery::PaneRecovery(Engine& engine, Clock clock, const PaneTimings& timings,
                           bool recoversByItself)
    : m_engine(engine),
      m_clock(std::move(clock)),
      m_timings(timings),
      m_recoversByItself(recoversByItself) {}

PaneNotice PaneRecovery::Notice() const {
  switch (m_state) {
    case State::kIdle:
    case State::kLoading:
      return PaneNotice::kNone;
    case State::kHung:
      return PaneNotice::kUnresponsive;
    case State::kCrashed:
      return m_crashNotice;
    case State::kBackingOff:
      return m_noticeWhileBackingOff;
    case State::kStopped:
      return PaneNotice::kStopped;
  }
  return PaneNotice::kNone;
}

// --- Operations -----------------------------------------------------------

void PaneRecovery::Navigate(const std::string& address) {
  Order({PaneLoad::Kind::kAddress, address});
}

void PaneRecovery::GoBack() {
  Order({PaneLoad::Kind::kBack, {}});
}

void PaneRecovery::GoForward() {
  Order({PaneLoad::Kind::kForward, {}});
}

void PaneRecovery::Refresh() {
  // Once the history is put back, its current entry is the page the notice
  // stood in for, unless the notice stands in for a load that was lost on
  // its way.
  if (m_noticeStandsIn && m_lostLoad) {
    Order(*m_lostLoad);
    return;
  }
  Order({m_noticeStandsIn ? PaneLoad::Kind::kCurrentEntry : PaneLoad::Kind::kReload, {}});
}

void PaneRecovery::Stop() {
  Cancel(Timer::kBackoff);
  m_deferredLoad.reset();
  LeaveBackingOff();
  Cancel(Timer::kWatchdog);
  m_loadWaiting = false;
  SetInFlight(false);
  if (m_state == State::kHung || !m_engine.IsResponsive()) {
    // A hung web process cannot stop anything itself.
    m_engine.EndWebProcess();
    return;
  }
  m_engine.StopLoading();
}

// Every load the program orders passes here: open dialogs are closed first,
// a hung web process is replaced, and after a crash the load waits for the
// notice to be in place and, after repeated crashes, for the back-off.
void PaneRecovery::Order(PaneLoad load) {
  m_engine.CloseScriptDialog();
  if (Notice() == PaneNotice::kUnresponsive) {
    ReplaceWebProcess();
  }
  m_deferredLoad = std::move(load);
  StartDeferredLoadWhenDue();
}

void PaneRecovery::StartDeferredLoadWhenDue() {
  if (!m_deferredLoad || m_noticeLoading) {
    return;  // a notice still loading would replace the load; it calls again when done
  }
  const auto now = m_clock();
  if (now < m_backoffUntil) {
    if (!IsTimerRunning(Timer::kBackoff)) {
      Start(Timer::kBackoff, std::chrono::ceil<std::chrono::milliseconds>(m_backoffUntil - now));
    }
    if (m_state != State::kBackingOff) {
      m_noticeWhileBackingOff = Notice();
      m_state = State::kBackingOff;
    }
    return;
  }
  Cancel(Timer::kBackoff);
  LeaveBackingOff();
  PaneLoad load = std::move(*m_deferredLoad);
  m_deferredLoad.reset();
  StartLoad(std::move(load));
}

void PaneRecovery::StartLoad(PaneLoad load) {
  if (std::exchange(m_noticeStandsIn, false)) {
    m_engine.RestoreHistory();
  }
  SetNotice(PaneNotice::kNone);
  m_engine.SetHangNoticeVisible(false);
  m_lostLoad.reset();
  m_load = std::move(load);
  m_loadReissued = false;
  IssueLoad();
}

void PaneRecovery::IssueLoad() {
  m_loadWaiting = true;
  m_loadMayHaveGoneOut = false;
  m_loadCommitted = false;
  m_dialogsWhileWaiting = 0;
  SetInFlight(true);
  Start(Timer::kWatchdog, m_timings.navigationWatchdog);
  m_engine.IssueLoad(*m_load);
}

// Ends the page's web process without a notice; the caller loads anew.
void PaneRecovery::ReplaceWebProcess() {
  m_noticeLoading = false;
  m_replacingProcess = true;
  m_engine.EndWebProcess();
  m_replacingProcess = false;
  SetNotice(PaneNotice::kNone);
  m_engine.SetHangNoticeVisible(false);
}

void PaneRecovery::RestartWaitingLoad() {
  if (!m_load) {
    return;
  }
  PaneLoad load = *m_load;
  ReplaceWebProcess();
  StartLoad(std::move(load));
}

void PaneRecovery::ShowNotice(PaneNotice notice) {
  SetNotice(notice);
  m_noticeStandsIn = true;
  m_noticeLoading = true;
  m_engine.ShowNoticePage(notice, m_lostLoad && m_lostLoad->kind == PaneLoad::Kind::kAddress
                                      ? m_lostLoad->address
                                      : std::string());
}

// Not asked for twice: the pane says the page did not come, and its Try again
// (or Refresh) asks for it once more.
void PaneRecovery::ShowLoadLost() {
  m_lostLoad = m_load;
  ShowNotice(PaneNotice::kStopped);
}

// --- State ----------------------------------------------------------------

void PaneRecovery::SetNotice(PaneNotice notice) {
  if (m_state == State::kBackingOff) {
    m_noticeWhileBackingOff = notice;
    return;
  }
  m_state = StateShowing(notice);
}

PaneRecovery::State PaneRecovery::StateShowing(PaneNotice notice) {
  switch (notice) {
    case PaneNotice::kNone:
    case PaneNotice::kRefused:  // settled by the pane before any load
      return m_loadInFlight ? State::kLoading : State::kIdle;
    case PaneNotice::kUnresponsive:
      return State::kHung;
    case PaneNotice::kCrashed:
    case PaneNotice::kMemoryLimit:
      m_crashNotice = notice;
      return State::kCrashed;
    case PaneNotice::kStopped:
      return State::kStopped;
  }
  return State::kIdle;
}

void PaneRecovery::LeaveBackingOff() {
  if (m_state == State::kBackingOff) {
    m_state = StateShowing(m_noticeWhileBackingOff);
  }
}

void PaneRecovery::SetInFlight(bool inFlight) {
  m_loadInFlight = inFlight;
  if (m_state == State::kIdle || m_state == State::kLoading) {
    m_state = inFlight ? State::kLoading : State::kIdle;
  }
}

// --- What the engine reports -----------------------------------------------

void PaneRecovery::LoadStarted() {
  m_processAnswered = true;
  m_loadWaiting = false;
  Cancel(Timer::kWatchdog);
}

void PaneRecovery::LoadCommitted() {
  if (m_loadInFlight) {
    m_loadCommitted = true;
  }
}

void PaneRecovery::LoadFinished() {
  SetInFlight(false);
  if (std::exchange(m_noticeLoading, false)) {
    StartDeferredLoadWhenDue();
  }
}

// The engine can drop a pane's load without finishing or failing it, seen when
// a pane sharing its web process moves its page to another process at the same
// moment: the pane stops loading with no page. Such a load is ordered again,
// once. A load that ends normally reports its end in the same turn of the main
// loop, hence the check once the loop is idle.
void PaneRecovery::LoadingChanged(bool loading) {
  if (!loading && m_loadInFlight && !IsTimerRunning(Timer::kLostLoad)) {
    Start(Timer::kLostLoad, std::chrono::milliseconds(0));
  }
}

bool PaneRecovery::WatchesRequestFor(const std::string& address) const {
  return m_loadInFlight && m_load && !m_loadMayHaveGoneOut && !m_loadCommitted &&
         (m_load->kind != PaneLoad::Kind::kAddress || m_load->address == address);
}

void PaneRecovery::RequestSent(const std::string& address) {
  if (WatchesRequestFor(address)) {
    m_loadMayHaveGoneOut = true;
  }
}

void PaneRecovery::ResponsivenessChanged(bool responsive) {
  if (responsive) {
    Cancel(Timer::kUnresponsive);
    if (Notice() == PaneNotice::kUnresponsive) {
      SetNotice(PaneNotice::kNone);
      m_engine.SetHangNoticeVisible(false);
    }
    return;
  }
  if (m_loadWaiting && m_processAnswered && !m_loadMayHaveGoneOut) {
    // The page holds up a load the program asked for, before its request.
    RestartWaitingLoad();
    return;
  }
  if (!IsTimerRunning(Timer::kUnresponsive)) {
    Start(Timer::kUnresponsive, m_timings.unresponsiveNotice);
  }
}

void PaneRecovery::WebProcessEnded(Ending ending) {
  m_processAnswered = false;  // the next one has yet to start
  Cancel(Timer::kUnresponsive);
  m_engine.SetHangNoticeVisible(false);
  m_engine.CloseScriptDialog();
  if (m_replacingProcess) {
    return;
  }
  Cancel(Timer::kWatchdog);
  // A load whose page had not arrived yet; one whose page stands in the pane
  // comes back as that page.
  const bool loadLost = m_loadInFlight && m_load && !m_loadCommitted;
  m_loadWaiting = false;
  SetInFlight(false);

  if (ending == Ending::kByPaneSharingIt) {
    // This pane's page was fine and comes back by itself, in a new process
    // that is not the hung one.
    if (m_state == State::kHung) {
      SetNotice(PaneNotice::kNone);
    }
    if (!loadLost) {
      m_engine.ReloadPage();
    } else if (!m_loadMayHaveGoneOut) {
      // The program's load went with the process before its request did.
      m_loadReissued = true;
      IssueLoad();
    } else {
      // Its request may have reached the server.
      ShowLoadLost();
    }
    return;
  }

  PaneNotice notice = PaneNotice::kStopped;
  if (ending == Ending::kCrashed) {
    notice = PaneNotice::kCrashed;
  } else if (ending == Ending::kMemoryLimit) {
    notice = PaneNotice::kMemoryLimit;
  }
  if (notice != PaneNotice::kStopped) {
    // Crashes close together make a streak; from the second one on, loads
    // wait a little longer each time instead of restarting a crashing page
    // over and over.
    const auto now = m_clock();
    m_crashStreak = (m_crashStreak > 0 && now - m_lastCrash <= m_timings.crashStreakWindow)
                        ? m_crashStreak + 1
                        : 1;
    m_lastCrash = now;
    if (m_crashStreak >= 2) {
      auto delay = m_timings.crashBackoffFirst;
      for (unsigned i = 2; i < m_crashStreak && delay < m_timings.crashBackoffMax; ++i) {
        delay *= 2;
      }
      m_backoffUntil = now + std::min(delay, m_timings.crashBackoffMax);
    }
  }
  ShowNotice(notice);
  // A pane without a navigation bar brings its page back by itself, a moment
  // later (and later still, by the back-off, if the page keeps crashing).
  if (notice != PaneNotice::kStopped && m_recoversByItself) {
    Start(Timer::kRecover, m_timings.crashBackoffFirst);
  }
}

bool PaneRecovery::ScriptDialogArrived() {
  if (m_loadWaiting) {
    ++m_dialogsWhileWaiting;
  }
  return m_loadWaiting;
}

// --- Timers ----------------------------------------------------------------

void PaneRecovery::Start(Timer timer, std::chrono::milliseconds delay) {
  m_running[static_cast<std::size_t>(timer)] = true;
  m_engine.StartTimer(timer, std::max(delay, std::chrono::milliseconds(0)));
}

void PaneRecovery::Cancel(Timer timer) {
  if (std::exchange(m_running[static_cast<std::size_t>(timer)], false)) {
    m_engine.StopTimer(timer);
  }
}

void PaneRecovery::Fire(Timer timer) {
  if (!std::exchange(m_running[static_cast<std::size_t>(timer)], false)) {
    return;
  }
  switch (timer) {
    case Timer::kUnresponsive:
      if (!m_engine.IsResponsive()) {
        SetNotice(PaneNotice::kUnresponsive);
        m_engine.SetHangNoticeVisible(true);
      }
      break;
    case Timer::kBackoff:
      StartDeferredLoadWhenDue();
      break;
    case Timer::kWatchdog:
      // The program's navigation has not started. If the page kept it waiting
      // with dialogs or has stopped answering, its web process gives way.
      if (m_loadWaiting && !m_loadMayHaveGoneOut &&
          (m_dialogsWhileWaiting > 0 || (m_processAnswered && !m_engine.IsResponsive()))) {
        RestartWaitingLoad();
      }
      break;
    case Timer::kRecover:
      if (Notice() == PaneNotice::kCrashed || Notice() == PaneNotice::kMemoryLimit) {
        Refresh();
      }
      break;
    case Timer::kLostLoad:
      if (m_loadInFlight && !m_engine.IsLoading() && m_load) {
        SetInFlight(false);
        if (!m_loadMayHaveGoneOut) {
          if (!std::exchange(m_loadReissued, true)) {
            IssueLoad();
          }
        } else if (!m_loadCommitted) {
          ShowLoadLost();  // no page came, and the request may have gone out
        }
      }
      break;
  }
}

}  // namespace ticklark::web
