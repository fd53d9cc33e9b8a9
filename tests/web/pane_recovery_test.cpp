// SPDX-License-Identifier: MIT
#include <array>
#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "web/pane_recovery.hpp"

namespace ticklark::web {
namespace {

using namespace std::chrono_literals;
using State = PaneRecovery::State;
using Timer = PaneRecovery::Timer;
using Ending = PaneRecovery::Ending;
using Clock = std::chrono::steady_clock;

// By PaneLoad::Kind.
constexpr const char* kLoadNames[] = {"load address", "load back", "load forward", "load reload",
                                      "load current entry"};

// Stands in for the web view: writes down what it is told, ends its web
// process the way the engine does (reporting it before returning), and keeps
// the timers on a clock the test moves.
class FakeEngine final : public PaneRecovery::Engine {
 public:
  void IssueLoad(const PaneLoad& load) override {
    log.push_back(kLoadNames[static_cast<std::size_t>(load.kind)]);
  }
  void StopLoading() override { log.push_back("stop loading"); }
  void EndWebProcess() override {
    log.push_back("end web process");
    machine->WebProcessEnded(Ending::kOnPurpose);
  }
  void ReloadPage() override { log.push_back("reload page"); }
  void ShowNoticePage(PaneNotice notice, const std::string&) override {
    log.push_back("notice " + std::to_string(static_cast<int>(notice)));
  }
  void RestoreHistory() override { log.push_back("restore history"); }
  void SetHangNoticeVisible(bool visible) override { hangShown = visible; }
  void CloseScriptDialog() override {}
  bool IsResponsive() const override { return responsive; }
  bool IsLoading() const override { return false; }
  void StartTimer(Timer timer, std::chrono::milliseconds delay) override {
    due[static_cast<std::size_t>(timer)] = now + delay;
  }
  void StopTimer(Timer timer) override { due[static_cast<std::size_t>(timer)].reset(); }

  // Moves the clock on by |step|, firing the timers that run out on the way.
  void Advance(std::chrono::milliseconds step) {
    const auto end = now + step;
    for (;;) {
      std::optional<std::size_t> next;
      for (std::size_t i = 0; i < due.size(); ++i) {
        if (due[i] && *due[i] <= end && (!next || *due[i] < *due[*next])) {
          next = i;
        }
      }
      if (!next) {
        break;
      }
      now = *due[*next];
      due[*next].reset();
      machine->Fire(static_cast<Timer>(*next));
    }
    now = end;
  }

  // Whatever was logged since the last call.
  std::vector<std::string> Take() { return std::exchange(log, {}); }

  PaneRecovery* machine = nullptr;
  Clock::time_point now{};
  std::array<std::optional<Clock::time_point>, PaneRecovery::kTimerCount> due{};
  std::vector<std::string> log;
  bool responsive = true;
  bool hangShown = false;
};

class PaneRecoveryTest : public ::testing::Test {
 protected:
  explicit PaneRecoveryTest(bool recoversByItself = false)
      : machine(engine, [this] { return engine.now; }, timings, recoversByItself) {
    engine.machine = &machine;
  }

  // The program's load runs to its end.
  void Loaded() {
    machine.LoadStarted();
    machine.LoadFinished();
  }
  // The web process ends, and its notice page finishes loading.
  void EndedWithNotice(Ending ending) {
    machine.WebProcessEnded(ending);
    Loaded();
  }

