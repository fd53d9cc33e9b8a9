// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

#include "platform/web_address.hpp"

namespace ticklark::platform {

// Opens a web address in the desktop's default web browser.
class DefaultBrowser {
 public:
  virtual ~DefaultBrowser() = default;

  // Starts opening |address|; returns false when it is not a web address or
  // the launch could not be started. Never blocks on the other program.
  virtual bool Open(const std::string& address) = 0;
};

// Hands the address to the desktop's URI handler (GIO's default application
// for the scheme). The address is passed as one argument, never through a
// shell or a command template.
class DesktopDefaultBrowser final : public DefaultBrowser {
 public:
  bool Open(const std::string& address) override;
};

}  // namespace ticklark::platform
