// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <string>

typedef struct _GtkPrintSettings GtkPrintSettings;
typedef struct _GtkPageSetup GtkPageSetup;

namespace Gtk {
class Window;
}

namespace ticklark::web {

// A save dialog's question, and where its answers go.
struct SaveRequest {
  Gtk::Window* parent = nullptr;  // the dialog opens over this window
  std::string folder;             // proposed folder
  std::string name;               // proposed file name
  // Called with each path the user accepts; an existing file only once the
  // user confirmed replacing it. An empty answer ends the dialog; any other
  // text is shown in it, and the dialog stays open for another choice.
  std::function<std::string(const std::string& path)> accept;
  // The user cancelled, or the dialog went away unanswered.
  std::function<void()> cancel;
};

// A print dialog's question, and where its answer goes.
struct PrintRequest {
  Gtk::Window* parent = nullptr;         // the dialog opens over this window
  GtkPrintSettings* settings = nullptr;  // offered first; may be null
  GtkPageSetup* setup = nullptr;         // offered first; may be null
  // Called when the user chose to print, with the printer and page settings
  // chosen; never called when the user cancelled.
  std::function<void(GtkPrintSettings* settings, GtkPageSetup* setup)> print;
};

// What panes ask of the desktop: a save dialog, the print dialog and
// notifications. One real implementation on GTK; tests hand in fakes.
class PaneDesktop {
 public:
  virtual ~PaneDesktop() = default;
  // Each opens its dialog and returns; the answer comes through |request|.
  virtual void ChooseSaveFile(SaveRequest request) = 0;
  virtual void ChoosePrintSettings(PrintRequest request) = 0;
  virtual void Notify(const std::string& title, const std::string& body) = 0;
};

// GTK's file chooser and print dialog, and the application's desktop
// notifications (GNotification).
class GtkPaneDesktop final : public PaneDesktop {
 public:
  void ChooseSaveFile(SaveRequest request) override;
  void ChoosePrintSettings(PrintRequest request) override;
  void Notify(const std::string& title, const std::string& body) override;

 private:
  unsigned m_notifications = 0;
};

}  // namespace ticklark::web
