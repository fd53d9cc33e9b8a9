// SPDX-License-Identifier: MIT
#include "calc/engine.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "key_sequence.hpp"

namespace ticklark::calc {
namespace {

using testing::Press;
using testing::PressAll;
using testing::RecordingOutput;

constexpr std::string_view kBeepMark = " (beep)";
const std::string kOneE35 = "1" + std::string(35, '0');

// One key sequence from a cleared calculator. displays holds the display after
// each key, separated by "|"; " (beep)" marks a key that beeps once, and every
// other key must not beep; an empty entry is not checked. Memory and indicator
// are checked at the end when given.
struct KeyCase {
  const char* name;
  const char* keys;
  const char* displays;
  const char* indicator = nullptr;
  double memory = NAN;
};

std::vector<std::string> SplitDisplays(std::string_view text) {
  std::vector<std::string> result;
  for (std::size_t bar = text.find('|'); bar != std::string_view::npos; bar = text.find('|')) {
    result.emplace_back(text.substr(0, bar));
    text.remove_prefix(bar + 1);
  }
  result.emplace_back(text);
  return result;
}

void PrintTo(const KeyCase& row, std::ostream* out) {
  *out << '"' << row.keys << '"';
}

class KeySequences : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeySequences, DisplayAfterEachKey) {
  const KeyCase& row = GetParam();
  RecordingOutput output;
  CalculatorEngine engine(output);
  const std::vector<std::string> keys = testing::SplitKeys(row.keys);
  const std::vector<std::string> displays = SplitDisplays(row.displays);
  ASSERT_EQ(keys.size(), displays.size()) << "malformed row";
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const int beepsBefore = output.beeps;
    Press(engine, keys[i]);
    std::string expected = displays[i];
    if (expected.empty()) {
      continue;
    }
    const bool beeps = expected.ends_with(kBeepMark);
    if (beeps) {
      expected.resize(expected.size() - kBeepMark.size());
    }
    EXPECT_EQ(engine.DisplayText(), expected) << "after key " << i + 1 << " \"" << keys[i] << '"';
    EXPECT_EQ(output.beeps - beepsBefore, beeps ? 1 : 0)
        << "beeps at key " << i + 1 << " \"" << keys[i] << '"';
  }
  if (row.indicator != nullptr) {
    EXPECT_EQ(engine.MemoryIndicator(), row.indicator);
  }
  if (!std::isnan(row.memory)) {
    EXPECT_EQ(engine.State().dblMemory, row.memory);
  }
}

std::string RowName(const ::testing::TestParamInfo<KeyCase>& info) {
  return info.param.name;
}

const KeyCase kEntryCases[] = {
    {"BackspaceErasesDigits", "1 2 3 BS BS BS", "1|12|123|12|1|0 (beep)"},
    {"BackspaceAfterSignChange", "1 2 +/- BS BS", "1|12|-12|-1|0 (beep)"},
    {"BackspaceThroughPoint", "0 . 5 BS BS", "0|0.|0.5|0.|0 (beep)"},
    {"LeadingZerosDoNotAccumulate", "0 0", "0|0"},
    {"ZeroIsReplaced", "0 5", "0|5"},
    {"ZerosAfterPointAccumulate", "0 . 0", "0|0.|0.0"},
    {"SecondPointBeeps", ". .", "0.|0. (beep)"},
    {"PointStartsNumberAfterOperator", "2 + . 5", "2|2|0.|0.5"},
    {"SignChangeAfterOperatorShowsZero", "2 + +/- 3 =", "2|2|0|3|5"},
    {"SignChangeTwice", "1 2 +/- +/-", "1|12|-12|12"},
    {"SignChangeDropsTypedPoint", "1 2 . +/-", "1|12|12.|-12"},
    {"SignChangeRoundsTo15Digits", "12345678901234567 +/-",
     "12345678901234567|-1.23456789012346E+16"},
    {"DigitAfterEqualsClearsTotalOnly", "2 + 3 = 4 =", "2|2|3|5|4|4"},
    {"ClearEntryKeepsPendingOperation", "2 + CE 3 =", "2|2|0|3|5"},
    {"ClearEntryInErrorClearsAll", "8 / 0 = CE 5 =", "8|8|0|Cannot divide by zero.|0|5|5"},
    {"BackspaceAfterOperatorBeeps", "2 + BS", "2|2|2 (beep)"},
    {"BackspaceAfterEqualsBeeps", "2 = BS", "2|2|2 (beep)"},
    {"BackspaceAfterSquareRootBeeps", "9 sqrt BS", "9|3|3 (beep)"},
    {"BackspaceAfterReciprocalBeeps", "4 1/x BS", "4|0.25|0.25 (beep)"},
};
INSTANTIATE_TEST_SUITE_P(Entry, KeySequences, ::testing::ValuesIn(kEntryCases), RowName);

