// SPDX-License-Identifier: MIT
#include "web/browsing/pane_desktop.hpp"

#include <memory>
#include <utility>

#include <gtk/gtk.h>
#include <gtk/gtkunixprint.h>
#include <gtkmm/window.h>

#include "platform/gobject_ptr.hpp"

namespace ticklark::web {

namespace {

// A file chooser that stays open, saying why, while the accepted path cannot
// be used. Built on the C type itself: it then disposes of its own template
// cleanly.
struct SaveDialog {
  SaveRequest request;
  GtkWidget* problem = nullptr;
  bool answered = false;
};

void OnSaveDialogResponse(GtkDialog* dialog, int response, gpointer data) {
  auto* state = static_cast<SaveDialog*>(data);
  if (state->answered) {
    return;
  }
  try {
    if (response == GTK_RESPONSE_ACCEPT) {
      const auto file = platform::Adopt(gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog)));
      const platform::GCharPtr path(file ? g_file_get_path(file.get()) : nullptr);
      const std::string chosen = path ? path.get() : "";
      if (chosen.empty()) {
        return;
      }
      const std::string problem = state->request.accept(chosen);
      if (!problem.empty()) {
        gtk_label_set_text(GTK_LABEL(state->problem), problem.c_str());
        gtk_widget_set_visible(state->problem, TRUE);
        return;
      }
    } else {
      state->request.cancel();
    }
  } catch (...) {
    g_warning("Save dialog: the answer could not be handled");
  }
  state->answered = true;
  gtk_window_destroy(GTK_WINDOW(dialog));
}

// Gone unanswered (its window closed under it): a cancel.
void OnSaveDialogDestroyed(GtkWidget*, gpointer data) {
  auto* state = static_cast<SaveDialog*>(data);
  if (!state->answered) {
    state->answered = true;
    try {
      state->request.cancel();
    } catch (...) {
      g_warning("Save dialog: the cancel could not be handled");
    }
  }
}

}  // namespace

void GtkPaneDesktop::ChooseSaveFile(SaveRequest request) {
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      "Save File", request.parent ? request.parent->gobj() : nullptr, GTK_FILE_CHOOSER_ACTION_SAVE,
      "_Cancel", GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  auto* chooser = GTK_FILE_CHOOSER(dialog);
  const auto folder = platform::Adopt(g_file_new_for_path(request.folder.c_str()));
  gtk_file_chooser_set_current_folder(chooser, folder.get(), nullptr);
  gtk_file_chooser_set_current_name(chooser, request.name.c_str());

  auto owned = std::make_unique<SaveDialog>(SaveDialog{std::move(request)});
  SaveDialog* state = owned.get();
  state->problem = gtk_label_new(nullptr);
  gtk_widget_add_css_class(state->problem, "error");
  gtk_label_set_wrap(GTK_LABEL(state->problem), TRUE);
  gtk_label_set_xalign(GTK_LABEL(state->problem), 0);
  gtk_widget_set_margin_start(state->problem, 8);
  gtk_widget_set_margin_end(state->problem, 8);
  gtk_widget_set_margin_top(state->problem, 6);
  gtk_widget_set_visible(state->problem, FALSE);
  gtk_box_append(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), state->problem);
  g_signal_connect(dialog, "destroy", G_CALLBACK(OnSaveDialogDestroyed), state);
  // The dialog keeps the state until it is finalized.
  platform::ConnectOwning(dialog, "response", G_CALLBACK(OnSaveDialogResponse), std::move(owned));
  gtk_window_present(GTK_WINDOW(dialog));
}

namespace {

// GTK's print dialog, without a loop of its own: the answer arrives through
// the request once the user closes it.
struct PrintDialog {
  PrintRequest request;
  bool answered = false;
};

void OnPrintDialogResponse(GtkDialog* dialog, int response, gpointer data) {
  auto* state = static_cast<PrintDialog*>(data);
  if (!state->answered && response == GTK_RESPONSE_OK) {
    state->answered = true;
    auto* print = GTK_PRINT_UNIX_DIALOG(dialog);
    const auto settings = platform::Adopt(gtk_print_unix_dialog_get_settings(print));
    if (GtkPrinter* printer = gtk_print_unix_dialog_get_selected_printer(print)) {
      gtk_print_settings_set_printer(settings.get(), gtk_printer_get_name(printer));
    }
    try {
      state->request.print(settings.get(), gtk_print_unix_dialog_get_page_setup(print));
    } catch (...) {
      g_warning("Print dialog: the page could not be handed to the printer");
    }
  }
  state->answered = true;
  // Safe also where GTK destroys the dialog itself (Escape, close button).
  gtk_window_destroy(GTK_WINDOW(dialog));
}

}  // namespace

void GtkPaneDesktop::ChoosePrintSettings(PrintRequest request) {
  GtkWidget* dialog =
      gtk_print_unix_dialog_new("Print", request.parent ? request.parent->gobj() : nullptr);
  auto* print = GTK_PRINT_UNIX_DIALOG(dialog);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
  // The engine lays out the pages itself.
  gtk_print_unix_dialog_set_manual_capabilities(
      print,
      static_cast<GtkPrintCapabilities>(
          GTK_PRINT_CAPABILITY_PAGE_SET | GTK_PRINT_CAPABILITY_COPIES |
          GTK_PRINT_CAPABILITY_COLLATE | GTK_PRINT_CAPABILITY_REVERSE | GTK_PRINT_CAPABILITY_SCALE |
          GTK_PRINT_CAPABILITY_NUMBER_UP | GTK_PRINT_CAPABILITY_NUMBER_UP_LAYOUT));
  gtk_print_unix_dialog_set_embed_page_setup(print, TRUE);
  if (request.settings) {
    gtk_print_unix_dialog_set_settings(print, request.settings);
  }
  if (request.setup) {
    gtk_print_unix_dialog_set_page_setup(print, request.setup);
  }
  // The dialog keeps the state until it is finalized.
  platform::ConnectOwning(dialog, "response", G_CALLBACK(OnPrintDialogResponse),
                          std::make_unique<PrintDialog>(PrintDialog{std::move(request)}));
  gtk_window_present(GTK_WINDOW(dialog));
}

void GtkPaneDesktop::Notify(const std::string& title, const std::string& body) {
  GApplication* application = g_application_get_default();
  if (!application || !g_application_get_is_registered(application)) {
    g_message("%s: %s", title.c_str(), body.c_str());
    return;
  }
  const auto notification = platform::Adopt(g_notification_new(title.c_str()));
  g_notification_set_body(notification.get(), body.c_str());
  // Each its own, so that one download's news never replaces another's.
  const std::string id = "pane-" + std::to_string(++m_notifications);
  g_application_send_notification(application, id.c_str(), notification.get());
}

}  // namespace ticklark::web
