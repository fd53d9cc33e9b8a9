// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "web/core/pane_keys.hpp"
#include "web/core/pane_pages.hpp"
#include "web/core/pane_policy.hpp"
#include "web/core/pane_recovery.hpp"

namespace ticklark::web {

// The engine side of a pane as its core sees it: carries out what the core
// decides and answers its questions. Calls may come back into the core.
class PaneEngine {
 public:
  using Timer = PaneRecovery::Timer;

  virtual ~PaneEngine() = default;
  virtual void IssueLoad(const PaneLoad& load) = 0;
  virtual void StopLoading() = 0;
  virtual void EndWebProcess() = 0;
  // The page lost its web process through another pane: load it again.
  virtual void ReloadPage() = 0;
  // A page of the pane's own, in place of the page, under |address|.
  virtual void LoadOwnPage(const std::string& html, const std::string& address) = 0;
  // Keeps the history as it is aside, unless some is kept already, until
  // RestoreHistory puts it back.
  virtual void KeepHistory() = 0;
  virtual void RestoreHistory() = 0;
  virtual void SetHangNoticeVisible(bool visible) = 0;
  virtual void CloseScriptDialog() = 0;
  virtual bool ShowsScriptDialog() const = 0;
  virtual bool IsResponsive() const = 0;
  virtual bool IsLoading() const = 0;
  virtual bool CanGoBack() const = 0;
  virtual bool CanGoForward() const = 0;
  virtual std::string CurrentAddress() const = 0;
  // The session refuses |address| (another user's endpoint holds it).
  virtual bool Refuses(const std::string& address) const = 0;
  // Starts |timer| (again) to fire after |delay|, kLostLoad once the main
  // loop is idle instead. The engine calls PaneCore::Fire when it runs out.
  virtual void StartTimer(Timer timer, std::chrono::milliseconds delay) = 0;
  virtual void StopTimer(Timer timer) = 0;
};

// What the pane does with a navigation the engine asks about.
enum class NavigationAnswer {
  kUse,
  kIgnore,
  // Ignored; then the pane's Refresh (the user clicked "Try again").
  kIgnoreAndTryAgain,
  // Ignored; then the refusal notice in its place (reached by a redirect, the
  // history or a reload: nothing goes out).
  kIgnoreAndRefuse,
};

// What the pane does with a response it was offered.
enum class ResponseStep {
  kShow,
  kSave,  // the user asked for it in the pane: saved where the user says
  kDrop,
};

// A load the engine reports failed, by the error's domain name and code.
struct LoadFailure {
  std::string address;
  std::string domain;
  int code = 0;
  std::string message;
  bool networkAvailable = true;
};

// Every decision of one pane, without the engine or the toolkit: what pages
// may do (its PanePolicy), how it gets its page back (its PaneRecovery), the
// refusal of another user's endpoint, its own pages and their "Try again",
// the user's actions that a download or a print request needs, and its keys.
// The engine side reports what happens and carries out the answers.
class PaneCore final : private PaneRecovery::Engine {
 public:
  using Clock = PaneRecovery::Clock;
  using Ending = PaneRecovery::Ending;
  using Timer = PaneRecovery::Timer;

  // How long a click or key press stays good for a download or print request.
  static constexpr std::chrono::seconds kUserActionLifetime{30};

  // |engine| and |timings| outlive the core.
  PaneCore(PaneEngine& engine, Clock clock, const PaneTimings& timings, PaneRole role, PaneBar bar);

  PaneCore(const PaneCore&) = delete;
  PaneCore& operator=(const PaneCore&) = delete;

  const PanePolicy& Policy() const { return m_policy; }
  PaneRecovery::State RecoveryState() const { return m_recovery.CurrentState(); }
  PaneNotice Notice() const;

  // The pane's operations.
  void Navigate(const std::string& address);
  void GoBack();
  void GoForward();
  void Refresh();
  void Stop();

  // What the engine asks and reports.
  NavigationAnswer ForNavigation(const std::string& address, bool linkClickedByUser);
  void ShowRefusal(const std::string& address);
  ResponseStep ForResponse(std::string_view disposition, bool paneCanShowType);
  ScriptDialogAnswer ForScriptDialog(ScriptDialogKind kind);
  void LoadStarted();
  void LoadCommitted(const std::string& address);
  void LoadFinished();
  // Returns whether the pane shows a page of its own for the failure (or a
  // notice stands there already); otherwise the engine shows its own.
  bool LoadFailed(const LoadFailure& failure);
  void LoadingChanged(bool loading);
  bool WatchesRequestFor(const std::string& address) const;
  void RequestSent(const std::string& address);
  void ResponsivenessChanged(bool responsive);
  void WebProcessEnded(Ending ending);
  void Fire(Timer timer);

  // The user.
  // A key pressed while the focus is in the pane: what the pane does with it.
  PaneCommand ForKey(unsigned keyval, unsigned modifiers);
  // A mouse button pressed in the pane.
  PaneCommand ForButton(unsigned button);
  // Any other click, key or touch of the user's in the pane.
  void UserActed();
  // Whether a user's action in the pane is there for a download or a print
  // request of the page; Take uses it up.
  bool HasUserAction() const;
  bool TakeUserAction();

 private:
  // PaneRecovery::Engine: the recovery's orders, most passed on.
  void IssueLoad(const PaneLoad& load) override;
  void StopLoading() override { m_engine.StopLoading(); }
  void EndWebProcess() override { m_engine.EndWebProcess(); }
  void ReloadPage() override;
  void ShowNoticePage(PaneNotice notice, const std::string& address) override;
  void RestoreHistory() override { m_engine.RestoreHistory(); }
  void SetHangNoticeVisible(bool visible) override { m_engine.SetHangNoticeVisible(visible); }
  void CloseScriptDialog() override { m_engine.CloseScriptDialog(); }
  bool IsResponsive() const override { return m_engine.IsResponsive(); }
  bool IsLoading() const override { return m_engine.IsLoading(); }
  void StartTimer(Timer timer, std::chrono::milliseconds delay) override {
    m_engine.StartTimer(timer, delay);
  }
  void StopTimer(Timer timer) override { m_engine.StopTimer(timer); }

  OwnPage OwnPageFor(const std::string& address) const;
  void LoadOwnPage(const std::string& html, const std::string& address);

  PaneEngine& m_engine;
  Clock m_clock;
  const PanePolicy m_policy;
  PaneRecovery m_recovery;
  // The session refuses the page's address: a notice stands in its place and
  // nothing is sent there. Settled here, before the recovery hears of a load.
  bool m_showsRefusal = false;
  bool m_refusalLoading = false;
  // The pane's own pages (notices, failed loads): one loading, then shown
  // under |m_ownPageAddress|; a click on its "Try again" is the pane's Refresh.
  std::string m_ownPageAddress;
  bool m_ownPageLoading = false;
  bool m_ownPageShown = false;
  // The user's latest click or key press in the pane, until used.
  bool m_userAction = false;
  std::chrono::steady_clock::time_point m_userActionAt{};
};

}  // namespace ticklark::web
