// SPDX-License-Identifier: MIT
#include "calc/engine.hpp"

#include <cmath>
#include <utility>

#include "calc/number_text.hpp"

namespace ticklark::calc {

namespace {

// Steps 2 and 3 of the display rule: a point right after a minus sign or at the
// very start gets a 0 before it.
std::string WithLeadingZeros(std::string text) {
  for (std::size_t at = text.find("-."); at != std::string::npos; at = text.find("-.", at + 3)) {
    text.replace(at, 2, "-0.");
  }
  if (!text.empty() && text.front() == '.') {
    for (std::size_t at = text.find('.'); at != std::string::npos; at = text.find('.', at + 2)) {
      text.replace(at, 1, "0.");
    }
  }
  return text;
}

// Backspace never leaves an exponent without digits: the "E" and its sign go
// with the exponent's last digit.
void DropDanglingExponent(std::string& text) {
  if (text.ends_with("E+") || text.ends_with("E-")) {
    text.resize(text.size() - 2);
  } else if (text.ends_with('E')) {
    text.pop_back();
  }
}

}  // namespace

CalculatorEngine::CalculatorEngine(CalculatorOutput& output, CalculatorState initial)
    : m_output(output), m_state(std::move(initial)) {
  std::string shown = std::move(m_state.displayText);
  m_state.displayText.clear();
  WriteDisplay(std::move(shown));
}

void CalculatorEngine::OnWindowOpened() {
  m_state.displayText = "0";
  m_state.memoryIndicator.clear();
}

void CalculatorEngine::WriteDisplay(std::string text) {
  if (text == m_state.displayText) {
    return;
  }
  for (;;) {
    std::string next = text;
    if (next.size() > kMaxDisplayLength) {
      m_output.Beep();
      next.resize(kMaxDisplayLength);
    }
    next = WithLeadingZeros(std::move(next));
    if (next == text) {
      break;
    }
    text = std::move(next);
  }
  m_state.displayText = std::move(text);
}

void CalculatorEngine::NormalizeDisplay(bool update) {
  WriteDisplay(WithLeadingZeros(m_state.displayText));
  if (update) {
    const ParseResult shown = ParseNumber(m_state.displayText);
    if (shown.status == ParseStatus::kOk) {
      m_state.dblOperand = shown.value;
    }
  }
}

std::optional<double> CalculatorEngine::ReadDisplay() {
  const ParseResult shown = ParseNumber(m_state.displayText);
  switch (shown.status) {
    case ParseStatus::kOk:
      return shown.value;
    case ParseStatus::kOutOfRange:
      EnterError(kOverLimitMessage);
      return std::nullopt;
    case ParseStatus::kNotANumber:
      break;
  }
  RefuseKey();
  return std::nullopt;
}

void CalculatorEngine::EnterError(const char* message) {
  WriteDisplay(message);
  m_state.blnError = true;
}

void CalculatorEngine::cmdNum(int digit) {
  if (digit < 0 || digit > 9) {
    return;
  }
  if (m_state.blnError) {
    RefuseKey();
    return;
  }
  std::string text = m_state.displayText;
  if (m_state.blnNewNumber || m_state.blnMemUsed || text == "0") {
    text.clear();
  }
  text += static_cast<char>('0' + digit);
  // A digit after "1E+20." would leave no number on the display. (A digit the
  // 36-character cut drops cannot do that.)
  if (text.size() <= kMaxDisplayLength &&
      ParseNumber(WithLeadingZeros(text)).status == ParseStatus::kNotANumber) {
    RefuseKey();
    return;
  }
  if (m_state.blnCalcDone) {
    m_state.dblTotal = 0.0;
  }
  WriteDisplay(std::move(text));
  const ParseResult typed = ParseNumber(m_state.displayText);
  if (typed.status == ParseStatus::kOutOfRange) {
    EnterError(kOverLimitMessage);
    return;
  }
  if (typed.status == ParseStatus::kOk) {
    m_state.dblOperand = typed.value;
  }
  m_state.blnNewNumber = false;
  m_state.blnMemUsed = false;
  m_state.blnCalcDone = false;
  m_output.RequestFocus();
}

void CalculatorEngine::cmdDot() {
  if (m_state.blnError) {
    RefuseKey();
    return;
  }
  if (m_state.blnNewNumber) {
    m_state.displayText.clear();
    m_state.dblOperand = 0.0;
  }
  const std::string& shown = m_state.displayText;
  if (shown.empty()) {
    WriteDisplay("0.");
  } else if (shown.find('.') == std::string::npos) {
    WriteDisplay(shown + ".");
  } else {
    RefuseKey();
  }
  m_state.blnNewNumber = false;
}

void CalculatorEngine::cmdBS() {
  if (m_state.blnError || m_state.blnCalcDone || m_state.blnMemUsed || m_state.blnNewNumber) {
    RefuseKey();
    return;
  }
  const std::optional<double> value = ReadDisplay();
  if (!value) {
    return;
  }
  const std::size_t length = m_state.displayText.size();
  if ((length > 1 && *value > 0) || (length > 2 && *value < 0)) {
    std::string shorter = m_state.displayText.substr(0, length - 1);
    DropDanglingExponent(shorter);
    WriteDisplay(std::move(shorter));
  } else {
    m_output.Beep();
    WriteDisplay("0");
  }
  if (const ParseResult shown = ParseNumber(m_state.displayText);
      shown.status == ParseStatus::kOk) {
    m_state.dblOperand = shown.value;
  }
}

void CalculatorEngine::cmdPlusMinus() {
  if (m_state.blnError) {
    RefuseKey();
    return;
  }
  if (m_state.blnNewNumber && !m_state.blnCalcDone) {
    WriteDisplay("0");
  } else {
    const std::optional<double> value = ReadDisplay();
    if (!value) {
      return;
    }
    WriteDisplay(FormatNumber(*value * -1.0));
  }
  NormalizeDisplay(true);
}

void CalculatorEngine::cmdCE() {
  if (m_state.blnError) {
    cmdC();
  }
  m_state.blnError = false;
  WriteDisplay("0");
  m_state.dblOperand = 0.0;
}

void CalculatorEngine::cmdC() {
  m_state.dblOperand = 0.0;
  m_state.dblTotal = 0.0;
  m_state.blnError = false;
  m_state.blnNewNumber = false;
  m_state.intOp = kOpNone;
  m_state.blnCalcDone = false;
  WriteDisplay("0");
}

void CalculatorEngine::cmdOP(int op) {
  if (op < kOpNone || op > kOpDivide) {
    return;
  }
  if (m_state.blnError) {
    RefuseKey();
    return;
  }
  if (m_state.blnNewNumber && !m_state.blnCalcDone) {
    // No number typed since the last operator: the new one replaces it.
    m_state.intOp = static_cast<std::int16_t>(op);
    return;
  }
  if (m_state.blnNewNumber && m_state.blnCalcDone) {
    // Right after a result the pending operation runs with its neutral operand,
    // so the calculation continues from the result.
    const bool additive = m_state.intOp == kOpAdd || m_state.intOp == kOpSubtract;
    m_state.dblOperand = additive ? 0.0 : 1.0;
  }
  if (m_state.intOp == kOpNone) {
    const ParseResult shown = ParseNumber(m_state.displayText);
    if (shown.status == ParseStatus::kNotANumber) {
      return;
    }
    if (shown.status == ParseStatus::kOutOfRange) {
      EnterError(kOverLimitMessage);
      return;
    }
    m_state.dblTotal = shown.value;
  }

  const double operand = m_state.dblOperand;
  double total = m_state.dblTotal;
  switch (m_state.intOp) {
    case kOpAdd:
      total = operand + total;
      break;
    case kOpSubtract:
      total = total - operand;
      break;
    case kOpMultiply:
      total = operand * total;
      break;
    case kOpDivide:
      if (operand == 0.0) {
        EnterError(kDivideByZeroMessage);
        return;
      }
      total = total / operand;
      break;
    default:
      break;
  }
  if (!std::isfinite(total)) {
    EnterError(kOverLimitMessage);
    return;
  }
  m_state.dblTotal = total;
  m_state.intOp = static_cast<std::int16_t>(op);
  m_state.blnNewNumber = true;
  m_state.blnCalcDone = false;
  WriteDisplay(FormatNumber(m_state.dblTotal));
  m_output.RequestFocus();
}

void CalculatorEngine::cmdEqual() {
  if (m_state.blnError) {
    RefuseKey();
    return;
  }
  if (m_state.blnNewNumber && !m_state.blnCalcDone) {
    // "2 + =" computes 2 + 2.
    m_state.dblOperand = m_state.dblTotal;
  }
  m_state.blnCalcDone = true;
  m_state.blnNewNumber = false;
  cmdOP(m_state.intOp);
  m_state.blnCalcDone = true;
}

void CalculatorEngine::cmdPercent() {
  if (m_state.blnError) {
    RefuseKey();
    return;
  }
  const std::optional<double> value = ReadDisplay();
  if (!value) {
    return;
  }
  const double percentage = (*value / 100.0) * m_state.dblTotal;
  if (!std::isfinite(percentage)) {
    EnterError(kOverLimitMessage);
    return;
  }
  m_state.dblOperand = percentage;
  WriteDisplay(FormatNumber(m_state.dblOperand));
}

void CalculatorEngine::cmdSQRT() {
  if (m_state.blnError) {
    RefuseKey();
    return;
  }
  const std::optional<double> value = ReadDisplay();
  if (!value) {
    return;
  }
  m_state.dblOperand = *value;
  if (m_state.dblOperand < 0.0) {
    WriteDisplay(kInvalidInputMessage);
    m_state.dblOperand = 0.0;
    m_state.blnError = true;
    return;
  }
  // The full-precision root stays the operand, not the 15 digits shown.
  m_state.dblOperand = std::sqrt(m_state.dblOperand);
  WriteDisplay(FormatNumber(m_state.dblOperand));
  m_state.blnCalcDone = true;
  m_state.blnNewNumber = true;
}

void CalculatorEngine::cmdOneDivideX() {
  if (m_state.blnError) {
    RefuseKey();
    return;
  }
  const std::optional<double> value = ReadDisplay();
  if (!value) {
    return;
  }
  m_state.dblOperand = *value;
  if (m_state.dblOperand == 0.0) {
    EnterError(kDivideByZeroMessage);
    return;
  }
  const double reciprocal = 1.0 / m_state.dblOperand;
  if (!std::isfinite(reciprocal)) {
    EnterError(kOverLimitMessage);
    return;
  }
  m_state.dblOperand = reciprocal;
  m_state.blnNewNumber = true;
  m_state.blnCalcDone = true;
  WriteDisplay(FormatNumber(m_state.dblOperand));
  // The calculation continues with the value as shown: 1/3 goes on as
  // 0.333333333333333, not as the exact double.
  NormalizeDisplay(true);
}

void CalculatorEngine::cmdMEM(int key) {
  if (key < kMemClear || key > kMemAdd) {
    return;
  }
  if (m_state.blnError) {
    RefuseKey();
    return;
  }
  switch (key) {
    case kMemClear:
      m_state.dblMemory = 0.0;
      m_state.memoryIndicator.clear();
      break;
    case kMemRecall:
      WriteDisplay(FormatNumber(m_state.dblMemory));
      break;
    default: {
      // Store and add ignore a fresh result; a shown 0 leaves the memory alone.
      if (m_state.blnNewNumber) {
        return;
      }
      const std::optional<double> value = ReadDisplay();
      if (!value) {
        return;
      }
      if (*value != 0.0) {
        const double stored = key == kMemStore ? *value : *value + m_state.dblMemory;
        if (!std::isfinite(stored)) {
          EnterError(kOverLimitMessage);
          return;
        }
        m_state.dblMemory = stored;
        m_state.memoryIndicator = "M";
      }
      break;
    }
  }
  m_state.blnMemUsed = true;
}

}  // namespace ticklark::calc
