// SPDX-License-Identifier: MIT
#include "web/core/download_names.hpp"

namespace ticklark::web {

namespace {

constexpr std::string_view kPartEnding = ".XXXXXX.part";
// What the engine adds to a destination's name while it writes to it.
constexpr std::string_view kEngineEnding = ".wkdownload";

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

// |text| cut to at most |bytes| without splitting a UTF-8 character.
std::string CutAt(std::string text, std::size_t bytes) {
  if (text.size() <= bytes) {
    return text;
  }
  while (bytes > 0 && IsContinuationByte(text[bytes])) {
    --bytes;
  }
  text.resize(bytes);
  return text;
}

// Where the extension starts ("report.csv" -> 6), or npos for none.
std::size_t ExtensionAt(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? std::string::npos : dot;
}

}  // namespace

std::string SafeFileName(std::string_view suggested) {
  const auto slash = suggested.find_last_of("/\\");
  if (slash != std::string_view::npos) {
    suggested.remove_prefix(slash + 1);
  }
  std::string name;
  for (char c : suggested) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      name.push_back(c);
    }
  }
  const auto first = name.find_first_not_of(". ");
  if (first == std::string::npos) {
    return "download";
  }
  name.erase(0, first);
  name.erase(name.find_last_not_of(". ") + 1);
  if (name.size() > kMaxNameBytes) {
    const auto dot = ExtensionAt(name);
    const std::string extension =
        dot != std::string::npos && name.size() - dot <= 16 ? name.substr(dot) : "";
    name = CutAt(name.substr(0, name.size() - extension.size()), kMaxNameBytes - extension.size()) +
           extension;
  }
  return name;
}

std::string PartFileTemplate(std::string_view name, std::size_t maxNameBytes) {
  const std::size_t ending = kPartEnding.size() + kEngineEnding.size();
  const std::size_t room = maxNameBytes > ending ? maxNameBytes - ending : 1;
  return CutAt(std::string(name), room) + std::string(kPartEnding);
}

std::filesystem::path FreePath(const std::filesystem::path& path,
                               const std::function<bool(const std::filesystem::path&)>& taken) {
  if (!taken(path)) {
    return path;
  }
  const std::string name = path.filename().string();
  const auto dot = ExtensionAt(name);
  const std::string stem = name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  for (int n = 2; n < 10000; ++n) {
    const std::string suffix = " (" + std::to_string(n) + ")";
    const std::string candidate =
        CutAt(stem, kMaxNameBytes - suffix.size() - extension.size()) + suffix + extension;
    const std::filesystem::path next = path.parent_path() / candidate;
    if (!taken(next)) {
      return next;
    }
  }
  return {};
}

}  // namespace ticklark::web
