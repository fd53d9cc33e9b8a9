// SPDX-License-Identifier: MIT
#include "about/sysinfo.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/file_search.hpp"
#include "platform/message_box.hpp"
#include "platform/process_launcher.hpp"

namespace ticklark::about {

namespace {

// Closes an open key when the read leaves, whichever way it leaves.
class KeyCloser {
 public:
  KeyCloser(platform::Registry& registry, platform::RegistryKey key)
      : m_registry(registry), m_key(key) {}
  ~KeyCloser() { m_registry.CloseKey(m_key); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  platform::Registry& m_registry;
  platform::RegistryKey m_key;
};

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The decimal text of a hexadecimal literal "&h...". Up to four significant
// digits make a 16-bit integer and up to eight a 32-bit one, the top bit being
// the sign either way (&hFFFF is -1). Text that is no such literal, "&h" alone
// included, comes back as it is.
std::string FormatHexLiteral(const std::string& literal) {
  const std::string_view digits = std::string_view(literal).substr(2);
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsHexDigit)) {
    return literal;
  }
  const std::size_t first = digits.find_first_not_of('0');
  const std::string_view significant =
      first == std::string_view::npos ? std::string_view{} : digits.substr(first);
  if (significant.size() > 8) {
    return literal;
  }
  std::uint32_t value = 0;
  for (char c : significant) {
    const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value * 16u + static_cast<std::uint32_t>(digit);
  }
  if (significant.size() <= 4) {
    return std::to_string(static_cast<std::int16_t>(value));
  }
  return std::to_string(static_cast<std::int32_t>(value));
}

// A DWORD value as text: the codes of its characters, last to first, in
// upper-case hexadecimal without leading zeros, after what |prior| held, read
// as a hexadecimal literal.
std::string DwordText(const std::string& characters, const std::string& prior) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string literal = "&h" + prior;
  for (auto c = characters.rbegin(); c != characters.rend(); ++c) {
    const auto code = static_cast<unsigned char>(*c);
    if (code >= 16) {
      literal += kHex[code / 16];
    }
    literal += kHex[code % 16];
  }
  return FormatHexLiteral(literal);
}

}  // namespace

bool SysInfoLauncher::GetKeyValue(const platform::RegistryKey& KeyRoot, const std::string& KeyName,
                                  const std::string& SubKeyRef, std::string& KeyVal) {
  platform::Registry& registry = m_with.registry;
  platform::RegistryKey hKey = 0;
  if (registry.OpenKey(KeyRoot, KeyName, 0, kKeyAccess, hKey) != platform::kErrorSuccess) {
    KeyVal.clear();
    return false;
  }
  const KeyCloser closer(registry, hKey);

  std::array<std::uint8_t, kValueBufferBytes> buffer{};
  std::uint32_t size = kValueBufferBytes;
  std::uint32_t type = platform::kRegNone;
  if (registry.QueryValue(hKey, SubKeyRef, 0, type, buffer, size) != platform::kErrorSuccess) {
    KeyVal.clear();
    return false;
  }

  // The text ends at the first zero; the size the query returned is not used.
  const auto end = std::find(buffer.begin(), buffer.end(), std::uint8_t{0});
  if (end == buffer.end()) {
    throw UnterminatedValueError();
  }
  const std::string text(buffer.begin(), end);
  switch (type) {
    case platform::kRegSz:
      KeyVal = text;
      break;
    case platform::kRegDword:
      KeyVal = DwordText(text, KeyVal);
      break;
    default:  // REG_EXPAND_SZ and the rest leave KeyVal alone
      break;
  }
  return true;
}

void SysInfoLauncher::StartSysInfo() {
  const auto start = [this] {
    std::string SysInfoPath;
    if (!GetKeyValue(platform::kHkeyLocalMachine, kMsinfoKey, kMsinfoPathValue, SysInfoPath)) {
      if (!GetKeyValue(platform::kHkeyLocalMachine, kToolsLocationKey, kToolsLocationValue,
                       SysInfoPath)) {
        return false;
      }
      // Path is a folder; no separator is added or removed.
      if (m_with.files.Find(SysInfoPath + kMsinfoProgram).empty()) {
        return false;
      }
      SysInfoPath += kMsinfoProgram;
    }
    // Path as read is the program: nothing checks it or splits it.
    return m_with.launcher.Start(SysInfoPath);
  };
  bool started = false;
  try {
    started = start();
  } catch (...) {
    // An unterminated value, or any other failure on the way, ends the same.
  }
  if (!started) {
    m_with.messages.Show(kSysInfoUnavailable);
  }
}

}  // namespace ticklark::about
