// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace ticklark::endpoint {

// data/endpoint/redirects.conf, built into the program.
std::string_view DefaultRedirects();
// data/endpoint/ticklark_ad_frame.html, built into the program.
std::string_view AdFramePage();

}  // namespace ticklark::endpoint
