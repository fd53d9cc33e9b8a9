// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/gobject_ptr.hpp"
#include "web/browsing/pane_desktop.hpp"
#include "web/browsing/pane_downloads.hpp"
#include "web/core/zoom_store.hpp"

namespace ticklark::web {

// What the browser panes of a session share beyond the engine: zoom levels by
// site, the downloads in progress, the print settings last chosen and the
// desktop's dialogs. Owned by the WebSession.
class PaneServices final : public DownloadHost {
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

  PaneDesktop& Desktop() override { return m_desktop ? *m_desktop : m_gtkDesktop; }
  // |desktop| outlives its use; null puts the real desktop back.
  void SetDesktop(PaneDesktop* desktop) { m_desktop = desktop; }

  Downloads& Transfers() { return *m_downloads; }

  // The panes by the view they show, for the downloads that come from them.
  // A pane is added when it is made and removed before it goes.
  void AddPane(WebKitWebView* view, DownloadingPane& pane) { m_panes[view] = &pane; }
  void RemovePane(WebKitWebView* view) { m_panes.erase(view); }
  DownloadingPane* PaneShowing(WebKitWebView* view) override;

  // The printer and page settings last printed with in this run, or null.
  GtkPrintSettings* PrintSettings() const { return m_printSettings.get(); }
  GtkPageSetup* PageSetup() const { return m_pageSetup.get(); }
  void KeepPrintSettings(GtkPrintSettings* settings, GtkPageSetup* setup);

 private:
  std::unique_ptr<ZoomStore> m_zoom;
  std::map<std::size_t, ZoomListener> m_zoomListeners;
  std::size_t m_nextListener = 1;
  GtkPaneDesktop m_gtkDesktop;
  PaneDesktop* m_desktop = nullptr;
  std::map<WebKitWebView*, DownloadingPane*> m_panes;
  std::unique_ptr<Downloads> m_downloads;
  platform::GObjectPtr<GtkPrintSettings> m_printSettings;
  platform::GObjectPtr<GtkPageSetup> m_pageSetup;
};

}  // namespace ticklark::web
