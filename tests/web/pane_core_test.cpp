// SPDX-License-Identifier: MIT
#include <array>
#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "web/core/pane_core.hpp"

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
class FakeEngine final : public PaneEngine {
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
  // A notice by its number; a page of the pane's own without one tells what
  // failed.
  void LoadOwnPage(const std::string& html, const std::string& address) override {
    const auto notice = static_cast<int>(machine->Notice());
    log.push_back(notice ? "notice " + std::to_string(notice) : "problem page");
    ownPage = html;
    current = address;
  }
  void KeepHistory() override {}
  void RestoreHistory() override { log.push_back("restore history"); }
  void SetHangNoticeVisible(bool visible) override { hangShown = visible; }
  void CloseScriptDialog() override { dialogShown = false; }
  bool ShowsScriptDialog() const override { return dialogShown; }
  bool IsResponsive() const override { return responsive; }
  bool IsLoading() const override { return loading; }
  bool CanGoBack() const override { return true; }
  bool CanGoForward() const override { return true; }
  std::string CurrentAddress() const override { return current; }
  bool Refuses(const std::string& address) const override {
    return address.starts_with("http://127.0.0.1:8642/");
  }
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

  PaneCore* machine = nullptr;
  Clock::time_point now{};
  std::array<std::optional<Clock::time_point>, PaneRecovery::kTimerCount> due{};
  std::vector<std::string> log;
  bool responsive = true;
  bool loading = false;
  bool hangShown = false;
  bool dialogShown = false;
  std::string current;
  std::string ownPage;
};

class PaneRecoveryTest : public ::testing::Test {
 protected:
  explicit PaneRecoveryTest(PaneBar bar = PaneBar::kNavigationBar, PaneRole role = PaneRole::kMain)
      : machine(engine, [this] { return engine.now; }, timings, role, bar) {
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
  PaneCore machine;
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
  EXPECT_EQ(machine.RecoveryState(), c.state);
  EXPECT_EQ(machine.Notice(), c.notice);
  EXPECT_EQ(engine.Take(), Log{"notice " + std::to_string(static_cast<int>(c.notice))});

  machine.Refresh();
  EXPECT_EQ(engine.Take(), Log{});
  machine.LoadFinished();
  EXPECT_EQ(engine.Take(), (Log{"restore history", "load current entry"}));
  EXPECT_EQ(machine.RecoveryState(), State::kLoading);
  EXPECT_EQ(machine.Notice(), PaneNotice::kNone);
  Loaded();
  EXPECT_EQ(machine.RecoveryState(), State::kIdle);
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
    ASSERT_EQ(machine.RecoveryState(), State::kLoading);
    Loaded();
    EndedWithNotice(Ending::kCrashed);
  }
  engine.Take();
  machine.Refresh();
  if (c.wait > 0ms) {
    EXPECT_EQ(machine.RecoveryState(), State::kBackingOff);
    EXPECT_EQ(machine.Notice(), PaneNotice::kCrashed);
    engine.Advance(c.wait - 1ms);
    EXPECT_EQ(engine.Take(), Log{});
    engine.Advance(1ms);
  }
  EXPECT_EQ(engine.Take(), (Log{"restore history", "load current entry"}));
  EXPECT_EQ(machine.RecoveryState(), State::kLoading);
}

INSTANTIATE_TEST_SUITE_P(Streaks, PaneRecoveryBackoff, ::testing::ValuesIn(kBackoffs),
                         [](const auto& param_info) { return param_info.param.name; });

