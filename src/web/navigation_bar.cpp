// SPDX-License-Identifier: MIT
#include "web/navigation_bar.hpp"

#include <gtkmm/button.h>

#include "ui/form_layout.hpp"
#include "web/engine/browser_pane.hpp"

namespace ticklark::web {

NavigationBar::NavigationBar(ui::FormLayout& layout, int paneNumber, BrowserPane& pane)
    : m_pane(pane) {
  const std::string prefix = "cmdWB" + std::to_string(paneNumber);
  const std::pair<const char*, void (NavigationBar::*)()> buttons[] = {
      {"Back", &NavigationBar::on_cmdWBBack_clicked},
      {"Forward", &NavigationBar::on_cmdWBForward_clicked},
      {"Stop", &NavigationBar::on_cmdWBStop_clicked},
      {"Refresh", &NavigationBar::on_cmdWBRefresh_clicked},
  };
  for (const auto& [suffix, handler] : buttons) {
    if (Gtk::Button* button = layout.Button(prefix + suffix)) {
      m_connections.push_back(button->signal_clicked().connect(sigc::mem_fun(*this, handler)));
    }
  }
}

NavigationBar::~NavigationBar() {
  for (auto& connection : m_connections) {
    connection.disconnect();
  }
}

void NavigationBar::on_cmdWBBack_clicked() {
  m_pane.GoBack();
}
void NavigationBar::on_cmdWBForward_clicked() {
  m_pane.GoForward();
}
void NavigationBar::on_cmdWBStop_clicked() {
  m_pane.Stop();
}
void NavigationBar::on_cmdWBRefresh_clicked() {
  m_pane.Refresh();
}

}  // namespace ticklark::web
