// SPDX-License-Identifier: MIT
#include <string>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "web/core/pane_pages.hpp"

namespace ticklark::web {
namespace {

constexpr char kEndpoint[] = "http://127.0.0.1:8642/ticklark/viewext/redirect/nasdaqcal.asp";
constexpr char kOutside[] = "https://finance.example.org/quote?s=A&b=1";

TEST(PanePages, AFailedLoadIsNamedInPlainWords) {
  struct Case {
    GQuark domain;
    int code;
    const char* address;
    bool network;
    LoadProblem expected;
  };
  const Case cases[] = {
      {G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, kOutside, true, LoadProblem::kNameNotFound},
      {G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, kOutside, false, LoadProblem::kNoConnection},
      {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, kOutside, true, LoadProblem::kRefused},
      // This computer's own addresses need no network.
      {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, "http://127.0.0.1:9/q", false,
       LoadProblem::kRefused},
      {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, "http://[::1]:9/q", false, LoadProblem::kRefused},
      {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, "http://LocalHost/q", false,
       LoadProblem::kRefused},
      {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, "http://127.0.0.1.example.org/", false,
       LoadProblem::kNoConnection},
      {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, kOutside, true, LoadProblem::kTimedOut},
      {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, kEndpoint, false, LoadProblem::kEndpointUnavailable},
      {G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE, kOutside, true, LoadProblem::kUntrusted},
  };
  for (const Case& c : cases) {
    const char* domain = g_quark_to_string(c.domain);
    SCOPED_TRACE(std::string(domain) + " " + std::to_string(c.code) + " " + c.address);
    EXPECT_TRUE(ShowsAProblemPage(domain, c.code));
    EXPECT_EQ(ProblemOf(domain, c.code, c.address, c.network), c.expected);
  }
  // Cancelled, or turned down by the pane: no page at all.
  EXPECT_FALSE(ShowsAProblemPage("WebKitNetworkError", 302));
  EXPECT_FALSE(ShowsAProblemPage("WebKitPolicyError", 102));
}

// The address stands in the page as text and as the link's target, never as
// markup; the page allows no script.
TEST(PanePages, TheAddressIsTextAndTheOnlyLinkLeadsBackToIt) {
  const std::string hostile = "http://x.example/<script>\"'&amp;";
  const std::string escaped = "http://x.example/&lt;script&gt;&quot;&#39;&amp;amp;";
  for (const std::string& page :
       {ProblemPage(LoadProblem::kOther, {hostile, true, false}, "<img src=x onerror=alert(1)>"),
        NoticePage(PaneNotice::kCrashed, {hostile, true, true})}) {
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_NE(page.find("<a id=\"retry\" role=\"button\" href=\"" + escaped + "\">Try again</a>"),
              std::string::npos);
    EXPECT_NE(page.find("content=\"default-src 'none'; style-src 'unsafe-inline';"),
              std::string::npos);
  }
  // A refused address is never asked for: no link to it.
  EXPECT_EQ(NoticePage(PaneNotice::kRefused, {kEndpoint, false, false}).find("id=\"retry\""),
            std::string::npos);
}

}  // namespace
}  // namespace ticklark::web