const KeyCase kOperationCases[] = {
    {"EqualsRepeats", "2 + 3 = = =", "2|2|3|5|8|11"},
    {"LeftToRightWithoutPrecedence", "2 + 3 - 4 =", "2|2|3|5|4|1"},
    {"OperatorReplacesPending", "2 + - 3 =", "2|2|2|3|-1"},
    {"EqualsWithoutOperandAdds", "2 + = =", "2|2|4|6"},
    {"EqualsWithoutOperandMultiplies", "2 * = =", "2|2|4|8"},
    {"EqualsWithoutOperandUsesTotal", "2 * 3 + =", "2|2|3|6|12"},
    {"OperatorAfterEqualsContinues", "5 + 3 = * 2 =", "5|5|3|8|8|2|16"},
    {"EqualsWithNothingPending", "7 =", "7|7"},
    {"EqualsReformatsTypedText", "0 . 5 0 =", "0|0.|0.5|0.50|0.5"},
    {"DivideByZeroOnEquals", "8 / 0 = 5 C",
     "8|8|0|Cannot divide by zero.|Cannot divide by zero. (beep)|0"},
    {"DivideByZeroOnOperator", "8 / 0 +", "8|8|0|Cannot divide by zero."},
    {"ReciprocalOfZero", "0 1/x", "0|Cannot divide by zero."},
    {"SquareRootOfNegative", "4 +/- sqrt", "4|-4|Invalid input for function."},
    {"PercentOfTotal", "2 0 0 + 1 0 % =", "2|20|200|200|1|10|20|220"},
    {"PercentWithNothingPending", "5 0 %", "5|50|0"},
    {"SquareRootAsOperand", "2 + 9 sqrt =", "2|2|9|3|5"},
    {"ReciprocalAsOperand", "2 + 4 1/x =", "2|2|4|0.25|2.25"},
    {"ReciprocalContinuesAsShown",
     "3 1/x * 3 =", "3|0.333333333333333|0.333333333333333|3|0.999999999999999"},
    {"OperatorAfterFunctionContinuesTotal", "2 + 9 sqrt + 1 =", "2|2|9|3|2|1|3"},
    {"OperatorAfterFunctionWithNothingPending", "9 sqrt + 1 =", "9|3|3|1|4"},
    {"TwoThirds", "2 / 3 =", "2|2|3|0.666666666666667"},
    {"SquareRootOfTwo", "2 sqrt", "2|1.4142135623731"},
    {"SmallValuesTakeExponentForm", "1 / 10000 = =", "1|1|10000|0.0001|1E-08"},
    {"NegativeZeroShowsAsZero", "5 +/- * 0 =", "5|-5|-5|0|0"},
};
INSTANTIATE_TEST_SUITE_P(Operations, KeySequences, ::testing::ValuesIn(kOperationCases), RowName);

const KeyCase kMemoryCases[] = {
    {"StoreThenRecall", "5 MS C MR", "5|5|0|5", "M", 5},
    {"StoreThenAdd", "5 MS 3 M+ MR", "5|5|3|3|8", "M", 8},
    {"StoreZeroKeepsMemory", "0 MS", "0|0", "", 0},
    {"StoreIgnoredOnResult", "2 + 3 = MS", "2|2|3|5|5", "", 0},
    {"AddBackToZeroKeepsIndicator", "5 MS 5 +/- M+", "5|5|5|-5|-5", "M", 0},
    {"ClearMemory", "5 MS 5 +/- M+ MC", "5|5|5|-5|-5|-5", "", 0},
    {"DigitReplacesRecalledValue", "5 MS MR 7", "5|5|5|7", "M", 5},
    {"RecalledValueStartsCalculation", "5 MS C MR + 2 =", "5|5|0|5|5|2|7", "M", 5},
    {"ClearsKeepMemory", "5 MS C CE", "5|5|0|0", "M", 5},
    {"BackspaceAfterMemoryKeyBeeps", "5 MS BS", "5|5|5 (beep)", "M", 5},
};
INSTANTIATE_TEST_SUITE_P(Memory, KeySequences, ::testing::ValuesIn(kMemoryCases), RowName);

