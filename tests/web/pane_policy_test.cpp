// SPDX-License-Identifier: MIT
#include <string>

#include <gtest/gtest.h>

#include "web/core/pane_policy.hpp"

namespace ticklark::web {
namespace {

struct AddressCase {
  const char* address;
  bool shown;          // may a pane show it
  bool openedOutside;  // clicked in a link to a new window: goes to the default browser
};

const AddressCase kAddressCases[] = {
    {"https://www.nasdaq.com/market-activity", true, true},
    {"http://127.0.0.1:8642/ticklark/viewext/redirect/nasdaqcal.asp", true, true},
    {"HTTPS://EXAMPLE.ORG/", true, true},
    {"about:blank", true, false},
    {"about:srcdoc", true, false},
    {"about:config", false, false},
    {"http://", false, false},
    {"https:///no-host", false, false},
    {"file:///etc/hostname", false, false},
    {"data:text/html,<title>Data</title>", false, false},
    {"javascript:document.title='Js'", false, false},
    {"mailto:someone@example.org", false, false},
    {"smb://127.0.0.1/share", false, false},
    {"ftp://127.0.0.1/file", false, false},
    {"", false, false},
};

TEST(PaneRules, OnlyWebAddressesAndEmptyFramesAreShownOnlyClickedWebAddressesGoOut) {
  for (const AddressCase& c : kAddressCases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(PanePolicy::MayShow(c.address), c.shown);
    EXPECT_EQ(PanePolicy::ForNewWindow(c.address, true) == NewWindowAnswer::kOpenInDefaultBrowser,
              c.openedOutside);
    // Without a click, a page gets no window at all.
    EXPECT_EQ(PanePolicy::ForNewWindow(c.address, false), NewWindowAnswer::kRefuse);
  }
}

struct ResponseCase {
  const char* disposition;
  bool paneCanShowType;
  ResponseAnswer expected;
};

TEST(PaneRules, WhatWouldBeSavedOrCannotBeShownIsDropped) {
  const ResponseCase cases[] = {
      {"", true, ResponseAnswer::kShow},
      {"inline", true, ResponseAnswer::kShow},
      {"attachments", true, ResponseAnswer::kShow},
      {"attachment", true, ResponseAnswer::kDrop},
      {"Attachment", true, ResponseAnswer::kDrop},
      {"", false, ResponseAnswer::kDrop},
      {"inline", false, ResponseAnswer::kDrop},
  };
  for (const ResponseCase& c : cases) {
    SCOPED_TRACE(std::string(c.disposition) + (c.paneCanShowType ? " shown type" : " other type"));
    EXPECT_EQ(PanePolicy::ForResponse(c.disposition, c.paneCanShowType), c.expected);
  }
}

struct DialogCase {
  PaneRole role;
  bool programLoadWaiting;
  // Alert, confirm and prompt get the same answer; a page asking to stay
  // is always let go.
  ScriptDialogAnswer expected;
};

TEST(PaneRules, OnlyMainAndQuotesPanesShowDialogsAndNeverWhileTheProgramLoads) {
  const DialogCase cases[] = {
      {PaneRole::kMain, false, ScriptDialogAnswer::kShow},
      {PaneRole::kQuotes, false, ScriptDialogAnswer::kShow},
      {PaneRole::kAd, false, ScriptDialogAnswer::kDismiss},
      {PaneRole::kMain, true, ScriptDialogAnswer::kDismiss},
      {PaneRole::kQuotes, true, ScriptDialogAnswer::kDismiss},
      {PaneRole::kAd, true, ScriptDialogAnswer::kDismiss},
  };
  for (const DialogCase& c : cases) {
    const PanePolicy policy(c.role);
    SCOPED_TRACE(static_cast<int>(c.role) * 2 + c.programLoadWaiting);
    for (ScriptDialogKind kind :
         {ScriptDialogKind::kAlert, ScriptDialogKind::kConfirm, ScriptDialogKind::kPrompt}) {
      EXPECT_EQ(policy.ForScriptDialog(kind, c.programLoadWaiting), c.expected);
    }
    EXPECT_EQ(policy.ForScriptDialog(ScriptDialogKind::kBeforeUnload, c.programLoadWaiting),
              ScriptDialogAnswer::kLeavePage);
  }
}

}  // namespace
}  // namespace ticklark::web
