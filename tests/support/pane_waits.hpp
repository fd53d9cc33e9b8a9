// SPDX-License-Identifier: MIT
#pragma once

#include <initializer_list>

#include "web/engine/browser_pane.hpp"

namespace ticklark::test {

// On a busy machine the engine may lose a page's load after its request left;
// the pane then says the page was stopped and asks again only at the user's
// word. Tests that wait for pages give that word as the user would.
inline void TryAgainWhereStopped(std::initializer_list<web::BrowserPane*> panes) {
  for (web::BrowserPane* pane : panes) {
    if (pane && pane->Notice() == web::PaneNotice::kStopped && !pane->IsLoading()) {
      pane->Refresh();
    }
  }
}

}  // namespace ticklark::test
