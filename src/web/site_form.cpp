// SPDX-License-Identifier: MIT
#include "web/site_form.hpp"

#include "ui/definitions.hpp"
#include "ui/form_layout.hpp"
#include "web/engine/browser_pane.hpp"
#include "web/navigation_bar.hpp"

namespace ticklark::web {

const SiteLayout& HeatmapSite() {
  static const SiteLayout site{ui::HeatmapWindowDef(),
                               {{"WebBrowser5", 5, Destination::nasdaqhm},
                                {"WebBrowser8", 8, Destination::ticklark_ad_frame}},
                               5};
  return site;
}

const SiteLayout& CalendarSite() {
  static const SiteLayout site{ui::CalendarWindowDef(),
                               {{"WebBrowser6", 6, Destination::nasdaqcal},
                                {"WebBrowser7", 7, Destination::ticklark_ad_frame}},
                               6};
  return site;
}

const SiteLayout& GlobalSite() {
  static const SiteLayout site{ui::GlobalWindowDef(),
                               {{"WebBrowser9", 9, Destination::nasdaqglobal},
                                {"WebBrowser10", 10, Destination::ticklark_ad_frame}},
                               9};
  return site;
}

const SiteLayout& TickerSite() {
  static const SiteLayout site{
      ui::TickerWindowDef(), {{"WebBrowser4", 4, Destination::nasdaqticker}}, std::nullopt};
  return site;
}

SiteForm::SiteForm(ui::FormServices services, const SiteLayout& site, WebSession& session,
                   const DestinationCatalogue& catalogue)
    : ui::Form(services, site.definition),
      m_site(site),
      m_session(session),
      m_catalogue(catalogue) {}

SiteForm::~SiteForm() = default;

BrowserPane* SiteForm::Pane(std::string_view control) const {
  for (std::size_t i = 0; i < m_panes.size(); ++i) {
    if (m_site.panes[i].control == control) {
      return m_panes[i].get();
    }
  }
  return nullptr;
}

void SiteForm::BuildControls(ui::FormLayout& layout) {
  m_panes.clear();
  for (const SiteLayout::Pane& pane : m_site.panes) {
    const PaneRole role =
        pane.firstPage == Destination::ticklark_ad_frame ? PaneRole::kAd : PaneRole::kMain;
    // The panes of one window share a web process.
    BrowserPane* related = m_panes.empty() ? nullptr : m_panes.front().get();
    // The Ticker window's main pane has no bar: it brings its page back by
    // itself after a crash, as the ad panes do.
    const PaneBar bar =
        m_site.navigationBar == pane.number ? PaneBar::kNavigationBar : PaneBar::kNone;
    m_panes.push_back(std::make_unique<BrowserPane>(m_session, role, related, bar));
    layout.Place(ui::GetControl(Definition(), pane.control), m_panes.back()->Widget());
  }
  if (m_site.navigationBar) {
    for (std::size_t i = 0; i < m_panes.size(); ++i) {
      if (m_site.panes[i].number == *m_site.navigationBar) {
        m_navigationBar =
            std::make_unique<NavigationBar>(layout, m_site.panes[i].number, *m_panes[i]);
      }
    }
  }
}

void SiteForm::OnLoad() {
  for (std::size_t i = 0; i < m_panes.size(); ++i) {
    m_panes[i]->Navigate(m_catalogue.Address(m_site.panes[i].firstPage));
  }
}

void SiteForm::OnUnload() {
  m_navigationBar.reset();
  // Newest first, as the main window's panes go: a pane made to share another
  // pane's web process never outlives that pane, so every window ends its
  // panes in the one order, the reverse of their making.
  while (!m_panes.empty()) {
    Layout().Remove(m_panes.back()->Widget());
    m_panes.pop_back();
  }
}

}  // namespace ticklark::web
