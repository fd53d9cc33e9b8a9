// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <vector>

#include "platform/gobject_ptr.hpp"

#include <functional>
#include <string>

typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitContextMenu WebKitContextMenu;
typedef struct _WebKitHitTestResult WebKitHitTestResult;
typedef struct _GSimpleAction GSimpleAction;

namespace ticklark::platform {
class DefaultBrowser;
}

namespace ticklark::web {

// The engine's context menu of a pane, without the items that would do
// nothing here (new windows, full screen) and with "Open Link in Browser" on
// a link (in place of the engine's new window), then "Open Page in Browser"
// and "Print..." for the page. Addresses go to the desktop's default browser,
// as a page's new windows do.
class PaneContextMenu {
 public:
  PaneContextMenu(WebKitWebView* view, platform::DefaultBrowser& browser,
                  std::function<void()> print);
  ~PaneContextMenu();

  PaneContextMenu(const PaneContextMenu&) = delete;
  PaneContextMenu& operator=(const PaneContextMenu&) = delete;

  // The names of the actions behind the items added.
  static constexpr const char* kOpenLink = "open-link-in-browser";
  static constexpr const char* kOpenPage = "open-page-in-browser";
  static constexpr const char* kPrint = "print-page";

  // For the signal trampolines.
  void OnContextMenu(WebKitContextMenu* menu, WebKitHitTestResult* hit);
  void OnAction(GSimpleAction* action);

 private:
  WebKitWebView* m_view;
  platform::DefaultBrowser& m_browser;
  std::function<void()> m_print;
  platform::GObjectPtr<GSimpleAction> m_openLink;
  platform::GObjectPtr<GSimpleAction> m_openPage;
  platform::GObjectPtr<GSimpleAction> m_printPage;
  // Go before the actions and the view they are connected to.
  platform::SignalHandlers m_viewHandlers;
  std::vector<std::unique_ptr<platform::SignalHandlers>> m_actionHandlers;
  // The link under the pointer when the menu opened.
  std::string m_link;
};

}  // namespace ticklark::web
