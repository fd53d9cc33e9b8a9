// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "endpoint/paths.hpp"
#include "ticklark/version.hpp"

namespace ticklark::web {

// Every page the program opens. The enumerators carry the keys' own names.
enum class Destination : std::size_t {
  islandjava,
  islandhtml,
  quickennews,
  ticklark_ad_frame,
  nasdaqhm,
  nasdaqcal,
  nasdaqglobal,
  nasdaqticker,
  nasdaqevent,
  earningswhisp,
  rhipo,
  nasdaqhome,
  cnbchome,
  cnnfnhome,
};

inline constexpr std::size_t kDestinationCount = 14;

inline constexpr std::array<Destination, kDestinationCount> kAllDestinations = {
    Destination::islandjava,        Destination::islandhtml,   Destination::quickennews,
    Destination::ticklark_ad_frame, Destination::nasdaqhm,     Destination::nasdaqcal,
    Destination::nasdaqglobal,      Destination::nasdaqticker, Destination::nasdaqevent,
    Destination::earningswhisp,     Destination::rhipo,        Destination::nasdaqhome,
    Destination::cnbchome,          Destination::cnnfnhome,
};

// Paths on the program's own web endpoint. The endpoint forwards each redirect
// page to an outside page, so the program never holds those addresses itself.
inline constexpr std::string_view kRedirectFolder = endpoint::kRedirectPrefix;
inline constexpr std::string_view kIslandJavaPath = endpoint::RedirectPathOf("islandjava");
inline constexpr std::string_view kIslandHtmlPath = endpoint::RedirectPathOf("islandhtml");
inline constexpr std::string_view kQuickenNewsPath = endpoint::RedirectPathOf("quickennews");
inline constexpr std::string_view kAdFramePath = endpoint::kAdFramePath;
inline constexpr std::string_view kNasdaqHeatmapPath = endpoint::RedirectPathOf("nasdaqhm");
inline constexpr std::string_view kNasdaqCalendarPath = endpoint::RedirectPathOf("nasdaqcal");
inline constexpr std::string_view kNasdaqGlobalPath = endpoint::RedirectPathOf("nasdaqglobal");
inline constexpr std::string_view kNasdaqTickerPath = endpoint::RedirectPathOf("nasdaqticker");
inline constexpr std::string_view kNasdaqEventPath = endpoint::RedirectPathOf("nasdaqevent");
inline constexpr std::string_view kEarningsWhispersPath = endpoint::RedirectPathOf("earningswhisp");
inline constexpr std::string_view kRedHerringIpoPath = endpoint::RedirectPathOf("rhipo");

// Outside home pages, opened directly and always over https: a page fetched in
// clear text could be rewritten on the way and then run its scripts in a pane.
inline constexpr std::string_view kNasdaqHomeAddress = "https://www.nasdaq.com/";
inline constexpr std::string_view kCnbcHomeAddress = "https://www.cnbc.com/";
inline constexpr std::string_view kCnnfnHomeAddress = "https://www.cnnfn.com/";

// The key of a destination as text ("islandjava", "ticklark_ad_frame", ...).
std::string_view KeyOf(Destination key);

// True for the eleven destinations served by the program's own endpoint.
bool IsEndpointPage(Destination key);

// Every address the program opens, formed once from one endpoint base.
// The windows hold a reference to the program's one catalogue; tests build
// their own against a loopback server.
class DestinationCatalogue {
 public:
  // |endpointBase| is scheme://host[:port]; a trailing slash is dropped.
  explicit DestinationCatalogue(std::string_view endpointBase = kEndpointBase);

  const std::string& Address(Destination key) const;
  const std::string& EndpointBase() const { return m_endpointBase; }

 private:
  std::string m_endpointBase;
  std::array<std::string, kDestinationCount> m_addresses;
};

}  // namespace ticklark::web
