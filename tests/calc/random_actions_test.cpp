// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <string>

#include "calc/engine.hpp"
#include "calc/number_text.hpp"
#include "key_sequence.hpp"

namespace ticklark::calc {
namespace {

using Random = std::mt19937_64;

bool Chance(Random& random, double p) {
  return std::bernoulli_distribution(p)(random);
}

double RandomValue(Random& random) {
  static constexpr double kSpecial[] = {
      0.0,     -0.0,  1.0,    DBL_MAX, -DBL_MAX,          5e-324,
      DBL_MIN, 1e308, 1e-308, 1e15,    999999999999999.9, 1.79769313486231e308,
      0.0001};
  switch (std::uniform_int_distribution<int>(0, 3)(random)) {
    case 0:
      return kSpecial[std::uniform_int_distribution<std::size_t>(0,
                                                                 std::size(kSpecial) - 1)(random)];
    case 1:
      return std::uniform_int_distribution<int>(-1000, 1000)(random);
    default: {
      const double magnitude =
          std::pow(10.0, std::uniform_real_distribution<double>(-330, 309)(random));
      const double value = std::isfinite(magnitude) ? magnitude : DBL_MAX;
      return Chance(random, 0.5) ? -value : value;
    }
  }
}

// A display text the calculator could be showing: a formatted value, a number
// being typed, or a formatted value with a point typed after it.
std::string RandomNumberText(Random& random) {
  const int kind = std::uniform_int_distribution<int>(0, 2)(random);
  if (kind == 0) {
    return FormatNumber(RandomValue(random));
  }
  if (kind == 1) {
    std::string typed = Chance(random, 0.3) ? "-" : "";
    const int length = std::uniform_int_distribution<int>(1, 34)(random);
    for (int i = 0; i < length; ++i) {
      typed += static_cast<char>('0' + std::uniform_int_distribution<int>(0, 9)(random));
    }
    if (Chance(random, 0.5)) {
      typed.insert(typed.size() - static_cast<std::size_t>(length / 2), ".");
    }
    return typed;
  }
  const std::string shown = FormatNumber(RandomValue(random));
  return shown.find('.') == std::string::npos ? shown + "." : shown;
}

CalculatorState RandomState(Random& random) {
  static constexpr const char* kMessages[] = {kDivideByZeroMessage, kInvalidInputMessage,
                                              kOverLimitMessage};
  CalculatorState state;
  state.blnError = Chance(random, 0.1);
  state.displayText = state.blnError ? kMessages[random() % 3] : RandomNumberText(random);
  state.memoryIndicator = Chance(random, 0.5) ? "M" : "";
  state.dblOperand = RandomValue(random);
  state.dblTotal = RandomValue(random);
  state.dblMemory = RandomValue(random);
  state.intOp = static_cast<std::int16_t>(random() % 5);
  state.blnNewNumber = Chance(random, 0.5);
  state.blnCalcDone = Chance(random, 0.5);
  state.blnMemUsed = Chance(random, 0.5);
  return state;
}

// Presses a random key; returns whether it was C or CE.
bool PressRandomKey(CalculatorEngine& engine, Random& random) {
  static constexpr const char* kKeys[] = {".",    "+/-", "BS", "+",  "-",  "*",  "/",  "=", "%",
                                          "sqrt", "1/x", "MC", "MR", "MS", "M+", "CE", "C"};
  if (Chance(random, 0.4)) {
    engine.cmdNum(static_cast<int>(random() % 10));
    return false;
  }
  if (Chance(random, 0.01)) {
    engine.OnWindowOpened();
    return true;
  }
  const std::string key = kKeys[random() % std::size(kKeys)];
  testing::Press(engine, key);
  return key == "CE" || key == "C";
}

TEST(RandomActions, EngineStaysConsistent) {
  constexpr int kEpisodes = 25000;
  constexpr int kActionsPerEpisode = 50;
  Random random(0x7161726b);
  testing::RecordingOutput output;
  for (int episode = 0; episode < kEpisodes; ++episode) {
    CalculatorEngine engine(output, RandomState(random));
    for (int action = 0; action < kActionsPerEpisode; ++action) {
      const CalculatorState before = engine.State();
      const int beepsBefore = output.beeps;
      const bool clears = PressRandomKey(engine, random);
      const CalculatorState& after = engine.State();
      const auto where = [&] {
        return "episode " + std::to_string(episode) + " action " + std::to_string(action) +
               " display " + after.displayText;
      };
      ASSERT_LE(after.displayText.size(), kMaxDisplayLength) << where();
      ASSERT_TRUE(std::isfinite(after.dblOperand) && std::isfinite(after.dblTotal) &&
                  std::isfinite(after.dblMemory))
          << where();
      ASSERT_TRUE(after.memoryIndicator.empty() || after.memoryIndicator == "M") << where();
      if (!after.blnError) {
        ASSERT_EQ(ParseNumber(after.displayText).status, ParseStatus::kOk) << where();
      }
      if (before.blnError && !clears) {
        ASSERT_EQ(after, before) << where();
        ASSERT_EQ(output.beeps, beepsBefore + 1) << where();
      }
    }
  }
}

// Texts that no action writes, outside the error state: nothing may fail.
TEST(RandomActions, ForeignDisplayTextsAreSurvived) {
  Random random(42);
  testing::RecordingOutput output;
  for (const char* text :
       {"", "-", ".", "-.", "1E+", "1E", "1E+20.5", "..", "abc", "1E+99999", "-1E-99999",
        "1.5E+20.", "0x10", "12345678901234567890123456789012345678901234567890"}) {
    for (int episode = 0; episode < 200; ++episode) {
      CalculatorState state = RandomState(random);
      state.displayText = text;
      state.blnError = false;
      CalculatorEngine engine(output, state);
      for (int action = 0; action < 30; ++action) {
        PressRandomKey(engine, random);
        ASSERT_LE(engine.DisplayText().size(), kMaxDisplayLength);
      }
    }
  }
}

}  // namespace
}  // namespace ticklark::calc
