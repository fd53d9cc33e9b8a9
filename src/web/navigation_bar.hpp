// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

#include <sigc++/connection.h>

namespace ticklark::ui {
class FormLayout;
}

namespace ticklark::web {

class BrowserPane;

// The four picture buttons above a main pane, cmdWB<n>Back, cmdWB<n>Forward,
// cmdWB<n>Stop and cmdWB<n>Refresh, where <n> is the pane's number. Each click
// calls one pane operation and does nothing else: the buttons stay enabled
// whatever the pane's history or load state.
class NavigationBar {
 public:
  NavigationBar(ui::FormLayout& layout, int paneNumber, BrowserPane& pane);
  ~NavigationBar();
  NavigationBar(const NavigationBar&) = delete;
  NavigationBar& operator=(const NavigationBar&) = delete;

  void on_cmdWBBack_clicked();
  void on_cmdWBForward_clicked();
  void on_cmdWBStop_clicked();
  void on_cmdWBRefresh_clicked();

 private:
  BrowserPane& m_pane;
  std::vector<sigc::connection> m_connections;
};

}  // namespace ticklark::web