TEST_F(PaneRecoveryTest, StopDuringTheBackoffDropsTheWaitingLoad) {
  EndedWithNotice(Ending::kCrashed);
  machine.Refresh();
  Loaded();
  EndedWithNotice(Ending::kCrashed);
  machine.Navigate("http://127.0.0.1/next");
  ASSERT_EQ(machine.RecoveryState(), State::kBackingOff);
  engine.Take();
  machine.Stop();
  EXPECT_EQ(machine.RecoveryState(), State::kCrashed);
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
  EXPECT_EQ(machine.RecoveryState(), State::kIdle);
  engine.Advance(1ms);
  EXPECT_EQ(machine.RecoveryState(), State::kHung);
  EXPECT_TRUE(engine.hangShown);

  engine.responsive = true;
  machine.ResponsivenessChanged(true);
  EXPECT_EQ(machine.RecoveryState(), State::kIdle);
  EXPECT_FALSE(engine.hangShown);

  engine.responsive = false;
  machine.ResponsivenessChanged(false);
  engine.Advance(timings.unresponsiveNotice);
  engine.Take();
  machine.Navigate("http://127.0.0.1/calm");
  // Replaced without a notice: the load goes straight to a new process.
  EXPECT_EQ(engine.Take(), (Log{"end web process", "load address"}));
  EXPECT_EQ(machine.RecoveryState(), State::kLoading);
  EXPECT_FALSE(engine.hangShown);

  Loaded();
  machine.ResponsivenessChanged(false);
  engine.Advance(timings.unresponsiveNotice);
  ASSERT_EQ(machine.RecoveryState(), State::kHung);
  engine.Take();
  machine.Stop();
  EXPECT_EQ(engine.Take(), (Log{"end web process", "notice 3"}));
  EXPECT_EQ(machine.RecoveryState(), State::kStopped);
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
  ASSERT_EQ(machine.RecoveryState(), State::kHung);
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
      EXPECT_EQ(machine.ForScriptDialog(ScriptDialogKind::kAlert), ScriptDialogAnswer::kDismiss);
    }
    engine.responsive = c.responsive;
    engine.Take();
    engine.Advance(timings.navigationWatchdog);
    const Log restarted{"end web process", "load address"};
    EXPECT_EQ(engine.Take(), c.restarted ? restarted : Log{});
    engine.responsive = true;
    Loaded();
    EXPECT_EQ(machine.ForScriptDialog(ScriptDialogKind::kAlert), ScriptDialogAnswer::kShow);
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
  EXPECT_EQ(machine.RecoveryState(), State::kIdle);

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
  EXPECT_EQ(machine.RecoveryState(), State::kHung);
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
    PaneCore fresh(
        engine, [this] { return engine.now; }, timings, PaneRole::kMain, PaneBar::kNavigationBar);
    engine.machine = &fresh;
    fresh.Navigate("http://127.0.0.1/page");
    if (c.request) {
      fresh.RequestSent(c.request);
    }
    fresh.LoadStarted();
    if (c.committed) {
      fresh.LoadCommitted(own);
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
    EXPECT_EQ(fresh.RecoveryState(), c.state);
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

struct KeyCase {
  const char* name;
  unsigned keyval;
  unsigned modifiers;
  PaneCommand command;
};

// The pane's keys; a notice or a page dialog turns a reload from the server
// into the pane's own Refresh, and Escape is the page's while nothing loads.
TEST_F(PaneRecoveryTest, KeysAreThePanesOwnWhateverTheirCaseAndOtherModifiers) {
  using namespace keys;
  const unsigned kLocks = 1u << 1 | 1u << 4;  // Caps Lock and Num Lock count for nothing
  const KeyCase cases[] = {
      {"F5", kF5, 0, PaneCommand::kReload},
      {"Ctrl+R", 'r', kCtrl, PaneCommand::kReload},
      {"Ctrl+R with Caps Lock and Num Lock", 'R', kCtrl | kLocks, PaneCommand::kReload},
      {"Ctrl+Shift+R", 'R', kCtrl | kShift, PaneCommand::kReloadFromServer},
      {"Ctrl+F5", kF5, kCtrl, PaneCommand::kReloadFromServer},
      {"Shift+F5", kF5, kShift, PaneCommand::kReloadFromServer},
      {"Alt+Left", kLeft, kAlt, PaneCommand::kBack},
      {"Alt+keypad Right", kKeypadRight, kAlt, PaneCommand::kForward},
      {"browser Back key", kBrowserBack, 0, PaneCommand::kBack},
      {"Left alone is the page's", kLeft, 0, PaneCommand::kNone},
      {"Super+Alt+Left is the desktop's", kLeft, kAlt | kSuper, PaneCommand::kNone},
      {"Ctrl+P", 'p', kCtrl, PaneCommand::kPrint},
      {"Ctrl+F", 'f', kCtrl, PaneCommand::kFind},
      {"F3", kF3, 0, PaneCommand::kFindNext},
      {"Shift+F3", kF3, kShift, PaneCommand::kFindPrevious},
      {"Ctrl+Shift+G", 'G', kCtrl | kShift, PaneCommand::kFindPrevious},
      {"Ctrl+=", '=', kCtrl, PaneCommand::kZoomIn},
      {"Ctrl+Shift++", '+', kCtrl | kShift, PaneCommand::kZoomIn},
      {"Ctrl+keypad minus", kKeypadSubtract, kCtrl, PaneCommand::kZoomOut},
      {"Ctrl+0", '0', kCtrl, PaneCommand::kZoomReset},
      {"Ctrl+A is the page's", 'a', kCtrl, PaneCommand::kNone},
      {"Escape while nothing loads is the page's", kEscape, 0, PaneCommand::kNone},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(machine.ForKey(c.keyval, c.modifiers), c.command);
  }
  engine.loading = true;
  EXPECT_EQ(machine.ForKey(kEscape, 0), PaneCommand::kStop);
  engine.dialogShown = true;
  EXPECT_EQ(machine.ForKey('r', kCtrl | kShift), PaneCommand::kReload);
  engine.dialogShown = false;
  EndedWithNotice(Ending::kCrashed);
  EXPECT_EQ(machine.ForKey(kF5, kCtrl), PaneCommand::kReload);
  EXPECT_EQ(machine.ForButton(kButtonBack), PaneCommand::kBack);
  EXPECT_EQ(machine.ForButton(1), PaneCommand::kNone);
}

// A response the pane cannot show, or a page's print request, goes on only
// after a click or key of the user's in the pane, one each, within the
// action's lifetime.
TEST_F(PaneRecoveryTest, SavingAndPrintingWaitForTheUsersOwnAction) {
  EXPECT_EQ(machine.ForResponse("", true), ResponseStep::kShow);
  EXPECT_EQ(machine.ForResponse("attachment", true), ResponseStep::kDrop);
  machine.ForButton(1);
  EXPECT_EQ(machine.ForResponse("", false), ResponseStep::kSave);
  EXPECT_TRUE(machine.TakeUserAction());
  EXPECT_FALSE(machine.TakeUserAction());
  machine.ForKey('a', 0);
  engine.now += PaneCore::kUserActionLifetime;
  EXPECT_EQ(machine.ForResponse("attachment", true), ResponseStep::kDrop);
  EXPECT_FALSE(machine.TakeUserAction());
}

// Another user's endpoint is never asked: the notice stands under its address,
// once, and a redirect or reload there brings the notice back instead. A
// failed load shows the pane's own page, whose Try again counts only as the
// user's click.
TEST_F(PaneRecoveryTest, RefusedAddressesAndOwnPagesAreSettledBeforeAnyLoad) {
  const std::string refused = "http://127.0.0.1:8642/ticklark/quotes.asp";
  machine.Navigate(refused);
  EXPECT_EQ(engine.Take(), Log{"notice 5"});
  EXPECT_EQ(machine.Notice(), PaneNotice::kRefused);
  EXPECT_EQ(engine.ownPage.find("Try again"), std::string::npos);
  EXPECT_EQ(machine.ForNavigation(refused, false), NavigationAnswer::kUse);
  machine.LoadCommitted(refused);
  EXPECT_EQ(machine.ForNavigation(refused, false), NavigationAnswer::kIgnoreAndRefuse);
  machine.Refresh();
  EXPECT_EQ(engine.Take(), Log{"notice 5"});
  EXPECT_EQ(machine.ForNavigation("javascript:alert(1)", true), NavigationAnswer::kIgnore);

  const std::string page = "http://127.0.0.1/quotes";
  machine.Navigate(page);
  EXPECT_EQ(machine.Notice(), PaneNotice::kNone);
  EXPECT_EQ(machine.ForNavigation(page, false), NavigationAnswer::kUse);
  EXPECT_FALSE(machine.LoadFailed({page, "g-io-error-quark", 19 /* cancelled */, "", true}));
  EXPECT_TRUE(machine.LoadFailed({page, "g-io-error-quark", 39 /* refused */, "", true}));
  EXPECT_EQ(engine.Take(), (Log{"load address", "problem page"}));
  machine.LoadCommitted(page);
  EXPECT_EQ(machine.ForNavigation(page, false), NavigationAnswer::kUse);
  EXPECT_EQ(machine.ForNavigation(page, true), NavigationAnswer::kIgnoreAndTryAgain);
}

class PaneRecoveryWithoutNavigationBar : public PaneRecoveryTest {
 protected:
  PaneRecoveryWithoutNavigationBar() : PaneRecoveryTest(PaneBar::kNone) {}
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
