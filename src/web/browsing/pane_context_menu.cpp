// SPDX-License-Identifier: MIT
#include "web/browsing/pane_context_menu.hpp"

#include <vector>

#include <webkit/webkit.h>

#include "platform/default_browser.hpp"

namespace ticklark::web {

namespace {

gboolean OnContextMenuSignal(WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult* hit,
                             gpointer self) {
  try {
    static_cast<PaneContextMenu*>(self)->OnContextMenu(menu, hit);
  } catch (...) {
    g_warning("Pane context menu: exception while building it");
  }
  return FALSE;  // the engine shows it
}

void OnActivateSignal(GSimpleAction* action, GVariant*, gpointer self) {
  try {
    static_cast<PaneContextMenu*>(self)->OnAction(action);
  } catch (...) {
    g_warning("Pane context menu: exception in an item");
  }
}

// Items that would open a window of the engine's own or go full screen, which
// panes never do.
bool DoesNothingHere(WebKitContextMenuAction action) {
  switch (action) {
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_ENTER_VIDEO_FULLSCREEN:
    case WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT:
      return true;
    default:
      return false;
  }
}

}  // namespace

PaneContextMenu::PaneContextMenu(WebKitWebView* view, platform::DefaultBrowser& browser,
                                 std::function<void()> print)
    : m_view(view),
      m_browser(browser),
      m_print(std::move(print)),
      m_openLink(g_simple_action_new(kOpenLink, nullptr)),
      m_openPage(g_simple_action_new(kOpenPage, nullptr)),
      m_printPage(g_simple_action_new(kPrint, nullptr)),
      m_viewHandlers(view) {
  m_viewHandlers.Connect("context-menu", G_CALLBACK(OnContextMenuSignal), this);
  for (GSimpleAction* action : {m_openLink.get(), m_openPage.get(), m_printPage.get()}) {
    m_actionHandlers.push_back(std::make_unique<platform::SignalHandlers>(action));
    m_actionHandlers.back()->Connect("activate", G_CALLBACK(OnActivateSignal), this);
  }
}

PaneContextMenu::~PaneContextMenu() = default;

void PaneContextMenu::OnContextMenu(WebKitContextMenu* menu, WebKitHitTestResult* hit) {
  m_link.clear();
  if (webkit_hit_test_result_context_is_link(hit)) {
    const char* link = webkit_hit_test_result_get_link_uri(hit);
    if (link && platform::IsWebAddress(link)) {
      m_link = link;
    }
  }
  // Where the engine's own new-window item for the link was, or after its
  // "Open Link".
  int linkPosition = -1;
  std::vector<WebKitContextMenuItem*> unwanted;
  int position = 0;
  for (GList* item = webkit_context_menu_get_items(menu); item; item = item->next, ++position) {
    auto* menuItem = WEBKIT_CONTEXT_MENU_ITEM(item->data);
    const WebKitContextMenuAction action = webkit_context_menu_item_get_stock_action(menuItem);
    if (action == WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK && linkPosition < 0) {
      linkPosition = position + 1;
    }
    if (DoesNothingHere(action)) {
      if (action == WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW) {
        linkPosition = position - static_cast<int>(unwanted.size());
      }
      unwanted.push_back(menuItem);
    }
  }
  for (WebKitContextMenuItem* item : unwanted) {
    webkit_context_menu_remove(menu, item);
  }
  if (!m_link.empty()) {
    WebKitContextMenuItem* openLink = webkit_context_menu_item_new_from_gaction(
        G_ACTION(m_openLink.get()), "Open Link in _Browser", nullptr);
    if (linkPosition < 0) {
      webkit_context_menu_prepend(menu, openLink);
    } else {
      webkit_context_menu_insert(menu, openLink, linkPosition);
    }
  }
  // Whatever else the menu is about, the page itself.
  if (webkit_context_menu_get_n_items(menu) > 0) {
    webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
  }
  const char* page = webkit_web_view_get_uri(m_view);
  if (page && platform::IsWebAddress(page)) {
    webkit_context_menu_append(
        menu, webkit_context_menu_item_new_from_gaction(G_ACTION(m_openPage.get()),
                                                        "Open _Page in Browser", nullptr));
  }
  webkit_context_menu_append(menu, webkit_context_menu_item_new_from_gaction(
                                       G_ACTION(m_printPage.get()), "_Print...", nullptr));
}

void PaneContextMenu::OnAction(GSimpleAction* action) {
  if (action == m_openLink.get()) {
    if (!m_link.empty()) {
      m_browser.Open(m_link);
    }
  } else if (action == m_openPage.get()) {
    const char* page = webkit_web_view_get_uri(m_view);
    if (page && platform::IsWebAddress(page)) {
      m_browser.Open(page);
    }
  } else if (action == m_printPage.get() && m_print) {
    m_print();
  }
}

}  // namespace ticklark::web
