// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "calc/engine.hpp"

namespace ticklark::calc::testing {

// Counts what the calculator asks of its window.
class RecordingOutput : public CalculatorOutput {
 public:
  void Beep() override { ++beeps; }
  void RequestFocus() override { ++focusRequests; }

  int beeps = 0;
  int focusRequests = 0;
};

// Keys separated by spaces ("12 + 3 =", "5 MS C MR"), or, in a text without
// spaces, one key per character ("12+3=").
std::vector<std::string> SplitKeys(std::string_view keys);

// Presses one key by its caption: digits (a run of digits presses each in
// turn), ".", "+/-", "BS", "CE", "C", "+", "-", "*", "/", "=", "%", "sqrt",
// "1/x", "MC", "MR", "MS", "M+". Throws std::invalid_argument for anything else.
void Press(CalculatorEngine& engine, std::string_view key);

void PressAll(CalculatorEngine& engine, std::string_view keys);

}  // namespace ticklark::calc::testing
