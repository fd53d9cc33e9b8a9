// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/registry.hpp"

namespace ticklark::platform {
class FileSearch;
class MessageBox;
class ProcessLauncher;
}  // namespace ticklark::platform

namespace ticklark::about {

inline constexpr const char* kSysInfoUnavailable = "System Information Is Unavailable At This Time";
inline constexpr const char* kMsinfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr const char* kMsinfoPathValue = "PATH";
inline constexpr const char* kToolsLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
inline constexpr const char* kToolsLocationValue = "MSINFO";
inline constexpr const char* kMsinfoProgram = "\\MSINFO32.EXE";
// Read control with query value, set value, create sub-key, enumerate
// sub-keys, notify and create link.
inline constexpr std::uint32_t kKeyAccess = platform::kReadControl | platform::kKeyQueryValue |
                                            platform::kKeySetValue | platform::kKeyCreateSubKey |
                                            platform::kKeyEnumerateSubKeys | platform::kKeyNotify |
                                            platform::kKeyCreateLink;
inline constexpr std::uint32_t kValueBufferBytes = 1024;

// A value read filled the whole buffer without an ending zero.
class UnterminatedValueError : public std::runtime_error {
 public:
  UnterminatedValueError() : std::runtime_error("registry value has no ending zero") {}
};

// What the launcher works with.
struct SysInfoServices {
  platform::Registry& registry;
  platform::FileSearch& files;
  platform::ProcessLauncher& launcher;
  platform::MessageBox& messages;
};

// Finds the system-information tool through the registry and starts it, or
// tells the user that it cannot.
class SysInfoLauncher {
 public:
  explicit SysInfoLauncher(SysInfoServices services) : m_with(services) {}

  // Starts the tool, or shows kSysInfoUnavailable and returns once the user
  // has closed the message. Never throws.
  void StartSysInfo();

  // Reads the value |SubKeyRef| of the key |KeyName| below |KeyRoot| as text
  // into |KeyVal|. False, with |KeyVal| empty, when the key cannot be opened
  // or the value not read. A string value gives its text up to the first zero;
  // a DWORD gives a number built from its bytes; any other type leaves |KeyVal|
  // as it was. Throws UnterminatedValueError for a value with no zero in the
  // buffer. The key is closed on every way out.
  bool GetKeyValue(const platform::RegistryKey& KeyRoot, const std::string& KeyName,
                   const std::string& SubKeyRef, std::string& KeyVal);

 private:
  SysInfoServices m_with;
};

}  // namespace ticklark::about
