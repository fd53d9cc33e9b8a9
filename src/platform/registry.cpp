// SPDX-License-Identifier: MIT
#include "platform/registry.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace ticklark::platform {

namespace {

constexpr const char* kMsinfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr const char* kPathValue = "PATH";

// Registry names compare without regard to ASCII case.
char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) &&
         std::equal(a.begin(), a.end(), b, [](char x, char y) { return Lower(x) == Lower(y); });
}

bool IsExecutableFile(const std::string& path) {
  struct stat info{};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindProgram(std::span<const char* const> tools, const std::string& searchPath) {
  for (const char* tool : tools) {
    std::size_t start = 0;
    while (start <= searchPath.size()) {
      std::size_t end = searchPath.find(':', start);
      if (end == std::string::npos) {
        end = searchPath.size();
      }
      std::string folder = searchPath.substr(start, end - start);
      start = end + 1;
      // Empty and relative entries would name a program by the current folder.
      if (folder.empty() || folder.front() != '/') {
        continue;
      }
      if (folder.back() != '/') {
        folder += '/';
      }
      if (IsExecutableFile(folder + tool)) {
        return folder + tool;
      }
    }
  }
  return {};
}

LinuxRegistryView::LinuxRegistryView() = default;

LinuxRegistryView::LinuxRegistryView(std::string searchPath)
    : m_searchPath(std::move(searchPath)) {}

// The view is read-only, so whatever rights are asked for are granted.
RegistryResult LinuxRegistryView::OpenKey(RegistryKey root, const std::string& subKey,
                                          std::uint32_t, std::uint32_t, RegistryKey& key) {
  if (root != kHkeyLocalMachine && !m_open.contains(root)) {
    return root >= 0x80000000u ? kErrorFileNotFound : kErrorInvalidHandle;
  }
  if (root != kHkeyLocalMachine || !SameName(subKey, kMsinfoKey)) {
    return kErrorFileNotFound;
  }
  std::string searchPath;
  if (m_searchPath) {
    searchPath = *m_searchPath;
  } else if (const char* env = std::getenv("PATH")) {
    searchPath = env;
  }
  std::string tool = FindProgram(kSysInfoTools, searchPath);
  if (tool.empty()) {
    return kErrorFileNotFound;
  }
  key = m_nextHandle++;
  m_open.emplace(key, std::move(tool));
  return kErrorSuccess;
}

RegistryResult LinuxRegistryView::QueryValue(RegistryKey key, const std::string& name,
                                             std::uint32_t, std::uint32_t& type,
                                             std::span<std::uint8_t> data, std::uint32_t& size) {
  const auto open = m_open.find(key);
  if (open == m_open.end()) {
    return kErrorInvalidHandle;
  }
  if (!SameName(name, kPathValue)) {
    return kErrorFileNotFound;
  }
  const std::string& text = open->second;
  const auto needed = static_cast<std::uint32_t>(text.size() + 1);  // with its ending zero
  type = kRegSz;
  const std::uint32_t room = std::min<std::uint32_t>(size, static_cast<std::uint32_t>(data.size()));
  size = needed;
  if (needed > room) {
    return kErrorMoreData;
  }
  std::copy(text.begin(), text.end(), data.begin());
  data[text.size()] = 0;
  return kErrorSuccess;
}

RegistryResult LinuxRegistryView::CloseKey(RegistryKey key) {
  return m_open.erase(key) == 1 ? kErrorSuccess : kErrorInvalidHandle;
}

}  // namespace ticklark::platform
