// SPDX-License-Identifier: MIT
#include "web/core/pane_core.hpp"

#include <utility>

namespace ticklark::web {

PaneCore::PaneCore(PaneEngine& engine, Clock clock, const PaneTimings& timings, PaneRole role,
                   PaneBar bar)
    : m_engine(engine),
      m_clock(std::move(clock)),
      m_policy(role, bar),
      m_recovery(*this, m_clock, timings, m_policy.RecoversByItself()) {}

PaneNotice PaneCore::Notice() const {
  return m_showsRefusal ? PaneNotice::kRefused : m_recovery.Notice();
}

// --- Operations -------------------------------------------------------------

void PaneCore::Navigate(const std::string& address) {
  if (!PanePolicy::MayShow(address)) {
    return;  // a javascript: address would otherwise run in the current page
  }
  if (m_engine.Refuses(address)) {
    m_engine.CloseScriptDialog();
    ShowRefusal(address);
    return;
  }
  m_showsRefusal = false;
  m_recovery.Navigate(address);
}

void PaneCore::GoBack() {
  if (m_engine.CanGoBack()) {
    m_recovery.GoBack();
  }
}

void PaneCore::GoForward() {
  if (m_engine.CanGoForward()) {
    m_recovery.GoForward();
  }
}

void PaneCore::Refresh() {
  if (m_showsRefusal) {
    // A reload of the notice could ask the refused address itself.
    const std::string address = m_engine.CurrentAddress();
    ShowRefusal(address.empty() ? "about:blank" : address);
    return;
  }
  m_recovery.Refresh();
}

void PaneCore::Stop() {
  m_recovery.Stop();
}

// --- What the engine asks and reports ----------------------------------------

// A "Try again" of the pane's own page counts only as the user's click on it:
// the pages run no script, and the link goes only to the address they name.
NavigationAnswer PaneCore::ForNavigation(const std::string& address, bool linkClickedByUser) {
  if (m_ownPageShown && linkClickedByUser && address == m_ownPageAddress) {
    return NavigationAnswer::kIgnoreAndTryAgain;
  }
  if (m_engine.Refuses(address)) {
    if (std::exchange(m_refusalLoading, false)) {
      return NavigationAnswer::kUse;  // the notice itself, shown under the address
    }
    return NavigationAnswer::kIgnoreAndRefuse;
  }
  if (PanePolicy::MayShow(address)) {
    m_showsRefusal = false;
    return NavigationAnswer::kUse;
  }
  return NavigationAnswer::kIgnore;
}

void PaneCore::ShowRefusal(const std::string& address) {
  m_showsRefusal = true;
  m_refusalLoading = true;
  OwnPage page = OwnPageFor(address);
  page.offersRetry = false;  // nothing would be asked there again
  LoadOwnPage(NoticePage(PaneNotice::kRefused, page), address);
}

// What the pane cannot show is saved at the user's word, else dropped.
ResponseStep PaneCore::ForResponse(std::string_view disposition, bool paneCanShowType) {
  if (PanePolicy::ForResponse(disposition, paneCanShowType) == ResponseAnswer::kShow) {
    return ResponseStep::kShow;
  }
  return HasUserAction() ? ResponseStep::kSave : ResponseStep::kDrop;
}

ScriptDialogAnswer PaneCore::ForScriptDialog(ScriptDialogKind kind) {
  const bool loadWaiting =
      kind != ScriptDialogKind::kBeforeUnload && m_recovery.ScriptDialogArrived();
  return m_policy.ForScriptDialog(kind, loadWaiting);
}

void PaneCore::LoadStarted() {
  m_recovery.LoadStarted();
}

// Only the refusal notice ever commits under a refused address; the history
// may bring it back without asking the navigation policy.
void PaneCore::LoadCommitted(const std::string& address) {
  m_showsRefusal = !address.empty() && m_engine.Refuses(address);
  m_refusalLoading = false;  // the next load of a refused address is refused again
  m_ownPageShown = std::exchange(m_ownPageLoading, false);
  m_recovery.LoadCommitted();
}

void PaneCore::LoadFinished() {
  m_recovery.LoadFinished();
}

// In place of the engine's one line of text: a page of the pane's own that
// says what failed. Nothing is asked for again until the user says so.
bool PaneCore::LoadFailed(const LoadFailure& failure) {
  if (Notice() != PaneNotice::kNone) {
    return true;  // a notice stands in the page's place already
  }
  if (!ShowsAProblemPage(failure.domain, failure.code)) {
    return false;
  }
  const LoadProblem problem =
      ProblemOf(failure.domain, failure.code, failure.address, failure.networkAvailable);
  LoadOwnPage(ProblemPage(problem, OwnPageFor(failure.address), failure.message), failure.address);
  return true;
}

void PaneCore::LoadingChanged(bool loading) {
  m_recovery.LoadingChanged(loading);
}

bool PaneCore::WatchesRequestFor(const std::string& address) const {
  return m_recovery.WatchesRequestFor(address);
}

void PaneCore::RequestSent(const std::string& address) {
  m_recovery.RequestSent(address);
}

void PaneCore::ResponsivenessChanged(bool responsive) {
  m_recovery.ResponsivenessChanged(responsive);
}

void PaneCore::WebProcessEnded(Ending ending) {
  m_recovery.WebProcessEnded(ending);
}

void PaneCore::Fire(Timer timer) {
  m_recovery.Fire(timer);
}

// --- The user ---------------------------------------------------------------

PaneCommand PaneCore::ForKey(unsigned keyval, unsigned modifiers) {
  UserActed();
  const PaneCommand command = CommandForKey(keyval, modifiers);
  switch (command) {
    case PaneCommand::kReloadFromServer:
      // A notice or a page dialog stands in the way: the pane's own Refresh
      // deals with those first.
      return Notice() != PaneNotice::kNone || m_engine.ShowsScriptDialog() ? PaneCommand::kReload
                                                                           : command;
    case PaneCommand::kStop:
      return m_engine.IsLoading() ? command : PaneCommand::kNone;  // else the page's own Escape
    default:
      return command;
  }
}

PaneCommand PaneCore::ForButton(unsigned button) {
  UserActed();
  if (button == keys::kButtonBack) {
    return PaneCommand::kBack;
  }
  if (button == keys::kButtonForward) {
    return PaneCommand::kForward;
  }
  return PaneCommand::kNone;
}

void PaneCore::UserActed() {
  m_userAction = true;
  m_userActionAt = m_clock();
}

bool PaneCore::HasUserAction() const {
  return m_userAction && m_clock() - m_userActionAt < kUserActionLifetime;
}

bool PaneCore::TakeUserAction() {
  const bool had = HasUserAction();
  m_userAction = false;
  return had;
}

// --- The recovery's orders ----------------------------------------------------

void PaneCore::IssueLoad(const PaneLoad& load) {
  m_ownPageLoading = false;  // the program's load takes its place
  m_engine.IssueLoad(load);
}

void PaneCore::ReloadPage() {
  m_ownPageLoading = false;  // the page comes back in its place
  m_engine.ReloadPage();
}

void PaneCore::ShowNoticePage(PaneNotice notice, const std::string& lostAddress) {
  m_engine.KeepHistory();
  const std::string current = m_engine.CurrentAddress();
  const std::string address = !lostAddress.empty() ? lostAddress
                              : !current.empty()   ? current
                                                   : "about:blank";
  LoadOwnPage(NoticePage(notice, OwnPageFor(address)), address);
}

OwnPage PaneCore::OwnPageFor(const std::string& address) const {
  return {address, true, m_policy.RecoversByItself()};
}

void PaneCore::LoadOwnPage(const std::string& html, const std::string& address) {
  m_ownPageAddress = address;
  m_ownPageLoading = true;
  m_engine.LoadOwnPage(html, address);
}

}  // namespace ticklark::web