  PaneTimings timings;
  FakeEngine engine;
  PaneRecovery machine;
};

using Log = std::vector<std::string>;

struct EndingCase {
  const char* name;
  Ending ending;
  State state;
  PaneNotice notice;
};

const EndingCase kEndings[] = {
    {"Crash", Ending::kCrashed, State::kCrashed, PaneNotice::kCrashed},
    {"MemoryLimit", Ending::kMemoryLimit, State::kCrashed, PaneNotice::kMemoryLimit},
    {"EndedOnPurpose", Ending::kOnPurpose, State::kStopped, PaneNotice::kStopped},
};

void PrintTo(const EndingCase& c, std::ostream* out) {
  *out << c.name;
}

class PaneRecoveryEndings : public PaneRecoveryTest,
                            public ::testing::WithParamInterface<EndingCase> {};

// The notice takes the page's place; a load ordered before the notice has
// loaded waits for it (or it would replace the load), then brings back the
// history the notice took a place in.
TEST_P(PaneRecoveryEndings, ShowANoticeUntilTheNextLoadWhichPutsTheHistoryBack) {
  const EndingCase& c = GetParam();
  machine.Navigate("http://127.0.0.1/page");
  Loaded();
  engine.Take();
  machine.WebProcessEnded(c.ending);
  EXPECT_EQ(machine.CurrentState(), c.state);
  EXPECT_EQ(machine.Notice(), c.notice);
  EXPECT_EQ(engine.Take(), Log{"notice " + std::to_string(static_cast<int>(c.notice))});

  machine.Refresh();
  EXPECT_EQ(engine.Take(), Log{});
  machine.LoadFinished();
  EXPECT_EQ(engine.Take(), (Log{"restore history", "load current entry"}));
  EXPECT_EQ(machine.CurrentState(), State::kLoading);
  EXPECT_EQ(machine.Notice(), PaneNotice::kNone);
  Loaded();
  EXPECT_EQ(machine.CurrentState(), State::kIdle);
  machine.Refresh();
  EXPECT_EQ(engine.Take(), Log{"load reload"});
}

INSTANTIATE_TEST_SUITE_P(Endings, PaneRecoveryEndings, ::testing::ValuesIn(kEndings),
                         [](const auto& param_info) { return param_info.param.name; });

struct BackoffCase {
  const char* name;
  std::vector<std::chrono::milliseconds> gapsBetweenCrashes;
  std::chrono::milliseconds wait;  // from Refresh after the last crash to the load
};

const BackoffCase kBackoffs[] = {
    {"FirstCrashReloadsAtOnce", {}, 0ms},
    {"SecondWaitsTheFirstDelay", {5s}, 1000ms},
    {"ThirdWaitsTwice", {5s, 5s}, 2000ms},
    {"FifthWaitsEightTimes", {5s, 5s, 5s, 5s}, 8000ms},
    // Each gap leaves time for the delay before it: 1, 2, 4, 8 and 16 s.
    {"NeverBeyondTheMaximum", {5s, 5s, 5s, 10s, 20s, 40s}, 30000ms},
    {"ACrashAfterTheStreakWindowStartsAfresh", {5s, 61s}, 0ms},
};

void PrintTo(const BackoffCase& c, std::ostream* out) {
  *out << c.name;
}

class PaneRecoveryBackoff : public PaneRecoveryTest,
                            public ::testing::WithParamInterface<BackoffCase> {};

TEST_P(PaneRecoveryBackoff, RepeatedCrashesDelayTheReload) {
  const BackoffCase& c = GetParam();
  EndedWithNotice(Ending::kCrashed);
  for (const auto gap : c.gapsBetweenCrashes) {
    machine.Refresh();
    engine.Advance(gap);
    ASSERT_EQ(machine.CurrentState(), State::kLoading);
    Loaded();
    EndedWithNotice(Ending::kCrashed);
  }
  engine.Take();
  machine.Refresh();
  if (c.wait > 0ms) {
    EXPECT_EQ(machine.CurrentState(), State::kBackingOff);
    EXPECT_EQ(machine.Notice(), PaneNotice::kCrashed);
    engine.Advance(c.wait - 1ms);
    EXPECT_EQ(engine.Take(), Log{});
    engine.Advance(1ms);
  }
  EXPECT_EQ(engine.Take(), (Log{"restore history", "load current entry"}));
  EXPECT_EQ(machine.CurrentState(), State::kLoading);
}

INSTANTIATE_TEST_SUITE_P(Streaks, PaneRecoveryBackoff, ::testing::ValuesIn(kBackoffs),
                         [](const auto& param_info) { return param_info.param.name; });

TEST_F(PaneRecoveryTest, StopDuringTheBackoffDropsTheWaitingLoad) {
  EndedWithNotice(Ending::kCrashed);
  machine.Refresh();
  Loaded();
  EndedWithNotice(Ending::kCrashed);
  machine.Navigate("http://127.0.0.1/next");
  ASSERT_EQ(machine.CurrentState(), State::kBackingOff);
  engine.Take();
  machine.Stop();
  EXPECT_EQ(machine.CurrentState(), State::kCrashed);
  engine.Advance(60s);
  EXPECT_EQ(engine.Take(), Log{"stop loading"});
}

// A page that stops answering gets a notice after a while; Stop ends its web
// process, a navigation replaces it, and an answer clears the notice.
TEST_F(PaneRecoveryTest, AHungPageIsReportedThenStoppedReplacedOrForgiven) {
  machine.Navigate("http://127.0.0.1/spin");
  Loaded();
  engine.responsive = false;
  machine.ResponsivenessChanged(false);
  engine.Advance(timings.unresponsiveNotice - 1ms);
  EXPECT_EQ(machine.CurrentState(), State::kIdle);
  engine.Advance(1ms);
  EXPECT_EQ(machine.CurrentState(), State::kHung);
  EXPECT_TRUE(engine.hangShown);

  engine.responsive = true;
  machine.ResponsivenessChanged(true);
  EXPECT_EQ(machine.CurrentState(), State::kIdle);
  EXPECT_FALSE(engine.hangShown);

  engine.responsive = false;
  machine.ResponsivenessChanged(false);
  engine.Advance(timings.unresponsiveNotice);
  engine.Take();
  machine.Navigate("http://127.0.0.1/calm");
  // Replaced without a notice: the load goes straight to a new process.
  EXPECT_EQ(engine.Take(), (Log{"end web process", "load address"}));
  EXPECT_EQ(machine.CurrentState(), State::kLoading);
  EXPECT_FALSE(engine.hangShown);

  Loaded();
  machine.ResponsivenessChanged(false);
  engine.Advance(timings.unresponsiveNotice);
  ASSERT_EQ(machine.CurrentState(), State::kHung);
  engine.Take();
  machine.Stop();
  EXPECT_EQ(engine.Take(), (Log{"end web process", "notice 3"}));
  EXPECT_EQ(machine.CurrentState(), State::kStopped);
  EXPECT_FALSE(engine.hangShown);
}

// A pane sharing the hung process brings its page back when another pane ends
// that process; what it then shows is not hung any more.
TEST_F(PaneRecoveryTest, APaneWhoseSharedProcessWasEndedReloadsAndIsNoLongerHung) {
  machine.Navigate("http://127.0.0.1/quotes");
  Loaded();
  engine.responsive = false;
  machine.ResponsivenessChanged(false);
  engine.Advance(timings.unresponsiveNotice);
  ASSERT_EQ(machine.CurrentState(), State::kHung);
  engine.Take();
  engine.responsive = true;
  machine.WebProcessEnded(Ending::kByPaneSharingIt);
  EXPECT_EQ(engine.Take(), Log{"reload page"});
  EXPECT_EQ(machine.Notice(), PaneNotice::kNone);
  machine.Stop();
  EXPECT_EQ(engine.Take(), Log{"stop loading"});
}

struct WatchdogCase {
  const char* name;
  unsigned dialogs;  // the page's dialogs while the program's load waits
  bool responsive;
  bool requested;  // the network side sent the load's request
  bool restarted;
};

TEST_F(PaneRecoveryTest, AProgramLoadThePageHoldsUpIsRestartedInANewProcess) {
  const WatchdogCase cases[] = {
      {"NothingInTheWay", 0, true, false, false},
      {"Dialogs", 2, true, false, true},
      {"NoAnswer", 0, false, false, true},
      {"DialogsAfterTheRequest", 2, true, true, false},
      {"NoAnswerAfterTheRequest", 0, false, true, false},
  };
  for (const WatchdogCase& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Navigate("http://127.0.0.1/after");
    if (c.requested) {
      machine.RequestSent("http://127.0.0.1/after");
    }
    for (unsigned i = 0; i < c.dialogs; ++i) {
      EXPECT_TRUE(machine.ScriptDialogArrived());
    }
    engine.responsive = c.responsive;
    engine.Take();
    engine.Advance(timings.navigationWatchdog);
    const Log restarted{"end web process", "load address"};
    EXPECT_EQ(engine.Take(), c.restarted ? restarted : Log{});
    engine.responsive = true;
    Loaded();
    EXPECT_FALSE(machine.ScriptDialogArrived());
  }
}

// A web process that has not started any load of the pane yet is only slow
// (starting, or on a busy machine): it is left to start and gets the usual
// notice if it stays silent. The panes of a window share it, and each pane
// whose process was ended would get one of its own.
TEST_F(PaneRecoveryTest, AWebProcessIsNotReplacedBeforeItHasStartedALoadOfThePane) {
  machine.Navigate("http://127.0.0.1/first");
  engine.responsive = false;
  machine.ResponsivenessChanged(false);
  engine.Advance(timings.navigationWatchdog);
  EXPECT_EQ(engine.Take(), Log{"load address"});
  engine.responsive = true;
  machine.ResponsivenessChanged(true);
  Loaded();
  EXPECT_EQ(machine.CurrentState(), State::kIdle);

  // Once it has, a process that holds up a load is replaced, and the new one
  // is given the same time to start.
  machine.Navigate("http://127.0.0.1/second");
  engine.responsive = false;
  engine.Take();
  machine.ResponsivenessChanged(false);
  EXPECT_EQ(engine.Take(), (Log{"end web process", "load address"}));
  machine.ResponsivenessChanged(false);
  engine.Advance(timings.navigationWatchdog);
  EXPECT_EQ(engine.Take(), Log{});
  engine.Advance(timings.unresponsiveNotice);
  EXPECT_EQ(machine.CurrentState(), State::kHung);
  EXPECT_TRUE(engine.hangShown);
}

// A load the engine loses is ordered again only while its request cannot
// have gone out; one command is never two requests.
struct LostLoadCase {
  const char* name;
  const char* request;  // a request the network side sent before the loss
  bool committed;       // the load's page had arrived
  bool processEnded;    // lost with the web process another pane ended, else dropped
  Log afterLoss;        // twice lost, for a dropped load
  State state;
  Log onRefresh;  // Refresh once the notice, if any, is in
};

TEST_F(PaneRecoveryTest, ALostLoadIsOrderedAgainOnlyWhileItsRequestCannotHaveGoneOut) {
  const char* own = "http://127.0.0.1/page";
  const LostLoadCase cases[] = {
      {"DroppedBeforeItsRequest", nullptr, false, false, {"load address"}, State::kIdle, {}},
      {"DroppedAfterAnotherRequest",
       "http://127.0.0.1/poll",
       false,
       false,
       {"load address"},
       State::kIdle,
       {}},
      {"DroppedAfterItsRequest",
       own,
       false,
       false,
       {"notice 3"},
       State::kStopped,
       {"restore history", "load address"}},
      {"EndedBeforeItsRequest", nullptr, false, true, {"load address"}, State::kLoading, {}},
      {"EndedOnceItsPageArrived", own, true, true, {"reload page"}, State::kIdle, {}},
      // The notice's Try again, or Refresh, asks for the lost page itself.
      {"EndedAfterItsRequest",
       own,
       false,
       true,
       {"notice 3"},
       State::kStopped,
       {"restore history", "load address"}},
  };
  for (const LostLoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    PaneRecovery fresh(engine, [this] { return engine.now; }, timings, false);
    engine.machine = &fresh;
    fresh.Navigate("http://127.0.0.1/page");
    if (c.request) {
      fresh.RequestSent(c.request);
    }
    fresh.LoadStarted();
    if (c.committed) {
      fresh.LoadCommitted();
    }
    engine.Take();
    if (c.processEnded) {
      fresh.WebProcessEnded(Ending::kByPaneSharingIt);
    } else {
      for (int drop = 0; drop < 2; ++drop) {
        fresh.LoadingChanged(false);
        engine.Advance(0ms);
      }
    }
    EXPECT_EQ(engine.Take(), c.afterLoss);
    EXPECT_EQ(fresh.CurrentState(), c.state);
    if (c.state == State::kStopped) {
      fresh.LoadFinished();  // the notice is in
    }
    if (!c.onRefresh.empty()) {
      fresh.Refresh();
      EXPECT_EQ(engine.Take(), c.onRefresh);
    }
  }
  engine.machine = &machine;
}

class PaneRecoveryWithoutNavigationBar : public PaneRecoveryTest {
 protected:
  PaneRecoveryWithoutNavigationBar() : PaneRecoveryTest(true) {}
};

TEST_F(PaneRecoveryWithoutNavigationBar, ReloadsByItselfAfterACrashButNotAfterAStop) {
  EndedWithNotice(Ending::kOnPurpose);
  engine.Take();
  engine.Advance(60s);
  EXPECT_EQ(engine.Take(), Log{});

  EndedWithNotice(Ending::kCrashed);
  engine.Take();
  engine.Advance(timings.crashBackoffFirst);
  EXPECT_EQ(engine.Take(), (Log{"restore history", "load current entry"}));
}

}  // namespace
}  // namespace ticklark::web
