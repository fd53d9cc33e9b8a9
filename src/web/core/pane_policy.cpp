// SPDX-License-Identifier: MIT
#include "web/core/pane_policy.hpp"

#include <algorithm>

#include "platform/web_address.hpp"

namespace ticklark::web {

namespace {

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  return std::equal(text.begin(), text.end(), lower.begin(), lower.end(), [](char a, char b) {
    return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
  });
}

}  // namespace

bool PanePolicy::MayShow(std::string_view address) {
  return platform::IsWebAddress(address) || address == "about:blank" || address == "about:srcdoc";
}

NewWindowAnswer PanePolicy::ForNewWindow(std::string_view address, bool userGesture) {
  return userGesture && platform::IsWebAddress(address) ? NewWindowAnswer::kOpenInDefaultBrowser
                                                        : NewWindowAnswer::kRefuse;
}

ResponseAnswer PanePolicy::ForResponse(std::string_view disposition, bool paneCanShowType) {
  // An attachment would become a download; it is dropped instead.
  return paneCanShowType && !EqualsIgnoringCase(disposition, "attachment") ? ResponseAnswer::kShow
                                                                           : ResponseAnswer::kDrop;
}

bool PanePolicy::MayGrant(Permission) {
  // No page gets the user's location, devices, notifications, clipboard or
  // pointer, in any pane.
  return false;
}

ScriptDialogAnswer PanePolicy::ForScriptDialog(ScriptDialogKind kind,
                                               bool programLoadWaiting) const {
  if (kind == ScriptDialogKind::kBeforeUnload) {
    return ScriptDialogAnswer::kLeavePage;
  }
  // Nobody reads the small ad pane's dialogs; they would only stall its page.
  if (m_role == PaneRole::kAd || programLoadWaiting) {
    return ScriptDialogAnswer::kDismiss;
  }
  return ScriptDialogAnswer::kShow;
}

}  // namespace ticklark::web
