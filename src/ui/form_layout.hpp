// SPDX-License-Identifier: MIT
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtkmm/fixed.h>

#include "ui/control_slot.hpp"
#include "ui/window_definition.hpp"

namespace Gtk {
class Button;
class Label;
}  // namespace Gtk

namespace ticklark::ui {

// The client area of one window, built from its definition: every control on a
// fixed layout at its designed position and size, children ordered by tab index
// so that Tab follows the designed order. Nothing moves when the window resizes.
class TabOrderedFixed;

class FormLayout {
 public:
  explicit FormLayout(const WindowDef& definition);
  ~FormLayout();
  FormLayout(const FormLayout&) = delete;
  FormLayout& operator=(const FormLayout&) = delete;

  // The widget that is the client area: clipped, asks for no minimum size.
  Gtk::Widget& ClientArea() { return *m_client; }

  // Builds the controls the layout knows how to make: command and picture
  // buttons, labels, lines and picture boxes. Web panes and the status bar are
  // the window's own and are put in with Place().
  void BuildStandardControls();

  // Puts |widget| where |control| belongs, at its designed size.
  void Place(const ControlDef& control, Gtk::Widget& widget);
  // Takes a placed |widget| out again, through its slot, and forgets its
  // control: what a window put in itself (a web pane) leaves this way before
  // the window destroys it.
  void Remove(Gtk::Widget& widget);

  Gtk::Widget* Control(std::string_view name, int index = -1) const;
  Gtk::Button* Button(std::string_view name, int index = -1) const;
  Gtk::Label* Label(std::string_view name, int index = -1) const;

  // The control that takes the focus when the window opens: the one with the
  // lowest tab index that can take it.
  Gtk::Widget* FirstInTabOrder() const;
  // Puts the focus there (into a web pane, its page).
  void FocusFirst();

 private:
  struct Placed {
    const ControlDef* control;
    ControlSlot* slot;  // its slot on the fixed layout, which holds the control
  };

  Gtk::Widget* MakeStandardControl(const ControlDef& control);
  void UpdateTabOrder();

  const WindowDef& m_definition;
  // Owned by the window they are put in, like every control.
  ControlSlot* m_client;
  TabOrderedFixed* m_fixed;
  std::vector<Placed> m_placed;  // in tab order
};

// "&System Info..." becomes "_System Info..." for GTK; literal underscores are doubled.
std::string MnemonicFromCaption(std::string_view caption);

}  // namespace ticklark::ui
