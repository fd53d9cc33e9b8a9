// SPDX-License-Identifier: MIT
#include "web/core/destinations.hpp"

#include <algorithm>

namespace ticklark::web {

namespace {

struct Entry {
  std::string_view key;
  // An endpoint path when |onEndpoint|, otherwise the full outside address.
  std::string_view location;
  bool onEndpoint;
};

// In the order of the enumerators.
constexpr std::array<Entry, kDestinationCount> kEntries = {{
    {"islandjava", kIslandJavaPath, true},
    {"islandhtml", kIslandHtmlPath, true},
    {"quickennews", kQuickenNewsPath, true},
    {"ticklark_ad_frame", kAdFramePath, true},
    {"nasdaqhm", kNasdaqHeatmapPath, true},
    {"nasdaqcal", kNasdaqCalendarPath, true},
    {"nasdaqglobal", kNasdaqGlobalPath, true},
    {"nasdaqticker", kNasdaqTickerPath, true},
    {"nasdaqevent", kNasdaqEventPath, true},
    {"earningswhisp", kEarningsWhispersPath, true},
    {"rhipo", kRedHerringIpoPath, true},
    {"nasdaqhome", kNasdaqHomeAddress, false},
    {"cnbchome", kCnbcHomeAddress, false},
    {"cnnfnhome", kCnnfnHomeAddress, false},
}};

static_assert(std::all_of(kEntries.begin(), kEntries.end(),
                          [](const Entry& entry) { return !entry.location.empty(); }),
              "every endpoint page has a path");

const Entry& EntryOf(Destination key) {
  return kEntries.at(static_cast<std::size_t>(key));
}

}  // namespace

std::string_view KeyOf(Destination key) {
  return EntryOf(key).key;
}

bool IsEndpointPage(Destination key) {
  return EntryOf(key).onEndpoint;
}

DestinationCatalogue::DestinationCatalogue(std::string_view endpointBase)
    : m_endpointBase(endpointBase) {
  while (!m_endpointBase.empty() && m_endpointBase.back() == '/') {
    m_endpointBase.pop_back();
  }
  for (std::size_t i = 0; i < kDestinationCount; ++i) {
    const Entry& entry = kEntries[i];
    m_addresses[i] = entry.onEndpoint ? m_endpointBase + std::string(entry.location)
                                      : std::string(entry.location);
  }
}

const std::string& DestinationCatalogue::Address(Destination key) const {
  return m_addresses.at(static_cast<std::size_t>(key));
}

}  // namespace ticklark::web
