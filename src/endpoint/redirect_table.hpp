// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ticklark::endpoint {

// The redirect pages the program opens, each at /ticklark/viewext/redirect/<key>.asp.
inline constexpr std::array<std::string_view, 10> kRedirectKeys = {
    "islandjava",   "islandhtml",   "quickennews", "nasdaqhm",      "nasdaqcal",
    "nasdaqglobal", "nasdaqticker", "nasdaqevent", "earningswhisp", "rhipo"};

bool IsRedirectKey(std::string_view key);

// A problem in a table file, located by file name and line (0: the file as a whole).
struct TableError {
  std::string file;
  int line = 0;
  std::string message;

  // "file:line: message", or "file: message" for the whole file.
  std::string ToString() const;
};

// Redirect key to target address.
class RedirectTable {
 public:
  using EntryMap = std::map<std::string, std::string, std::less<>>;

  // The target of |key|, or nullptr when the table has none.
  const std::string* Find(std::string_view key) const;
  void Set(std::string key, std::string address);
  // Every entry of |overrides| replaces ours.
  void Override(const RedirectTable& overrides);

  const EntryMap& Entries() const { return m_entries; }
  std::size_t Size() const { return m_entries.size(); }
  bool operator==(const RedirectTable&) const = default;

 private:
  EntryMap m_entries;
};

struct ParsedTable {
  RedirectTable table;
  std::vector<TableError> errors;

  bool Ok() const { return errors.empty(); }
};

// Reads the text of a table file: one "key = address" a line, blank lines and
// lines starting with '#' ignored. Every bad line is reported; |file| names the
// source in the errors.
ParsedTable ParseRedirectTable(std::string_view text, std::string_view file);

// Why |address| cannot be a redirect target, or nothing when it can: it must be
// an absolute http or https address with a host, in printable ASCII.
std::optional<std::string> CheckTargetAddress(std::string_view address);

}  // namespace ticklark::endpoint