// Numbers in exponent form edited further, and values beyond the double range.
const std::string kBackToExponent = "1000000000000000 +/- ";
const std::string kTo1E280 = kOneE35 + " * = = = = = = = ";
const std::string kBackspaceExponent = kBackToExponent + "BS BS BS";
const std::string kDigitsOnExponent = kBackToExponent + "+/- 0 0 5";
const std::string kPointOnExponent = kBackToExponent + ". 5 BS =";
const std::string kPercentOver = kTo1E280 + "%";
const std::string kMemoryAddOver = kTo1E280 + "+ 1" + std::string(30, '0') + " % MS M+";
const std::string kReciprocalOver = "1 / " + kOneE35 + " = = = = = = = = = 1/x";
const KeyCase kRangeCases[] = {
    {"BackspaceTakesExponentMark", kBackspaceExponent.c_str(), "|-1E+15|-1E+1|-1|0 (beep)"},
    {"DigitsExtendExponentUntilOutOfRange", kDigitsOnExponent.c_str(),
     "|-1E+15|1E+15|1E+150|Value is over max calculation limit.|"
     "Value is over max calculation limit. (beep)"},
    {"PointAfterExponentRefusesDigits", kPointOnExponent.c_str(),
     "|-1E+15|-1E+15.|-1E+15. (beep)|-1E+15|-1E+15"},
    {"PercentOutOfRange", kPercentOver.c_str(),
     "|1E+35||||||||Value is over max calculation limit."},
    {"MemoryAddOutOfRange", kMemoryAddOver.c_str(),
     "|1E+35|||||||||||1E+308|Value is over max calculation limit.", "M", 1e308},
    {"ReciprocalOutOfRange", kReciprocalOver.c_str(),
     "1|1||1E-35|||||||||Value is over max calculation limit."},
};
INSTANTIATE_TEST_SUITE_P(Range, KeySequences, ::testing::ValuesIn(kRangeCases), RowName);

struct FlagCase {
  const char* name;
  const char* keys;
  std::int16_t intOp;
  bool blnNewNumber, blnCalcDone, blnMemUsed, blnError;
  double dblOperand, dblTotal;
  int focusRequests;
};

void PrintTo(const FlagCase& row, std::ostream* out) {
  *out << '"' << row.keys << '"';
}

class Flags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(Flags, AfterEachKindOfAction) {
  const FlagCase& row = GetParam();
  RecordingOutput output;
  CalculatorEngine engine(output);
  PressAll(engine, row.keys);
  const CalculatorState& s = engine.State();
  EXPECT_EQ(s.intOp, row.intOp);
  EXPECT_EQ(s.blnNewNumber, row.blnNewNumber);
  EXPECT_EQ(s.blnCalcDone, row.blnCalcDone);
  EXPECT_EQ(s.blnMemUsed, row.blnMemUsed);
  EXPECT_EQ(s.blnError, row.blnError);
  EXPECT_DOUBLE_EQ(s.dblOperand, row.dblOperand);
  EXPECT_DOUBLE_EQ(s.dblTotal, row.dblTotal);
  EXPECT_EQ(output.focusRequests, row.focusRequests);
}

std::string FlagRowName(const ::testing::TestParamInfo<FlagCase>& info) {
  return info.param.name;
}

constexpr bool T = true, F = false;
const FlagCase kFlagCases[] = {
    {"Digit", "5", 0, F, F, F, F, 5, 0, 1},
    {"OperatorApplied", "5 +", 1, T, F, F, F, 5, 5, 2},
    {"OperatorReplaced", "5 + -", 2, T, F, F, F, 5, 5, 2},
    {"Equals", "5 + 3 =", 1, T, T, F, F, 3, 8, 4},
    {"SquareRoot", "9 sqrt", 0, T, T, F, F, 3, 0, 1},
    {"ReciprocalKeepsShownValue", "3 1/x", 0, T, T, F, F, 0.333333333333333, 0, 1},
    {"Percent", "5 + 3 %", 1, F, F, F, F, 0.15, 5, 3},
    {"SignChangeAfterEquals", "5 + 3 = +/-", 1, T, T, F, F, -8, 8, 4},
    {"PointAfterEquals", "5 = .", 0, F, T, F, F, 0, 5, 2},
    {"MemoryKey", "5 MS", 0, F, F, T, F, 5, 0, 1},
    {"DigitAfterMemoryKey", "5 MS 3", 0, F, F, F, F, 3, 0, 2},
    {"StoreIgnoredOnResult", "5 + 3 = MS", 1, T, T, F, F, 3, 8, 4},
    {"DivideByZeroOperator", "8 / 0 +", 4, F, F, F, T, 0, 8, 3},
    {"DivideByZeroEquals", "8 / 0 =", 4, F, T, F, T, 0, 8, 3},
    {"InvalidInput", "4 +/- sqrt", 0, F, F, F, T, 0, 0, 1},
    {"ClearEntryKeepsPending", "5 + CE", 1, T, F, F, F, 0, 5, 2},
    {"ClearKeepsMemoryFlag", "5 MS + C", 0, F, F, T, F, 0, 0, 2},
    {"ClearEntryInErrorClearsAll", "8 / 0 = CE", 0, F, F, F, F, 0, 0, 3},
};
INSTANTIATE_TEST_SUITE_P(Engine, Flags, ::testing::ValuesIn(kFlagCases), FlagRowName);

