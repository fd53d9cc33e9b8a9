// SPDX-License-Identifier: MIT
#include "web/browsing/pane_printing.hpp"

#include <memory>
#include <string>

#include <webkit/webkit.h>

#include "platform/gobject_ptr.hpp"
#include "web/browsing/pane_services.hpp"
#include "web/core/guarded.hpp"

namespace ticklark::web {

namespace {

// One print operation, from the engine's start to its last word about it. Its
// "finished" handler owns it, and it holds the operation until then.
struct PrintJob {
  platform::GObjectPtr<WebKitPrintOperation> operation;
  PaneServices* services = nullptr;
};

void OnPrintFailed(WebKitPrintOperation*, GError* error, gpointer data) {
  auto* job = static_cast<PrintJob*>(data);
  Guarded("print failed", [&] {
    job->services->Desktop().Notify("Printing failed",
                                    std::string("The page could not be printed: ") +
                                        (error ? error->message : "unknown error") + ".");
  });
}

// The operation is let go from the main loop, not inside its own signal; with
// it go its handlers and the job.
void OnPrintFinished(WebKitPrintOperation*, gpointer data) {
  auto* job = static_cast<PrintJob*>(data);
  auto operation =
      std::make_shared<platform::GObjectPtr<WebKitPrintOperation>>(std::move(job->operation));
  platform::RunWhenIdle([operation] { operation->reset(); });
}

}  // namespace

void PrintPage(WebKitWebView* view, Gtk::Window* parent, PaneServices& services) {
  PrintRequest request;
  request.parent = parent;
  request.settings = services.PrintSettings();
  request.setup = services.PageSetup();
  auto weak = std::make_shared<platform::WeakRef<WebKitWebView>>(view);
  request.print = [weak, &services](GtkPrintSettings* settings, GtkPageSetup* setup) {
    const auto shown = weak->Get();
    if (!shown) {
      return;  // the pane went while the dialog was open
    }
    auto job = std::make_unique<PrintJob>();
    job->operation = platform::Adopt(webkit_print_operation_new(shown.get()));
    job->services = &services;
    WebKitPrintOperation* operation = job->operation.get();
    if (settings) {
      webkit_print_operation_set_print_settings(operation, settings);
    }
    if (setup) {
      webkit_print_operation_set_page_setup(operation, setup);
    }
    services.KeepPrintSettings(settings, setup);
    g_signal_connect(operation, "failed", G_CALLBACK(OnPrintFailed), job.get());
    platform::ConnectOwning(operation, "finished", G_CALLBACK(OnPrintFinished), std::move(job));
    webkit_print_operation_print(operation);
  };
  services.Desktop().ChoosePrintSettings(std::move(request));
}

}  // namespace ticklark::web
