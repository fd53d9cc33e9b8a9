// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <string>

namespace Gtk {
class Window;
}

namespace ticklark::platform {

class WindowPlacement;

// A message with an OK button that the user must acknowledge.
class MessageBox {
 public:
  virtual ~MessageBox() = default;

  // Shows |text| and returns once the user has closed the message.
  virtual void Show(const std::string& text) = 0;
};

// A small window of our own: the text, an OK button, no icon, captioned with
// the application title. It is modal over its owner (the window that
// |owner| returns when the message is shown) and centred on it; Show runs a
// nested main loop until OK, Esc or the close control ends it.
class GtkMessageBox final : public MessageBox {
 public:
  using OwnerSource = std::function<Gtk::Window*()>;

  GtkMessageBox(WindowPlacement& placement, OwnerSource owner);

  void Show(const std::string& text) override;

 private:
  WindowPlacement& m_placement;
  OwnerSource m_owner;
};

}  // namespace ticklark::platform
