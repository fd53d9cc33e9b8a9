// SPDX-License-Identifier: MIT
#include "key_sequence.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace ticklark::calc::testing {

std::vector<std::string> SplitKeys(std::string_view keys) {
  std::vector<std::string> result;
  if (keys.find(' ') == std::string_view::npos) {
    for (const char c : keys) {
      result.emplace_back(1, c);
    }
    return result;
  }
  std::size_t start = 0;
  while (start < keys.size()) {
    const std::size_t end = std::min(keys.find(' ', start), keys.size());
    if (end > start) {
      result.emplace_back(keys.substr(start, end - start));
    }
    start = end + 1;
  }
  return result;
}

void Press(CalculatorEngine& engine, std::string_view key) {
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (!key.empty() && std::all_of(key.begin(), key.end(), isDigit)) {
    for (const char c : key) {
      engine.cmdNum(c - '0');
    }
    return;
  }
  using Action = void (CalculatorEngine::*)();
  static constexpr std::pair<std::string_view, Action> kActions[] = {
      {".", &CalculatorEngine::cmdDot},         {"+/-", &CalculatorEngine::cmdPlusMinus},
      {"BS", &CalculatorEngine::cmdBS},         {"CE", &CalculatorEngine::cmdCE},
      {"C", &CalculatorEngine::cmdC},           {"=", &CalculatorEngine::cmdEqual},
      {"%", &CalculatorEngine::cmdPercent},     {"sqrt", &CalculatorEngine::cmdSQRT},
      {"1/x", &CalculatorEngine::cmdOneDivideX}};
  static constexpr std::string_view kOperators[] = {"+", "-", "*", "/"};
  static constexpr std::string_view kMemoryKeys[] = {"MC", "MR", "MS", "M+"};
  for (const auto& [caption, action] : kActions) {
    if (key == caption) {
      return (engine.*action)();
    }
  }
  for (int i = 0; i < 4; ++i) {
    if (key == kOperators[i]) {
      return engine.cmdOP(i + 1);
    }
    if (key == kMemoryKeys[i]) {
      return engine.cmdMEM(i);
    }
  }
  throw std::invalid_argument("unknown calculator key: " + std::string(key));
}

void PressAll(CalculatorEngine& engine, std::string_view keys) {
  for (const std::string& key : SplitKeys(keys)) {
    Press(engine, key);
  }
}

}  // namespace ticklark::calc::testing
