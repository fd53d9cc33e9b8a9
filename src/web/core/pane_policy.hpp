// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace ticklark::web {

enum class PaneRole {
  kMain,    // a window's large content pane, driven by a navigation bar
  kAd,      // the advertisement frame in a window's top right corner
  kQuotes,  // the main window's narrow real-time quotes pane
};

// Whether a navigation bar drives the pane. Without one the user has no
// Refresh to press.
enum class PaneBar {
  kNone,
  kNavigationBar,
};

// What a page asked for, and the pane's answers. The engine's own types stay
// in the web layer, which turns them into these and carries the answer out.
enum class NewWindowAnswer {
  kRefuse,
  kOpenInDefaultBrowser,  // the address goes to the desktop's browser, not to a pane
};

enum class ResponseAnswer {
  kShow,
  kDrop,  // not shown: saved only at the user's word, else dropped
};

enum class Permission {
  kGeolocation,
  kNotifications,
  kCameraOrMicrophone,
  kDeviceList,
  kPointerLock,
  kClipboard,
  kOther,  // whatever else the engine may ask for
};

enum class ScriptDialogKind { kAlert, kConfirm, kPrompt, kBeforeUnload };

enum class ScriptDialogAnswer {
  kShow,       // over the page, until the user answers or the program closes it
  kDismiss,    // closed at once unanswered: confirm gives false, prompt null
  kLeavePage,  // a page asking to stay is let go: it never keeps the pane on itself
};

// Every rule about what a page may do in a pane of one role: the addresses
// and schemes it may show, new windows, permissions, script dialogs, what is
// done with responses the pane cannot show, downloads and recovery after a
// crash. Nothing here knows the engine or the toolkit.
class PanePolicy {
 public:
  explicit PanePolicy(PaneRole role, PaneBar bar = PaneBar::kNone) : m_role(role), m_bar(bar) {}

  PaneRole Role() const { return m_role; }
  PaneBar Bar() const { return m_bar; }

  // Pages and the program may take a pane to web addresses and to the empty
  // and inline documents that pages build their frames from; every other
  // scheme (file, data, javascript, mailto, ...) stays out of the panes.
  static bool MayShow(std::string_view address);

  // A page asked for a new window: only a web address the user clicked on
  // goes out, to the desktop's default browser.
  static NewWindowAnswer ForNewWindow(std::string_view address, bool userGesture);

  // A response arrived for a navigation. |disposition| is the type of its
  // Content-Disposition header ("" without one).
  static ResponseAnswer ForResponse(std::string_view disposition, bool paneCanShowType);

  static bool MayGrant(Permission permission);

  // |programLoadWaiting|: a navigation ordered by the program has not started
  // yet; a dialog then would only hold it up.
  ScriptDialogAnswer ForScriptDialog(ScriptDialogKind kind, bool programLoadWaiting) const;

  // A pane without a navigation bar has no Refresh for the user to press: it
  // loads its page again by itself after its web process crashed.
  // Whatever its role: the Ticker window's main pane has no bar either.
  bool RecoversByItself() const { return m_bar == PaneBar::kNone; }

 private:
  PaneRole m_role;
  PaneBar m_bar;
};

}  // namespace ticklark::web
