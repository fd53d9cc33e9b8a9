// SPDX-License-Identifier: MIT
#include "web/engine/script_dialog_panel.hpp"

#include <utility>

#include <webkit/webkit.h>

namespace ticklark::web {

ScriptDialogPanel::ScriptDialogPanel()
    : m_box(Gtk::Orientation::VERTICAL, 8),
      m_buttons(Gtk::Orientation::HORIZONTAL, 6),
      m_cancel("Cancel"),
      m_ok("OK") {
  m_box.add_css_class("osd");
  m_box.set_halign(Gtk::Align::CENTER);
  m_box.set_valign(Gtk::Align::CENTER);
  m_box.set_margin(12);
  m_message.set_wrap(true);
  m_message.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
  m_message.set_max_width_chars(50);
  m_message.set_lines(12);
  m_message.set_ellipsize(Pango::EllipsizeMode::END);
  m_message.set_margin(8);
  m_buttons.set_halign(Gtk::Align::END);
  m_buttons.set_margin(8);
  m_buttons.append(m_cancel);
  m_buttons.append(m_ok);
  m_box.append(m_message);
  m_box.append(m_entry);
  m_box.append(m_buttons);
  m_box.set_visible(false);

  m_okClicked =
      m_ok.signal_clicked().connect(sigc::mem_fun(*this, &ScriptDialogPanel::on_ok_clicked));
  m_cancelClicked = m_cancel.signal_clicked().connect(
      sigc::mem_fun(*this, &ScriptDialogPanel::on_cancel_clicked));
  m_entryActivated =
      m_entry.signal_activate().connect(sigc::mem_fun(*this, &ScriptDialogPanel::on_ok_clicked));
}

ScriptDialogPanel::~ScriptDialogPanel() {
  m_okClicked.disconnect();
  m_cancelClicked.disconnect();
  m_entryActivated.disconnect();
  Close();
}

void ScriptDialogPanel::DialogUnref::operator()(WebKitScriptDialog* dialog) const {
  webkit_script_dialog_unref(dialog);
}

void ScriptDialogPanel::Show(WebKitScriptDialog* dialog) {
  Close();
  m_dialog.reset(webkit_script_dialog_ref(dialog));
  const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
  m_message.set_text(webkit_script_dialog_get_message(dialog));
  m_entry.set_visible(type == WEBKIT_SCRIPT_DIALOG_PROMPT);
  if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) {
    const char* text = webkit_script_dialog_prompt_get_default_text(dialog);
    m_entry.set_text(text ? text : "");
  }
  m_cancel.set_visible(type != WEBKIT_SCRIPT_DIALOG_ALERT);
  m_box.set_visible(true);
  if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) {
    m_entry.grab_focus();
  } else {
    m_ok.grab_focus();
  }
}

void ScriptDialogPanel::Close() {
  if (m_dialog &&
      webkit_script_dialog_get_dialog_type(m_dialog.get()) == WEBKIT_SCRIPT_DIALOG_CONFIRM) {
    webkit_script_dialog_confirm_set_confirmed(m_dialog.get(), FALSE);
  }
  Finish();
}

void ScriptDialogPanel::on_ok_clicked() {
  if (!m_dialog) {
    return;
  }
  switch (webkit_script_dialog_get_dialog_type(m_dialog.get())) {
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
      webkit_script_dialog_confirm_set_confirmed(m_dialog.get(), TRUE);
      break;
    case WEBKIT_SCRIPT_DIALOG_PROMPT:
      webkit_script_dialog_prompt_set_text(m_dialog.get(), m_entry.get_text().c_str());
      break;
    case WEBKIT_SCRIPT_DIALOG_ALERT:
      break;
  }
  Finish();
}

void ScriptDialogPanel::on_cancel_clicked() {
  Close();
}

void ScriptDialogPanel::Finish() {
  m_box.set_visible(false);
  if (const auto dialog = std::move(m_dialog)) {
    webkit_script_dialog_close(dialog.get());
  }
}

}  // namespace ticklark::web
