// SPDX-License-Identifier: MIT
#pragma once

#include <optional>

#include <gdkmm/enums.h>

#include "calc/engine.hpp"
#include "ui/form.hpp"

namespace Gtk {
class Button;
class Label;
}  // namespace Gtk

namespace ticklark::platform {
class Beeper;
}

namespace ticklark::calc {

// frmCalc: the calculator window over CalculatorEngine. Buttons and keys call
// the engine's actions, lblOutput and lblMem show its display text and memory
// indicator, its beeps go to the Beeper and its focus requests move the focus
// to btnFocusEqual.
//
// btnFocusEqual is the default button and lies below the visible client area:
// it holds the focus after every digit and applied operator, so that Enter and
// Space, which press the focused button, perform "=". A mouse click leaves the
// focus on the clicked button, and Enter then repeats that button.
//
// The window previews the keyboard: a key goes to its handler first and then,
// unchanged, to the focused button. Backspace, Escape and Delete act by key;
// digits, "+", "-", "*", "/", "." and "%" by the character typed, from the
// main keyboard or the numeric keypad.
//
// The engine is made at the first opening and kept for the rest of the run;
// each opening shows "0" and an empty memory indicator again.
class CalcForm : public ui::Form, private CalculatorOutput {
 public:
  CalcForm(ui::FormServices services, platform::Beeper& beeper);
  ~CalcForm() override;

  // The engine once the window has been opened, else nullptr.
  const CalculatorEngine* Engine() const { return m_engine ? &*m_engine : nullptr; }

 protected:
  void BuildControls(ui::FormLayout& layout) override;
  void OnLoad() override;
  void OnUnload() override;

 private:
  // CalculatorOutput
  void Beep() override;
  void RequestFocus() override;

  void on_cmdNum_clicked(int digit);
  void on_cmdOP_clicked(int op);
  void on_cmdMEM_clicked(int key);
  void on_cmdDot_clicked();
  void on_cmdBS_clicked();
  void on_cmdPlusMinus_clicked();
  void on_cmdCE_clicked();
  void on_cmdC_clicked();
  void on_cmdEqual_clicked();
  void on_cmdPercent_clicked();
  void on_cmdSQRT_clicked();
  void on_cmdOneDivideX_clicked();
  bool on_frmCalc_key_pressed(guint keyval, guint keycode, Gdk::ModifierType state);

  // Runs one engine action, then shows the display text and memory indicator.
  template <typename Action>
  void Perform(Action action);
  void ShowState();
  void FitOutputText();

  platform::Beeper& m_beeper;
  std::optional<CalculatorEngine> m_engine;
  // The controls while loaded.
  Gtk::Label* lblOutput = nullptr;
  Gtk::Label* lblMem = nullptr;
  Gtk::Button* btnFocusEqual = nullptr;
};

}  // namespace ticklark::calc
