// SPDX-License-Identifier: MIT
#include "web/pane_printing.hpp"

#include <string>

#include <webkit/webkit.h>

#include "web/pane_services.hpp"

namespace ticklark::web {

namespace {

// One print operation from the dialog to the engine's last word about it.
struct PrintJob {
  WebKitPrintOperation* operation = nullptr;
  PaneServices* services = nullptr;
  gulong failed = 0;
  gulong finished = 0;
  bool over = false;
};

void EndJob(PrintJob* job) {
  g_signal_handler_disconnect(job->operation, job->failed);
  g_signal_handler_disconnect(job->operation, job->finished);
  g_object_unref(job->operation);
  delete job;
}

void OnPrintFailed(WebKitPrintOperation*, GError* error, gpointer data) {
  auto* job = static_cast<PrintJob*>(data);
  try {
    job->services->Desktop().Notify("Printing failed",
                                    std::string("The page could not be printed: ") +
                                        (error ? error->message : "unknown error") + ".");
  } catch (...) {
    g_warning("Printing: the failure could not be announced");
  }
}

void OnPrintFinished(WebKitPrintOperation*, gpointer data) {
  auto* job = static_cast<PrintJob*>(data);
  if (!job->over) {
    job->over = true;
    // Not inside the operation's own signal.
    g_idle_add(
        [](gpointer done) -> gboolean {
          EndJob(static_cast<PrintJob*>(done));
          return G_SOURCE_REMOVE;
        },
        job);
  }
}

}  // namespace

void PrintPage(WebKitWebView* view, Gtk::Window* parent, PaneServices& services) {
  auto* job = new PrintJob{webkit_print_operation_new(view), &services, 0, 0, false};
  if (GtkPrintSettings* settings = services.PrintSettings()) {
    webkit_print_operation_set_print_settings(job->operation, settings);
  }
  if (GtkPageSetup* setup = services.PageSetup()) {
    webkit_print_operation_set_page_setup(job->operation, setup);
  }
  job->failed = g_signal_connect(job->operation, "failed", G_CALLBACK(OnPrintFailed), job);
  job->finished = g_signal_connect(job->operation, "finished", G_CALLBACK(OnPrintFinished), job);
  if (services.Desktop().RunPrintDialog(job->operation, parent)) {
    services.KeepPrintSettings(webkit_print_operation_get_print_settings(job->operation),
                               webkit_print_operation_get_page_setup(job->operation));
  } else if (!job->over) {
    EndJob(job);  // cancelled: nothing more comes from the engine
  }
}

}  // namespace ticklark::web
