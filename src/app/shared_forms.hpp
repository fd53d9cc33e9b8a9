// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <functional>
#include <memory>

#include "ui/form.hpp"

namespace ticklark::app {

// The secondary windows that the main window opens.
enum class SecondaryWindow : std::size_t {
  kNasdaqCal,
  kNasdaqTicker,
  kCalc,
  kNasdaqHm,
  kNasdaqGlobal,
  kAbout,
};
inline constexpr std::size_t kSecondaryWindowCount = 6;

// One shared instance per window type, made on first use and kept for the run,
// also across unloading and loading the window again.
class SharedForms {
 public:
  using Factory = std::function<std::unique_ptr<ui::Form>()>;

  void SetFactory(SecondaryWindow window, Factory factory);
  // The shared instance, made now if it does not exist; nullptr when the
  // program has no such window.
  ui::Form* Get(SecondaryWindow window);
  // The instance if it has been made.
  ui::Form* Existing(SecondaryWindow window) const;

 private:
  std::array<Factory, kSecondaryWindowCount> m_factories;
  std::array<std::unique_ptr<ui::Form>, kSecondaryWindowCount> m_forms;
};

}  // namespace ticklark::app
