// SPDX-License-Identifier: MIT
#include <string>
#include <vector>

#include "web/core/destinations.hpp"
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

TEST_F(PaneNavigation, BackForwardAndRefreshWalkTheHistory) {
  ServePage("/a", "A", "<a id=link href=\"/b\">b</a>");
  ServePage("/b", "B");
  ServePage("/c", "C");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/a", "A"));
  // One page reached by a link, one by the program: both join the history.
  Eval(pane, "document.getElementById('link').click()");
  ASSERT_TRUE(WaitForTitle(pane, "B"));
  ASSERT_TRUE(Open(pane, "/c", "C"));

  pane.GoBack();
  ASSERT_TRUE(WaitForTitle(pane, "B"));
  pane.GoBack();
  ASSERT_TRUE(WaitForTitle(pane, "A"));
  EXPECT_EQ(pane.CurrentAddress(), m_server.Address("/a"));
  EXPECT_TRUE(pane.CanGoForward());
  pane.GoForward();
  ASSERT_TRUE(WaitForTitle(pane, "B"));

  const auto before = m_server.CountRequests("/b");
  pane.Refresh();
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/b") == before + 1; }));
  EXPECT_TRUE(PumpUntil([&] { return !pane.IsLoading() && TitleOf(pane) == "B"; }));
  EXPECT_EQ(pane.CurrentAddress(), m_server.Address("/b"));
}

// Back on a fresh pane, Forward with nothing ahead: the pane stays as it is.
TEST_F(PaneNavigation, BackAndForwardWithNothingThereChangeNothing) {
  ServePage("/only", "Only");
  BrowserPane& pane = AddPane();
  pane.GoBack();
  pane.GoForward();
  EXPECT_EQ(pane.CurrentAddress(), "");
  EXPECT_FALSE(pane.IsLoading());

  ASSERT_TRUE(Open(pane, "/only", "Only"));
  const auto requests = m_server.Requests().size();
  pane.GoBack();
  pane.GoForward();
  Eval(pane, "0");  // a round trip through the page's web process
  EXPECT_EQ(pane.CurrentAddress(), m_server.Address("/only"));
  EXPECT_EQ(TitleOf(pane), "Only");
  EXPECT_FALSE(pane.IsLoading());
  EXPECT_EQ(m_server.Requests().size(), requests);
}

TEST_F(PaneNavigation, StopEndsAStalledLoadAndRefreshLoadsTheCurrentPage) {
  ServePage("/start", "Start");
  m_server.Stall("/stalled");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/start", "Start"));

  pane.Navigate(m_server.Address("/stalled"));
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/stalled") == 1; }));
  EXPECT_TRUE(pane.IsLoading());
  pane.Stop();
  ASSERT_TRUE(PumpUntil([&] { return !pane.IsLoading(); }));
  EXPECT_EQ(pane.CurrentAddress(), m_server.Address("/start"));
  EXPECT_EQ(TitleOf(pane), "Start");

  pane.Refresh();
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/start") == 2; }));
  EXPECT_TRUE(PumpUntil([&] { return !pane.IsLoading() && TitleOf(pane) == "Start"; }));
}

TEST_F(PaneNavigation, StopEndsASlowBodyHalfWay) {
  std::vector<std::string> chunks{"<!DOCTYPE html><title>Slow</title><p>first</p>" +
                                  std::string(2048, ' ')};
  chunks.resize(150, "<p>more</p>");  // 15 s of body, far more than Stop takes
  m_server.ServeSlowly("/slow", chunks, std::chrono::milliseconds(100));
  BrowserPane& pane = AddPane();
  pane.Navigate(m_server.Address("/slow"));
  ASSERT_TRUE(WaitForTitle(pane, "Slow"));
  EXPECT_TRUE(pane.IsLoading());
  pane.Stop();
  ASSERT_TRUE(PumpUntil([&] { return !pane.IsLoading(); }, std::chrono::seconds(8)));
  EXPECT_EQ(pane.CurrentAddress(), m_server.Address("/slow"));
}

// Server answers the pane shows as they come: errors and redirects alike.
TEST_F(PaneNavigation, ShowsErrorPagesAndFollowsRedirects) {
  m_server.Serve("/missing", {404, "text/html", "<title>Missing</title>", {}});
  m_server.Serve("/broken", {500, "text/html", "<title>Broken</title>", {}});
  m_server.Redirect("/moved", m_server.Address("/target"));
  ServePage("/target", "Target");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/missing", "Missing"));
  ASSERT_TRUE(Open(pane, "/broken", "Broken"));
  ASSERT_TRUE(Open(pane, "/moved", "Target"));
  EXPECT_EQ(pane.CurrentAddress(), m_server.Address("/target"));
}

// Only web addresses and about:blank reach a pane, whether the program or a
// link asks for them.
TEST_F(PaneNavigation, OtherSchemesNeverReachThePane) {
  const std::vector<std::string> refused{
      "file:///etc/hostname",       "data:text/html,<title>Data</title>",
      "ftp://127.0.0.1/x",          "smb://127.0.0.1/share",
      "mailto:someone@example.org", "javascript:document.title='Js'"};
  std::string links;
  for (std::size_t i = 0; i < refused.size(); ++i) {
    links += "<a id=l" + std::to_string(i) + " href=\"" + refused[i] + "\">x</a>";
  }
  ServePage("/links", "Links", links + "<a id=web href=\"/after\">web</a>");
  ServePage("/after", "After");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/links", "Links"));

  for (const std::string& address : refused) {
    pane.Navigate(address);
  }
  Eval(pane, "0");
  EXPECT_FALSE(pane.IsLoading());
  EXPECT_EQ(TitleOf(pane), "Links");
  EXPECT_EQ(pane.CurrentAddress(), m_server.Address("/links"));

  for (std::size_t i = 0; i < refused.size() - 1; ++i) {
    Eval(pane, "document.getElementById('l" + std::to_string(i) + "').click()");
  }
  // The web link, clicked last, shows the refused ones added no history.
  Eval(pane, "document.getElementById('web').click()");
  ASSERT_TRUE(WaitForTitle(pane, "After"));
  pane.GoBack();
  ASSERT_TRUE(WaitForTitle(pane, "Links"));
  EXPECT_FALSE(pane.CanGoBack());

  pane.Navigate("about:blank");
  ASSERT_TRUE(PumpUntil([&] { return pane.CurrentAddress() == "about:blank"; }));
}

// The engine itself refuses a server's redirect to a local file; whatever the
// pane shows then, it is not the file.
TEST_F(PaneNavigation, ServerRedirectToAFileNeverShowsTheFile) {
  m_server.Redirect("/to-file", "file:///etc/passwd");
  BrowserPane& pane = AddPane();
  pane.Navigate(m_server.Address("/to-file"));
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/to-file") == 1; }));
  ASSERT_TRUE(PumpUntil([&] { return !pane.IsLoading(); }));
  EXPECT_EQ(pane.CurrentAddress().rfind("file:", 0), std::string::npos);
  EXPECT_EQ(Eval(pane, "document.body ? document.body.innerText.indexOf('root:') : -1"), "-1");
}

}  // namespace
}  // namespace ticklark::test
