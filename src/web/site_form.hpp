// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "ui/form.hpp"
#include "web/core/destinations.hpp"

namespace ticklark::web {

class BrowserPane;
class NavigationBar;
class WebSession;

// How one site window is made: which pane control shows which first page, in
// load order, and which pane the navigation bar drives.
struct SiteLayout {
  struct Pane {
    const char* control;  // e.g. "WebBrowser5"
    int number;           // 5
    Destination firstPage;
  };
  const ui::WindowDef& definition;
  std::vector<Pane> panes;           // main pane first: the order of the first loads
  std::optional<int> navigationBar;  // the number of the pane it drives
};

const SiteLayout& HeatmapSite();
const SiteLayout& CalendarSite();
const SiteLayout& GlobalSite();
const SiteLayout& TickerSite();

// A site window: its browser panes with their first pages and, where it has
// one, the navigation bar of its main pane. Closing it unloads it, so every
// opening starts over at the first pages with empty histories.
class SiteForm : public ui::Form {
 public:
  SiteForm(ui::FormServices services, const SiteLayout& site, WebSession& session,
           const DestinationCatalogue& catalogue);
  ~SiteForm() override;

  // The pane of a control name while loaded, else nullptr.
  BrowserPane* Pane(std::string_view control) const;

 protected:
  void BuildControls(ui::FormLayout& layout) override;
  void OnLoad() override;
  void OnUnload() override;

 private:
  const SiteLayout& m_site;
  WebSession& m_session;
  const DestinationCatalogue& m_catalogue;
  std::vector<std::unique_ptr<BrowserPane>> m_panes;  // as in m_site.panes
  std::unique_ptr<NavigationBar> m_navigationBar;
};

}  // namespace ticklark::web
