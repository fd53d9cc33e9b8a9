// SPDX-License-Identifier: MIT
#include "endpoint/redirect_table.hpp"

#include <algorithm>
#include <utility>

#include <glib.h>

#include "platform/gobject_ptr.hpp"

namespace ticklark::endpoint {

namespace {

constexpr std::string_view kBlanks = " \t\r\f\v";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::string KnownKeys() {
  std::string list;
  for (const auto key : kRedirectKeys) {
    list += list.empty() ? "" : ", ";
    list += key;
  }
  return list;
}

}  // namespace

bool IsRedirectKey(std::string_view key) {
  return std::find(kRedirectKeys.begin(), kRedirectKeys.end(), key) != kRedirectKeys.end();
}

std::string TableError::ToString() const {
  std::string text = file;
  if (line > 0) {
    text += ':' + std::to_string(line);
  }
  return text + ": " + message;
}

const std::string* RedirectTable::Find(std::string_view key) const {
  const auto found = m_entries.find(key);
  return found == m_entries.end() ? nullptr : &found->second;
}

void RedirectTable::Set(std::string key, std::string address) {
  m_entries.insert_or_assign(std::move(key), std::move(address));
}

void RedirectTable::Override(const RedirectTable& overrides) {
  for (const auto& [key, address] : overrides.m_entries) {
    m_entries.insert_or_assign(key, address);
  }
}

std::optional<std::string> CheckTargetAddress(std::string_view address) {
  for (const char c : address) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f) {
      return "the address holds a space, a control or a non-ASCII character (percent-encode it)";
    }
  }
  const std::string text(address);
  platform::GErrorPtr error;
  const platform::CPtr<GUri, g_uri_unref> uri(
      g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, platform::Out(error)));
  if (!uri) {
    return std::string("not an absolute address: ") + error->message;
  }
  const std::string scheme = g_uri_get_scheme(uri.get());
  const char* host = g_uri_get_host(uri.get());
  const bool hasHost = host && *host;
  if (scheme != "http" && scheme != "https") {
    return "the target must be an http or https address, not " + scheme + ":";
  }
  if (!hasHost) {
    return "the address has no host";
  }
  return std::nullopt;
}

ParsedTable ParseRedirectTable(std::string_view text, std::string_view file) {
  ParsedTable parsed;
  std::map<std::string, int, std::less<>> firstLineOf;
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const auto end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty() || line.front() == '#') {
      continue;
    }
    const auto report = [&](std::string message) {
      parsed.errors.push_back({std::string(file), lineNumber, std::move(message)});
    };
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      report("expected 'key = address', found no '='");
      continue;
    }
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view address = Trim(line.substr(equals + 1));
    if (key.empty() || address.empty()) {
      report(key.empty() ? "expected 'key = address', the key is missing"
                         : "expected 'key = address', the address is missing");
      continue;
    }
    if (!IsRedirectKey(key)) {
      report("unknown key '" + std::string(key) + "' (known keys: " + KnownKeys() + ")");
      continue;
    }
    if (const auto problem = CheckTargetAddress(address)) {
      report(*problem);
      continue;
    }
    if (const auto earlier = firstLineOf.find(key); earlier != firstLineOf.end()) {
      report("'" + std::string(key) + "' is given twice (first on line " +
             std::to_string(earlier->second) + ")");
      continue;
    }
    firstLineOf.emplace(std::string(key), lineNumber);
    parsed.table.Set(std::string(key), std::string(address));
  }
  return parsed;
}

}  // namespace ticklark::endpoint
