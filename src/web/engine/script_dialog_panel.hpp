// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <sigc++/connection.h>

typedef struct _WebKitScriptDialog WebKitScriptDialog;

namespace ticklark::web {

// A page's alert, confirm or prompt, shown over the page inside its pane.
// The pane can take it away at any moment (a navigation ordered by the
// program), which the engine's own dialog does not allow.
class ScriptDialogPanel {
 public:
  ScriptDialogPanel();
  ~ScriptDialogPanel();

  ScriptDialogPanel(const ScriptDialogPanel&) = delete;
  ScriptDialogPanel& operator=(const ScriptDialogPanel&) = delete;

  Gtk::Widget& Widget() { return m_box; }

  // Shows |dialog| until it is answered or closed; one already shown is
  // closed first.
  void Show(WebKitScriptDialog* dialog);
  // Closes the shown dialog unanswered: confirm gives false, prompt null.
  void Close();
  bool IsOpen() const { return m_dialog != nullptr; }

  // Drops the panel's reference to the engine's dialog.
  struct DialogUnref {
    void operator()(WebKitScriptDialog* dialog) const;
  };

 private:
  void on_ok_clicked();
  void on_cancel_clicked();
  void Finish();

  Gtk::Box m_box;
  Gtk::Label m_message;
  Gtk::Entry m_entry;
  Gtk::Box m_buttons;
  Gtk::Button m_cancel;
  Gtk::Button m_ok;
  sigc::connection m_okClicked;
  sigc::connection m_cancelClicked;
  sigc::connection m_entryActivated;
  std::unique_ptr<WebKitScriptDialog, DialogUnref> m_dialog;
};

}  // namespace ticklark::web
