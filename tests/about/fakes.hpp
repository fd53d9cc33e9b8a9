// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/file_search.hpp"
#include "platform/message_box.hpp"
#include "platform/process_launcher.hpp"
#include "platform/registry.hpp"

namespace ticklark::test {

// Keys below HKEY_LOCAL_MACHINE with their values; records every call.
class FakeRegistry : public platform::Registry {
 public:
  struct Value {
    std::uint32_t type;
    std::vector<std::uint8_t> bytes;
  };
  std::map<std::string, std::map<std::string, Value>> keys;
  std::vector<std::string> opened;  // every key asked for, in order
  std::set<platform::RegistryKey> open;
  bool fairCalls = true;  // options 0, access 0x2003F, a zeroed 1024-byte buffer

  platform::RegistryResult OpenKey(platform::RegistryKey root, const std::string& subKey,
                                   std::uint32_t options, std::uint32_t access,
                                   platform::RegistryKey& key) override {
    opened.push_back(subKey);
    fairCalls = fairCalls && options == 0 && access == 0x2003F;
    if (root != platform::kHkeyLocalMachine || !keys.contains(subKey)) {
      return platform::kErrorFileNotFound;
    }
    key = m_next++;
    m_names[key] = subKey;
    open.insert(key);
    return platform::kErrorSuccess;
  }
  platform::RegistryResult QueryValue(platform::RegistryKey key, const std::string& name,
                                      std::uint32_t, std::uint32_t& type,
                                      std::span<std::uint8_t> data, std::uint32_t& size) override {
    fairCalls = fairCalls && open.contains(key) && size == 1024 && data.size() == 1024 &&
                std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0; });
    const auto& values = keys[m_names[key]];
    const auto value = values.find(name);
    if (value == values.end()) {
      return platform::kErrorFileNotFound;
    }
    type = value->second.type;
    const auto room = size;
    size = static_cast<std::uint32_t>(value->second.bytes.size());
    if (size > room) {
      return platform::kErrorMoreData;
    }
    std::copy(value->second.bytes.begin(), value->second.bytes.end(), data.begin());
    return platform::kErrorSuccess;
  }
  platform::RegistryResult CloseKey(platform::RegistryKey key) override {
    return open.erase(key) ? platform::kErrorSuccess : platform::kErrorInvalidHandle;
  }

 private:
  platform::RegistryKey m_next = 1;
  std::map<platform::RegistryKey, std::string> m_names;
};

inline FakeRegistry::Value Sz(const std::string& text, std::uint32_t type = platform::kRegSz) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return {type, bytes};
}

class FakeFiles : public platform::FileSearch {
 public:
  std::set<std::string> files;
  std::string Find(const std::string& path) override {
    return files.contains(path) ? path.substr(path.rfind('\\') + 1) : std::string{};
  }
};

// Starts anything but empty text, unless told to fail.
class FakeLauncher : public platform::ProcessLauncher {
 public:
  bool fail = false;
  std::vector<std::string> attempts;
  bool Start(const std::string& path) override {
    attempts.push_back(path);
    return !fail && !path.empty();
  }
};

class FakeMessages : public platform::MessageBox {
 public:
  std::vector<std::string> shown;
  void Show(const std::string& text) override { shown.push_back(text); }
};

}  // namespace ticklark::test
