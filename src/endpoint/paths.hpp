// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <string_view>

// The paths of the pages the endpoint serves, which are the ones the program
// asks it for. Nothing but constants: the program and the endpoint both read
// them from here.
namespace ticklark::endpoint {

// Everything the endpoint serves lies in this folder.
inline constexpr std::string_view kEndpointFolder = "/ticklark/viewext/";
inline constexpr std::string_view kRedirectPrefix = "/ticklark/viewext/redirect/";
inline constexpr std::string_view kRedirectSuffix = ".asp";
inline constexpr std::string_view kAdFramePath = "/ticklark/viewext/ticklark_ad_frame.asp";

// A redirect page: its key in the redirect table and its path.
struct RedirectPage {
  std::string_view key;
  std::string_view path;
};

inline constexpr std::array<RedirectPage, 10> kRedirectPages = {{
    {"islandjava", "/ticklark/viewext/redirect/islandjava.asp"},
    {"islandhtml", "/ticklark/viewext/redirect/islandhtml.asp"},
    {"quickennews", "/ticklark/viewext/redirect/quickennews.asp"},
    {"nasdaqhm", "/ticklark/viewext/redirect/nasdaqhm.asp"},
    {"nasdaqcal", "/ticklark/viewext/redirect/nasdaqcal.asp"},
    {"nasdaqglobal", "/ticklark/viewext/redirect/nasdaqglobal.asp"},
    {"nasdaqticker", "/ticklark/viewext/redirect/nasdaqticker.asp"},
    {"nasdaqevent", "/ticklark/viewext/redirect/nasdaqevent.asp"},
    {"earningswhisp", "/ticklark/viewext/redirect/earningswhisp.asp"},
    {"rhipo", "/ticklark/viewext/redirect/rhipo.asp"},
}};

// The path of the redirect page for |key|; empty when there is none.
constexpr std::string_view RedirectPathOf(std::string_view key) {
  for (const RedirectPage& page : kRedirectPages) {
    if (page.key == key) {
      return page.path;
    }
  }
  return {};
}

// Each path is the prefix, the key and the suffix, as the endpoint reads it.
constexpr bool RedirectPathsAreWellFormed() {
  for (const RedirectPage& page : kRedirectPages) {
    if (page.path.size() != kRedirectPrefix.size() + page.key.size() + kRedirectSuffix.size() ||
        !page.path.starts_with(kRedirectPrefix) || !page.path.ends_with(kRedirectSuffix) ||
        page.path.substr(kRedirectPrefix.size(), page.key.size()) != page.key) {
      return false;
    }
  }
  return kRedirectPrefix.starts_with(kEndpointFolder) && kAdFramePath.starts_with(kEndpointFolder);
}
static_assert(RedirectPathsAreWellFormed());

}  // namespace ticklark::endpoint
