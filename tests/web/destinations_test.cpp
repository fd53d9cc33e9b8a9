// SPDX-License-Identifier: MIT
#include "web/core/destinations.hpp"

#include <set>
#include <string>

#include <glib.h>
#include <gtest/gtest.h>

namespace ticklark::web {
namespace {

struct Expected {
  Destination key;
  const char* name;
  // The endpoint path, or the whole address of an outside home page.
  const char* location;
};

constexpr Expected kTable[] = {
    {Destination::islandjava, "islandjava", "/ticklark/viewext/redirect/islandjava.asp"},
    {Destination::islandhtml, "islandhtml", "/ticklark/viewext/redirect/islandhtml.asp"},
    {Destination::quickennews, "quickennews", "/ticklark/viewext/redirect/quickennews.asp"},
    {Destination::ticklark_ad_frame, "ticklark_ad_frame",
     "/ticklark/viewext/ticklark_ad_frame.asp"},
    {Destination::nasdaqhm, "nasdaqhm", "/ticklark/viewext/redirect/nasdaqhm.asp"},
    {Destination::nasdaqcal, "nasdaqcal", "/ticklark/viewext/redirect/nasdaqcal.asp"},
    {Destination::nasdaqglobal, "nasdaqglobal", "/ticklark/viewext/redirect/nasdaqglobal.asp"},
    {Destination::nasdaqticker, "nasdaqticker", "/ticklark/viewext/redirect/nasdaqticker.asp"},
    {Destination::nasdaqevent, "nasdaqevent", "/ticklark/viewext/redirect/nasdaqevent.asp"},
    {Destination::earningswhisp, "earningswhisp", "/ticklark/viewext/redirect/earningswhisp.asp"},
    {Destination::rhipo, "rhipo", "/ticklark/viewext/redirect/rhipo.asp"},
    {Destination::nasdaqhome, "nasdaqhome", "https://www.nasdaq.com/"},
    {Destination::cnbchome, "cnbchome", "https://www.cnbc.com/"},
    {Destination::cnnfnhome, "cnnfnhome", "https://www.cnnfn.com/"},
};

bool IsOutside(const Expected& e) {
  return std::string(e.location).rfind("https://", 0) == 0;
}

class CatalogueAddresses : public ::testing::TestWithParam<const char*> {};

// Each base: all eleven endpoint pages follow it, the outside pages stay put.
TEST_P(CatalogueAddresses, EndpointPagesFollowTheBase) {
  const std::string base = GetParam();
  const DestinationCatalogue catalogue(base);
  for (const Expected& e : kTable) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(KeyOf(e.key), e.name);
    const std::string expected = IsOutside(e) ? e.location : base + e.location;
    EXPECT_EQ(catalogue.Address(e.key), expected);
    EXPECT_EQ(IsEndpointPage(e.key), !IsOutside(e));
  }
}

INSTANTIATE_TEST_SUITE_P(Bases, CatalogueAddresses,
                         ::testing::Values("http://127.0.0.1:8642", "http://127.0.0.1:40123",
                                           "https://endpoint.example.org", "http://[::1]:9000"));

TEST(Catalogue, CoversFourteenDistinctKeysAndAddresses) {
  const DestinationCatalogue catalogue;
  std::set<std::string_view> keys;
  std::set<std::string> addresses;
  for (Destination key : kAllDestinations) {
    keys.insert(KeyOf(key));
    addresses.insert(catalogue.Address(key));
  }
  EXPECT_EQ(keys.size(), 14u);
  EXPECT_EQ(addresses.size(), 14u);
  EXPECT_EQ(std::size(kTable), kAllDestinations.size());
}

TEST(Catalogue, BuiltInBaseIsTheConfiguredEndpoint) {
  const DestinationCatalogue catalogue;
  EXPECT_EQ(catalogue.EndpointBase(), kEndpointBase);
  EXPECT_EQ(catalogue.Address(Destination::nasdaqcal),
            std::string(kEndpointBase) + "/ticklark/viewext/redirect/nasdaqcal.asp");
}

TEST(Catalogue, TrailingSlashOfTheBaseIsDropped) {
  const DestinationCatalogue catalogue("http://127.0.0.1:1234/");
  EXPECT_EQ(catalogue.Address(Destination::rhipo),
            "http://127.0.0.1:1234/ticklark/viewext/redirect/rhipo.asp");
}

// Every address parses as an absolute http(s) URI with a host, no query and no
// fragment: nothing in the catalogue carries parameters.
TEST(Catalogue, EveryAddressIsAPlainHttpUri) {
  for (const char* base : {"http://127.0.0.1:8642", "https://endpoint.example.org"}) {
    const DestinationCatalogue catalogue(base);
    for (Destination key : kAllDestinations) {
      const std::string& address = catalogue.Address(key);
      SCOPED_TRACE(address);
      GError* error = nullptr;
      GUri* uri = g_uri_parse(address.c_str(), G_URI_FLAGS_NONE, &error);
      ASSERT_NE(uri, nullptr) << (error ? error->message : "");
      const std::string scheme = g_uri_get_scheme(uri);
      EXPECT_TRUE(scheme == "http" || scheme == "https");
      EXPECT_NE(g_uri_get_host(uri), nullptr);
      EXPECT_EQ(g_uri_get_query(uri), nullptr);
      EXPECT_EQ(g_uri_get_fragment(uri), nullptr);
      g_uri_unref(uri);
    }
  }
}

}  // namespace
}  // namespace ticklark::web
