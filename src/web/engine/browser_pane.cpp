// SPDX-License-Identifier: MIT
#include "web/engine/browser_pane.hpp"

#include <string>

#include "web/browsing/pane_browsing.hpp"
#include "web/engine/pane_view.hpp"
#include "web/engine/web_session.hpp"

namespace ticklark::web {

BrowserPane::BrowserPane(WebSession& session, PaneRole role, BrowserPane* sharesProcessWith,
                         PaneBar bar)
    : m_impl(std::make_unique<PaneView>(
          session, role, bar, sharesProcessWith ? sharesProcessWith->m_impl->View() : nullptr)),
      m_browsing(std::make_unique<PaneBrowsing>(m_impl->Core(), m_impl->View(), m_impl->Frame(),
                                                session.Services(), session.DefaultBrowser())) {}

BrowserPane::~BrowserPane() = default;

void BrowserPane::Navigate(const std::string& address) {
  m_impl->Core().Navigate(address);
}

void BrowserPane::GoBack() {
  m_impl->Core().GoBack();
}

void BrowserPane::GoForward() {
  m_impl->Core().GoForward();
}

void BrowserPane::Refresh() {
  m_impl->Core().Refresh();
}

void BrowserPane::Stop() {
  m_impl->Core().Stop();
}

Gtk::Widget& BrowserPane::Widget() {
  return m_impl->Frame();
}

PaneRole BrowserPane::Role() const {
  return m_impl->Core().Policy().Role();
}

PaneNotice BrowserPane::Notice() const {
  return m_impl->Core().Notice();
}

bool BrowserPane::ShowsScriptDialog() const {
  return m_impl->ShowsScriptDialog();
}

std::string BrowserPane::CurrentAddress() const {
  return m_impl->CurrentAddress();
}

bool BrowserPane::IsLoading() const {
  return m_impl->IsLoading();
}

bool BrowserPane::CanGoBack() const {
  return m_impl->CanGoBack();
}

bool BrowserPane::CanGoForward() const {
  return m_impl->CanGoForward();
}

}  // namespace ticklark::web
