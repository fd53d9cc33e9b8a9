// SPDX-License-Identifier: MIT
#include <string>
#include <vector>

#include "web/destinations.hpp"
#include "web/pane_fixture.hpp"

namespace ticklark::test {
namespace {

using web::BrowserPane;
using web::Destination;

class PaneNavigation : public PaneTest {};

TEST_F(PaneNavigation, NavigateRequestsTheCatalogueAddress) {
  const web::DestinationCatalogue catalogue(m_server.BaseAddress());
  BrowserPane& pane = AddPane();
  for (Destination key : web::kAllDestinations) {
    if (!web::IsEndpointPage(key)) {
      continue;
    }
    const std::string& address = catalogue.Address(key);
    const std::string path = address.substr(m_server.BaseAddress().size());
    const std::string title(web::KeyOf(key));
    ServePage(path, title);
    SCOPED_TRACE(address);
    pane.Navigate(address);
    ASSERT_TRUE(WaitForTitle(pane, title));
    EXPECT_EQ(pane.CurrentAddress(), address);
    EXPECT_EQ(m_server.Requests().back(), "GET " + path);
  }
}

}  // namespace
}  // namespace ticklark::test
