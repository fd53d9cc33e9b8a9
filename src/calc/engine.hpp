// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ticklark::calc {

// What the calculator asks of its window.
class CalculatorOutput {
 public:
  virtual ~CalculatorOutput() = default;
  // The platform's default warning sound, once per call.
  virtual void Beep() = 0;
  // Move the keyboard focus to the hidden equals button btnFocusEqual, so that
  // Enter performs "=".
  virtual void RequestFocus() = 0;
};

// Pending operation codes of intOp; they are also the cmdOP button indexes.
inline constexpr std::int16_t kOpNone = 0;
inline constexpr std::int16_t kOpAdd = 1;
inline constexpr std::int16_t kOpSubtract = 2;
inline constexpr std::int16_t kOpMultiply = 3;
inline constexpr std::int16_t kOpDivide = 4;

// cmdMEM button indexes.
inline constexpr int kMemClear = 0;
inline constexpr int kMemRecall = 1;
inline constexpr int kMemStore = 2;
inline constexpr int kMemAdd = 3;

inline constexpr std::size_t kMaxDisplayLength = 36;

inline constexpr const char* kDivideByZeroMessage = "Cannot divide by zero.";
inline constexpr const char* kInvalidInputMessage = "Invalid input for function.";
inline constexpr const char* kOverLimitMessage = "Value is over max calculation limit.";

// Everything the calculator remembers. Every number is a double.
struct CalculatorState {
  // What lblOutput shows: the number being typed, a result or an error message;
  // at most 36 characters. Several actions read their operand back from it.
  std::string displayText = "0";
  // What lblMem shows: "M" after a store into memory, empty after MC.
  std::string memoryIndicator;
  // The value typed or produced by a one-operand function; the right-hand
  // operand of the pending operation, kept after "=" so that "=" can repeat.
  double dblOperand = 0.0;
  // The running total: left-hand operand of the pending operation, last result.
  double dblTotal = 0.0;
  // The pending operation, kOpNone to kOpDivide.
  std::int16_t intOp = kOpNone;
  // The display shows a computed value; the next digit starts a new number.
  bool blnNewNumber = false;
  // The last action was "=", square root or reciprocal; the next digit also
  // clears the total.
  bool blnCalcDone = false;
  // The last effective action was a memory key; the next digit starts a new
  // number and Backspace is refused.
  bool blnMemUsed = false;
  // The display holds an error message; every action but C and CE beeps.
  bool blnError = false;
  // The memory register.
  double dblMemory = 0.0;

  bool operator==(const CalculatorState&) const = default;
};

// The immediate-execution calculator behind the calculator window: no operator
// precedence, one memory register. Each action is one button of the window;
// the window shows DisplayText() and MemoryIndicator() after each action and
// carries out the beeps and focus requests sent to its CalculatorOutput.
//
// Every change of the display goes through WriteDisplay, which applies the
// display rule: a text longer than 36 characters beeps and is cut to 36, "-."
// becomes "-0.", and a text that begins with "." has every "." turned into
// "0."; the steps repeat until the text is stable.
//
// The error state is entered with one of three messages: "Cannot divide by
// zero.", "Invalid input for function." and "Value is over max calculation
// limit.". While in it, every action except C and CE beeps and changes nothing;
// C leaves it, and so does CE, which performs C first.
//
// Numbers shown in exponent form can be edited further, so the display can be
// asked to hold texts that are not plain numbers. The calculator keeps the
// display a readable number outside the error state:
// - Backspace that would leave a dangling exponent ("1E+" from "1E+2") erases
//   the "E" and its sign too, so "1E+2" becomes "1".
// - The decimal point after a number in exponent form without a point is
//   accepted ("1E+20." reads as 1E+20); a digit after it is refused with a beep,
//   changing nothing, because "1E+20.5" is no number.
// - A value outside the double range, whether typed (digits appended to an
//   exponent, "1E+3080") or produced by percent, reciprocal or M+, gives
//   "Value is over max calculation limit." and the error state, as the binary
//   operators do; the operand, total and memory keep their previous values.
//   Sign change cannot overflow and square root cannot either.
// - A value too small for a double, typed or computed, is zero (or the
//   subnormal value the arithmetic gives); underflow is never an error.
// - Should the display nevertheless hold a text that is not a number when an
//   action other than an operator must read it, that action beeps and changes
//   nothing; an operator stops silently at that point.
// Zero is always shown as "0", never with a minus sign. The number form of the
// display is that of FormatNumber (number_text.hpp): 15 significant digits,
// exponent form from 1E15 up and below 1E-4.
//
// Arguments outside their button range (a digit other than 0 to 9, an operator
// other than 0 to 4, a memory key other than 0 to 3) are ignored.
class CalculatorEngine {
 public:
  // A calculator in the given state, by default the cleared one with empty
  // memory. The display text goes through the display rule.
  explicit CalculatorEngine(CalculatorOutput& output, CalculatorState initial = {});

  const CalculatorState& State() const { return m_state; }
  const std::string& DisplayText() const { return m_state.displayText; }
  const std::string& MemoryIndicator() const { return m_state.memoryIndicator; }

  // Each opening of the window: the display shows "0" and the indicator is
  // empty; no beep, and every other field (memory, pending operation, error
  // state) keeps its value.
  void OnWindowOpened();

  // Number entry and editing.
  void cmdNum(int digit);  // appends a digit; the first after a result starts a new number
  void cmdDot();           // decimal point; a second one in the number beeps
  void cmdBS();            // Backspace: edits only a number that is being typed
  void cmdPlusMinus();     // sign change of the shown value
  void cmdCE();            // clear entry: display and operand to 0, pending operation kept
  void cmdC();             // clear all but the memory

  // Operations. cmdOP(0) is what "=" runs when nothing is pending.
  void cmdOP(int op);    // applies the pending operation, then makes op pending
  void cmdEqual();       // applies the pending operation; repeats it when pressed again
  void cmdPercent();     // shown value / 100 * total becomes the operand
  void cmdSQRT();        // square root; a negative value is invalid input
  void cmdOneDivideX();  // reciprocal; continues with the value as shown

  // Memory keys: kMemClear, kMemRecall, kMemStore, kMemAdd. Store and add act
  // only on a shown value that is not a fresh result, and only when it is not 0.
  void cmdMEM(int key);

  // The one way the display changes: stores the text and applies the display
  // rule. Writing the text already shown changes nothing.
  void WriteDisplay(std::string text);
  // Steps 2 and 3 of the display rule on the shown text; with update, the
  // operand then becomes the value shown.
  void NormalizeDisplay(bool update);

 private:
  // The shown value for an action that reads it; on failure the action has
  // been answered already (beep, or the over-limit error) and must stop.
  std::optional<double> ReadDisplay();
  void EnterError(const char* message);
  void RefuseKey() { m_output.Beep(); }

  CalculatorOutput& m_output;
  CalculatorState m_state;
};

}  // namespace ticklark::calc
