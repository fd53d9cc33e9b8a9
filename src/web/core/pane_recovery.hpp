// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace ticklark::web {

// How long a pane waits before it tells the user about trouble with its web
// process, and how it backs off from a page that keeps crashing.
struct PaneTimings {
  // A web process that has not answered for this long gets a notice.
  std::chrono::milliseconds unresponsiveNotice{10000};
  // A crash within this time of the previous one continues a crash streak.
  std::chrono::milliseconds crashStreakWindow{60000};
  // Second crash of a streak: loads wait this long after it; doubling after
  // every further crash, up to the maximum.
  std::chrono::milliseconds crashBackoffFirst{1000};
  std::chrono::milliseconds crashBackoffMax{30000};
  // A navigation ordered by the program that has not started after this long,
  // while the page keeps it waiting, replaces the page's web process.
  std::chrono::milliseconds navigationWatchdog{3000};
};

// What a pane shows in place of its page when its web process is in trouble.
enum class PaneNotice {
  kNone,
  kCrashed,       // the web process crashed
  kMemoryLimit,   // the web process grew past its memory limit and was ended
  kStopped,       // the web process was ended on purpose (Stop on a hung page)
  kUnresponsive,  // the web process has not answered for a while
  kRefused,       // the page's address is refused by the session (another user's endpoint)
};

// A load the program orders in a pane.
struct PaneLoad {
  enum class Kind {
    kAddress,
    kBack,
    kForward,
    kReload,
    // The history's current entry, loaded anew: the page a notice stood in for.
    kCurrentEntry,
  };
  Kind kind = Kind::kReload;
  std::string address;  // for kAddress
};

// How a pane gets its page back when its web process is in trouble, as an
// explicit state machine. It hears the pane's operations and what the engine
// reports, and tells the engine side what to do; it knows neither the engine
// nor the toolkit, and reads the time from the clock it is given.
//
//   Idle --program load--> Loading --finished--> Idle
//   Idle, Loading --no answer for a while--> Hung --Stop--> Stopped
//   Hung --answers again--> Idle, Loading
//   any --web process crashed or over its memory limit--> Crashed
//   any --web process ended on purpose--> Stopped
//   Crashed, Stopped --load ordered--> Loading, or BackingOff while a crash
//       streak's delay runs --delay over--> Loading
//   Hung --load ordered--> (the web process is replaced) Loading
//
// Besides, a load the page keeps from starting (with dialogs, or by hanging)
// replaces the web process after a while, and a load the engine drops without
// a word is ordered once more. A web process that has not yet started any load
// of the pane is never replaced for being slow to answer. A load is ordered
// again only while it is certain that its request never went out: once the
// network side has sent a request that may be the load's, one command stays
// one request, and a load lost after that is not asked for again by itself.
class PaneRecovery {
 public:
  enum class State { kIdle, kLoading, kHung, kCrashed, kBackingOff, kStopped };

  // Why the web process ended, as far as the pane is concerned.
  enum class Ending {
    kCrashed,
    kMemoryLimit,
    kOnPurpose,        // by this pane (Stop, or making way for a new process)
    kByPaneSharingIt,  // another pane of the window ended the process they share
  };

  enum class Timer {
    kUnresponsive,  // a web process not answering gets a notice when it runs out
    kBackoff,       // a crash streak's delay before a load
    kWatchdog,      // a program load that has not started
    kRecover,       // a pane without a navigation bar reloads after a crash
    kLostLoad,      // a load the engine may have dropped; runs once the loop is idle
  };
  static constexpr std::size_t kTimerCount = 5;

  // The engine side: carries out what the machine decides and answers its
  // questions. Calls may come back into the machine (ending a web process
  // reports the ending before EndWebProcess returns).
  class Engine {
   public:
    virtual ~Engine() = default;
    virtual void IssueLoad(const PaneLoad& load) = 0;
    virtual void StopLoading() = 0;
    virtual void EndWebProcess() = 0;
    // The page lost its web process through another pane: load it again.
    virtual void ReloadPage() = 0;
    // Shows |notice| as a page in place of the current one, under |address|
    // (empty: the current page's); the history as it was is kept aside until
    // RestoreHistory.
    virtual void ShowNoticePage(PaneNotice notice, const std::string& address) = 0;
    virtual void RestoreHistory() = 0;
    virtual void SetHangNoticeVisible(bool visible) = 0;
    virtual void CloseScriptDialog() = 0;
    virtual bool IsResponsive() const = 0;
    virtual bool IsLoading() const = 0;
    // Starts |timer| (again) to fire after |delay|, kLostLoad once the main
    // loop is idle instead. The engine calls Fire(timer) when it runs out.
    virtual void StartTimer(Timer timer, std::chrono::milliseconds delay) = 0;
    virtual void StopTimer(Timer timer) = 0;
  };

  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // |timings| and |engine| outlive the machine.
  PaneRecovery(Engine& engine, Clock clock, const PaneTimings& timings, bool recoversByItself);

