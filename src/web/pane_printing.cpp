// SPDX-License-Identifier: MIT
#include "web/pane_printing.hpp"

#include <memory>
#include <string>

#include <webkit/webkit.h>

#include "web/pane_services.hpp"

namespace ticklark::web {

namespace {

// One print operation, from the engine's start to its last word about it.
struct PrintJob {
  WebKitPrintOperation* operation = nullptr;
  PaneServices* services = nullptr;
  gulong failed = 0;
  gulong finished = 0;
};

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
  // Not inside the operation's own signal.
  g_idle_add(
      [](gpointer done) -> gboolean {
        auto* job = static_cast<PrintJob*>(done);
        g_signal_handler_disconnect(job->operation, job->failed);
        g_signal_handler_disconnect(job->operation, job->finished);
        g_object_unref(job->operation);
        delete job;
        return G_SOURCE_REMOVE;
      },
      data);
}

// The view, if it is still there when the user has chosen.
struct WeakView {
  explicit WeakView(WebKitWebView* view) { g_weak_ref_init(&ref, view); }
  ~WeakView() { g_weak_ref_clear(&ref); }
  WeakView(const WeakView&) = delete;
  WeakView& operator=(const WeakView&) = delete;
  GWeakRef ref;
};

}  // namespace

void PrintPage(WebKitWebView* view, Gtk::Window* parent, PaneServices& services) {
  PrintRequest request;
  request.parent = parent;
  request.settings = services.PrintSettings();
  request.setup = services.PageSetup();
  auto weak = std::make_shared<WeakView>(view);
  request.print = [weak, &services](GtkPrintSettings* settings, GtkPageSetup* setup) {
    auto* shown = static_cast<WebKitWebView*>(g_weak_ref_get(&weak->ref));
    if (!shown) {
      return;  // the pane went while the dialog was open
    }
    auto* job = new PrintJob{webkit_print_operation_new(shown), &services, 0, 0};
    g_object_unref(shown);
    if (settings) {
      webkit_print_operation_set_print_settings(job->operation, settings);
    }
    if (setup) {
      webkit_print_operation_set_page_setup(job->operation, setup);
    }
    services.KeepPrintSettings(settings, setup);
    job->failed = g_signal_connect(job->operation, "failed", G_CALLBACK(OnPrintFailed), job);
    job->finished = g_signal_connect(job->operation, "finished", G_CALLBACK(OnPrintFinished), job);
    webkit_print_operation_print(job->operation);
  };
  services.Desktop().ChoosePrintSettings(std::move(request));
}

}  // namespace ticklark::web
