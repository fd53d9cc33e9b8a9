// SPDX-License-Identifier: MIT
#include <string>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "web/pane_pages.hpp"

namespace ticklark::web {
namespace {

constexpr char kEndpointPage[] = "http://127.0.0.1:8642/ticklark/viewext/redirect/nasdaqcal.asp";
constexpr char kOutsidePage[] = "https://finance.example.org/quote?s=A&b=1";

struct FailureCase {
  const char* name;
  GQuark domain;
  int code;
  const char* address;
  bool networkAvailable;
  LoadProblem expected;
};

TEST(PanePages, AFailedLoadIsNamedInPlainWords) {
  const FailureCase cases[] = {
      {"NameUnknown", G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, kOutsidePage, true,
       LoadProblem::kNameNotFound},
      {"NoNameServer", G_RESOLVER_ERROR, G_RESOLVER_ERROR_TEMPORARY_FAILURE, kOutsidePage, true,
       LoadProblem::kNoConnection},
      {"NoNetworkAtAll", G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, kOutsidePage, false,
       LoadProblem::kNoConnection},
      {"Unreachable", G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE, kOutsidePage, true,
       LoadProblem::kNoConnection},
      {"Refused", G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, kOutsidePage, true,
       LoadProblem::kRefused},
      {"TimedOut", G_IO_ERROR, G_IO_ERROR_TIMED_OUT, kOutsidePage, true, LoadProblem::kTimedOut},
      {"EndpointRefused", G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, kEndpointPage, true,
       LoadProblem::kEndpointUnavailable},
      {"EndpointSilentWithoutNetwork", G_IO_ERROR, G_IO_ERROR_TIMED_OUT, kEndpointPage, false,
       LoadProblem::kEndpointUnavailable},
      {"Certificate", G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE, kOutsidePage, true,
       LoadProblem::kUntrusted},
      {"SomethingElse", G_IO_ERROR, G_IO_ERROR_FAILED, kOutsidePage, true, LoadProblem::kOther},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    const char* domain = g_quark_to_string(c.domain);
    EXPECT_TRUE(ShowsAProblemPage(domain, c.code));
    EXPECT_EQ(ProblemOf(domain, c.code, c.address, c.networkAvailable), c.expected);
  }
  // Cancelled, turned down by the pane or made a download: no page at all.
  EXPECT_FALSE(ShowsAProblemPage("WebKitNetworkError", 302));
  EXPECT_FALSE(ShowsAProblemPage("WebKitPolicyError", 102));
  EXPECT_FALSE(ShowsAProblemPage(g_quark_to_string(G_IO_ERROR), G_IO_ERROR_CANCELLED));
  EXPECT_TRUE(ShowsAProblemPage("WebKitNetworkError", 399));
}

// The address stands in the page as text and as the link's target, never as
// markup; the page allows no script and sends no form.
TEST(PanePages, TheAddressIsTextAndTheOnlyLinkLeadsBackToIt) {
  const std::string hostile = "http://x.example/<script>alert(1)</script>\"'><b>&amp;";
  const std::string escaped =
      "http://x.example/&lt;script&gt;alert(1)&lt;/script&gt;&quot;&#39;&gt;&lt;b&gt;&amp;amp;";
  const std::string pages[] = {
      ProblemPage(LoadProblem::kRefused, {hostile, true, false}),
      ProblemPage(LoadProblem::kOther, {hostile, true, false}, "<img src=x onerror=alert(1)>"),
      NoticePage(PaneNotice::kCrashed, {hostile, true, true}),
  };
  for (const std::string& page : pages) {
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_EQ(page.find("<b>&amp;"), std::string::npos);
    EXPECT_NE(page.find("<a id=\"retry\" href=\"" + escaped + "\">Try again</a>"),
              std::string::npos);
    EXPECT_NE(page.find("content=\"default-src 'none'; style-src 'unsafe-inline'; "
                        "form-action 'none'\""),
              std::string::npos);
    EXPECT_NE(page.find("prefers-color-scheme:dark"), std::string::npos);
  }
  // Only a crash in a pane without a bar says the page comes back by itself.
  EXPECT_NE(pages[2].find("comes back by itself"), std::string::npos);
  EXPECT_EQ(NoticePage(PaneNotice::kCrashed, {hostile, true, false}).find("by itself"),
            std::string::npos);
  EXPECT_EQ(NoticePage(PaneNotice::kStopped, {hostile, true, true}).find("by itself"),
            std::string::npos);
  // A refused address is never asked for: no link to it.
  EXPECT_EQ(NoticePage(PaneNotice::kRefused, {kEndpointPage, false, false}).find("id=\"retry\""),
            std::string::npos);
}

}  // namespace
}  // namespace ticklark::web
