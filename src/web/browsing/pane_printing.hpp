// SPDX-License-Identifier: MIT
#pragma once

typedef struct _WebKitWebView WebKitWebView;

namespace Gtk {
class Window;
}

namespace ticklark::web {

class PaneServices;

// Prints |view|'s page: the print dialog opens over |parent| with the printer
// and page settings last printed with in this run, and once the user chose,
// the engine prints there (to a printer or to a PDF file). A failure is
// announced as a desktop notification. Returns at once.
void PrintPage(WebKitWebView* view, Gtk::Window* parent, PaneServices& services);

}  // namespace ticklark::web