  PaneRecovery(const PaneRecovery&) = delete;
  PaneRecovery& operator=(const PaneRecovery&) = delete;

  State CurrentState() const { return m_state; }
  PaneNotice Notice() const;

  // The pane operations that load. Back and Forward are ordered only when the
  // history has a page in that direction.
  void Navigate(const std::string& address);
  void GoBack();
  void GoForward();
  void Refresh();
  void Stop();

  // What the engine reports.
  void LoadStarted();
  // The load's page has arrived and stands in the pane, still loading.
  void LoadCommitted();
  void LoadFinished();
  void LoadingChanged(bool loading);
  // Whether a request for |address| that the network side starts now may be
  // the program's load on its way out: while the load is in flight and its page
  // has not arrived, one for its address, or any for a load of the history.
  // The engine side then watches it.
  bool WatchesRequestFor(const std::string& address) const;
  // The network side sent such a request to the server.
  void RequestSent(const std::string& address);
  void ResponsivenessChanged(bool responsive);
  void WebProcessEnded(Ending ending);
  // A page's alert, confirm or prompt arrived. Returns whether a load the
  // program ordered is still waiting to start.
  bool ScriptDialogArrived();
  void Fire(Timer timer);

  bool IsTimerRunning(Timer timer) const { return m_running[static_cast<std::size_t>(timer)]; }

 private:
  void Order(PaneLoad load);
  void StartDeferredLoadWhenDue();
  void StartLoad(PaneLoad load);
  void IssueLoad();
  void ReplaceWebProcess();
  void RestartWaitingLoad();
  void ShowNotice(PaneNotice notice);
  // The program's load was lost after its request may have gone out.
  void ShowLoadLost();
  // The notice shown decides the state, except while backing off, which
  // keeps the notice that stood when the load began to wait.
  void SetNotice(PaneNotice notice);
  State StateShowing(PaneNotice notice);
  void LeaveBackingOff();
  void SetInFlight(bool inFlight);
  void Start(Timer timer, std::chrono::milliseconds delay);
  void Cancel(Timer timer);

  Engine& m_engine;
  Clock m_clock;
  const PaneTimings& m_timings;
  const bool m_recoversByItself;

  State m_state = State::kIdle;
  // Which crash a Crashed pane shows; what a BackingOff pane showed when its
  // load began to wait.
  PaneNotice m_crashNotice = PaneNotice::kCrashed;
  PaneNotice m_noticeWhileBackingOff = PaneNotice::kNone;

  // The program's latest load, kept to order it again.
  std::optional<PaneLoad> m_load;
  bool m_loadWaiting = false;   // ordered, the engine has not started it yet
  bool m_loadInFlight = false;  // ordered, not finished yet
  bool m_loadReissued = false;
  bool m_loadMayHaveGoneOut = false;
  bool m_loadCommitted = false;
  // The load a Stopped notice stands in for, lost after its request may have
  // gone out; Refresh orders it again.
  std::optional<PaneLoad> m_lostLoad;
  unsigned m_dialogsWhileWaiting = 0;

  // A load ordered while a notice page was still loading (it would replace the
  // load) or while a crash streak's delay runs.
  std::optional<PaneLoad> m_deferredLoad;
  bool m_noticeLoading = false;
  // A notice page stands in the history in place of the page.
  bool m_noticeStandsIn = false;
  // This pane is ending its own web process to make way for a new one.
  bool m_replacingProcess = false;
  // The pane's web process has started one of its loads. Until it has, one
  // that does not answer is still starting or short of the processor on a
  // busy machine: no page of the pane can hold it up, and ending it would
  // only scatter the window's panes, which share it, over processes of their
  // own (the engine starts one for each page whose process was ended). Such a
  // process gets the usual notice when it keeps silent.
  bool m_processAnswered = false;

  unsigned m_crashStreak = 0;
  std::chrono::steady_clock::time_point m_lastCrash{};
  std::chrono::steady_clock::time_point m_backoffUntil{};

  std::array<bool, kTimerCount> m_running{};
};

}  // namespace ticklark::web