TEST(DisplayRule, WrittenTextAndWhatIsShown) {
  const struct {
    std::string written, shown;
    int beeps;
  } rows[] = {
      {".5", "0.5", 0},
      {"-.25", "-0.25", 0},
      {"-0.5", "-0.5", 0},
      {"12.5", "12.5", 0},
      {".5.5", "0.50.5", 0},
      {std::string(37, '7'), std::string(36, '7'), 1},
      {"." + std::string(35, '1'), "0." + std::string(34, '1'), 1},
      {"0", "0", 0},
  };
  for (const auto& row : rows) {
    RecordingOutput output;
    CalculatorEngine engine(output);
    engine.WriteDisplay(row.written);
    EXPECT_EQ(engine.DisplayText(), row.shown) << row.written;
    EXPECT_EQ(output.beeps, row.beeps) << row.written;
  }
}

TEST(NumberEntry, ThirtySeventhDigitIsDroppedWithBeep) {
  RecordingOutput output;
  CalculatorEngine engine(output);
  const std::string digits = "1234567890123456789012345678901234567";
  for (const char digit : digits.substr(0, 36)) {
    engine.cmdNum(digit - '0');
  }
  EXPECT_EQ(output.beeps, 0);
  engine.cmdNum(7);
  EXPECT_EQ(engine.DisplayText(), digits.substr(0, 36));
  EXPECT_EQ(output.beeps, 1);
}

TEST(Operations, RepeatedProductOverflowsOnEighthEquals) {
  RecordingOutput output;
  CalculatorEngine engine(output);
  PressAll(engine, kOneE35 + " * = = = = = = =");
  EXPECT_FALSE(engine.State().blnError);
  EXPECT_NEAR(engine.State().dblTotal, 1e280, 1e266);
  Press(engine, "=");
  EXPECT_EQ(engine.DisplayText(), "Value is over max calculation limit.");
  EXPECT_TRUE(engine.State().blnError);
  EXPECT_EQ(output.beeps, 0);
}

TEST(ErrorState, EveryKeyButClearBeepsAndChangesNothing) {
  for (const std::string& cause :
       {std::string("8 / 0 ="), std::string("4 +/- sqrt"), kTo1E280 + "="}) {
    RecordingOutput output;
    CalculatorEngine engine(output);
    PressAll(engine, "5 MS " + cause);
    ASSERT_TRUE(engine.State().blnError) << cause;
    for (const char* key : {"5", ".", "BS", "+/-", "+", "-", "*", "/", "=", "%", "sqrt", "1/x",
                            "MC", "MR", "MS", "M+"}) {
      const CalculatorState before = engine.State();
      const int beeps = output.beeps;
      Press(engine, key);
      EXPECT_EQ(engine.State(), before) << key;
      EXPECT_EQ(output.beeps, beeps + 1) << key;
    }
    Press(engine, "C");
    EXPECT_EQ(engine.DisplayText(), "0");
    EXPECT_FALSE(engine.State().blnError);
    EXPECT_EQ(engine.State().dblMemory, 5);
  }
}

TEST(ErrorState, ArgumentsOutsideButtonRangeAreIgnored) {
  RecordingOutput output;
  CalculatorEngine engine(output);
  PressAll(engine, "5 MS 2 + 3");
  const CalculatorState before = engine.State();
  engine.cmdNum(10);
  engine.cmdNum(-1);
  engine.cmdOP(5);
  engine.cmdOP(-1);
  engine.cmdMEM(4);
  EXPECT_EQ(engine.State(), before);
  EXPECT_EQ(output.beeps, 0);
}

TEST(WindowReopen, ShowsZeroAndKeepsEverythingElse) {
  RecordingOutput output;
  CalculatorEngine engine(output);
  PressAll(engine, "5 MS 2 + 3");
  CalculatorState expected = engine.State();
  engine.OnWindowOpened();
  expected.displayText = "0";
  expected.memoryIndicator = "";
  EXPECT_EQ(engine.State(), expected);
  EXPECT_EQ(output.beeps, 0);
  Press(engine, "=");
  EXPECT_EQ(engine.DisplayText(), "5");
  Press(engine, "MR");
  EXPECT_EQ(engine.DisplayText(), "5");
}

TEST(WindowReopen, ErrorStateOutlivesTheWindow) {
  RecordingOutput output;
  CalculatorEngine engine(output);
  PressAll(engine, "8 / 0 =");
  engine.OnWindowOpened();
  EXPECT_EQ(engine.DisplayText(), "0");
  EXPECT_TRUE(engine.State().blnError);
  Press(engine, "7");
  EXPECT_EQ(engine.DisplayText(), "0");
  EXPECT_EQ(output.beeps, 1);
  Press(engine, "CE");
  Press(engine, "7");
  EXPECT_EQ(engine.DisplayText(), "7");
  EXPECT_EQ(engine.State().intOp, 0);
}

}  // namespace
}  // namespace ticklark::calc
