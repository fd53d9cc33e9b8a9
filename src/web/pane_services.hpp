// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "web/zoom_store.hpp"

typedef struct _GtkPrintSettings GtkPrintSettings;
typedef struct _GtkPageSetup GtkPageSetup;

namespace Gtk {
class Window;
}

namespace ticklark::web {

class Downloads;

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

// What the browser panes of a session share beyond the engine: zoom levels by
// site, the downloads in progress, the print settings last chosen and the
// desktop's dialogs. Owned by the WebSession.
class PaneServices {
 public:
  // |zoomFile| empty: zoom levels are kept for this run only.
  explicit PaneServices(std::filesystem::path zoomFile);
  ~PaneServices();

  PaneServices(const PaneServices&) = delete;
  PaneServices& operator=(const PaneServices&) = delete;

  const ZoomStore& Zoom() const { return *m_zoom; }
  // Keeps |percent| for |host| and tells every pane listening.
  void SetZoom(const std::string& host, int percent);
  using ZoomListener = std::function<void(const std::string& host, int percent)>;
  std::size_t ListenToZoom(ZoomListener listener);
  void StopListening(std::size_t id);
  // Reads the levels from |file| afresh, as the next run of the program would.
  void UseZoomFile(std::filesystem::path file);

  PaneDesktop& Desktop() { return m_desktop ? *m_desktop : m_gtkDesktop; }
  // |desktop| outlives its use; null puts the real desktop back.
  void SetDesktop(PaneDesktop* desktop) { m_desktop = desktop; }

  Downloads& Transfers() { return *m_downloads; }

  // The printer and page settings last printed with in this run, or null.
  GtkPrintSettings* PrintSettings() const { return m_printSettings; }
  GtkPageSetup* PageSetup() const { return m_pageSetup; }
  void KeepPrintSettings(GtkPrintSettings* settings, GtkPageSetup* setup);

 private:
  std::unique_ptr<ZoomStore> m_zoom;
  std::map<std::size_t, ZoomListener> m_zoomListeners;
  std::size_t m_nextListener = 1;
  GtkPaneDesktop m_gtkDesktop;
  PaneDesktop* m_desktop = nullptr;
  std::unique_ptr<Downloads> m_downloads;
  GtkPrintSettings* m_printSettings = nullptr;
  GtkPageSetup* m_pageSetup = nullptr;
};

}  // namespace ticklark::web
