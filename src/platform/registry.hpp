// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

namespace ticklark::platform {

// A key handle, or one of the predefined roots.
using RegistryKey = std::uint32_t;
inline constexpr RegistryKey kHkeyLocalMachine = 0x80000002u;

// Result codes of the registry operations.
using RegistryResult = std::int32_t;
inline constexpr RegistryResult kErrorSuccess = 0;
inline constexpr RegistryResult kErrorFileNotFound = 2;
inline constexpr RegistryResult kErrorAccessDenied = 5;
inline constexpr RegistryResult kErrorInvalidHandle = 6;
inline constexpr RegistryResult kErrorMoreData = 234;

// Value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

// Access rights of a key.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kKeyNotify = 0x0010;
inline constexpr std::uint32_t kKeyCreateLink = 0x0020;
inline constexpr std::uint32_t kReadControl = 0x20000;

// A read-only view of the system registry: keys below a root, named values in
// a key. Key paths use backslashes; names compare without regard to case.
class Registry {
 public:
  virtual ~Registry() = default;

  // Opens |subKey| below |root| with the |access| rights; on success stores
  // the new handle in |key|.
  virtual RegistryResult OpenKey(RegistryKey root, const std::string& subKey, std::uint32_t options,
                                 std::uint32_t access, RegistryKey& key) = 0;
  // Reads the value |name| of an open key: its type into |type| and its bytes
  // to the start of |data|. On entry |size| is the room in |data|; on return it
  // is the value's size. A value that does not fit gives kErrorMoreData and
  // leaves |data| as it was.
  virtual RegistryResult QueryValue(RegistryKey key, const std::string& name,
                                    std::uint32_t reserved, std::uint32_t& type,
                                    std::span<std::uint8_t> data, std::uint32_t& size) = 0;
  virtual RegistryResult CloseKey(RegistryKey key) = 0;
};

// The Linux side of the registry: there is none, except for the one value by
// which the program finds a system-information tool. The key
// HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSINFO exists while one of
// kSysInfoTools is found on the search path, and its string value "PATH" is that
// tool's full path. Every other key is absent.
class LinuxRegistryView final : public Registry {
 public:
  // Searches the PATH environment variable as it is when a key is opened.
  LinuxRegistryView();
  // Searches |searchPath| (colon-separated folders) instead.
  explicit LinuxRegistryView(std::string searchPath);

  RegistryResult OpenKey(RegistryKey root, const std::string& subKey, std::uint32_t options,
                         std::uint32_t access, RegistryKey& key) override;
  RegistryResult QueryValue(RegistryKey key, const std::string& name, std::uint32_t reserved,
                            std::uint32_t& type, std::span<std::uint8_t> data,
                            std::uint32_t& size) override;
  RegistryResult CloseKey(RegistryKey key) override;

 private:
  std::optional<std::string> m_searchPath;
  std::map<RegistryKey, std::string> m_open;  // handle -> the tool's path
  RegistryKey m_nextHandle = 0x100;
};

// The system-information tools looked for, most wanted first.
inline constexpr const char* kSysInfoTools[] = {"hardinfo2", "hardinfo", "kinfocenter",
                                                "gnome-system-monitor", "lshw-gtk"};

// The full path of the first of |tools| that is an executable file in one of
// the absolute folders of |searchPath|; the order of |tools| comes first, then
// the order of the folders. Empty text when none is found.
std::string FindProgram(std::span<const char* const> tools, const std::string& searchPath);

}  // namespace ticklark::platform
