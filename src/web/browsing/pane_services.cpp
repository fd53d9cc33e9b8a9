// SPDX-License-Identifier: MIT
#include "web/browsing/pane_services.hpp"

#include <memory>
#include <utility>
#include <vector>

#include <gtk/gtk.h>
#include <gtk/gtkunixprint.h>
#include <gtkmm/window.h>
#include <webkit/webkit.h>

#include "web/browsing/pane_downloads.hpp"

namespace ticklark::web {

PaneServices::PaneServices(std::filesystem::path zoomFile)
    : m_zoom(std::make_unique<ZoomStore>(std::move(zoomFile))),
      m_downloads(std::make_unique<Downloads>(*this)) {}

PaneServices::~PaneServices() {
  m_downloads.reset();
}

DownloadingPane* PaneServices::PaneShowing(WebKitWebView* view) {
  const auto it = m_panes.find(view);
  return it == m_panes.end() ? nullptr : it->second;
}

void PaneServices::SetZoom(const std::string& host, int percent) {
  if (m_zoom->Level(host) == percent) {
    return;
  }
  // Kept for this run even when the file cannot be written.
  m_zoom->SetLevel(host, percent);
  // A listener may stop listening while it is told.
  std::vector<ZoomListener> listeners;
  for (const auto& [id, listener] : m_zoomListeners) {
    listeners.push_back(listener);
  }
  for (const ZoomListener& listener : listeners) {
    listener(host, percent);
  }
}

std::size_t PaneServices::ListenToZoom(ZoomListener listener) {
  const std::size_t id = m_nextListener++;
  m_zoomListeners.emplace(id, std::move(listener));
  return id;
}

void PaneServices::StopListening(std::size_t id) {
  m_zoomListeners.erase(id);
}

void PaneServices::UseZoomFile(std::filesystem::path file) {
  m_zoom = std::make_unique<ZoomStore>(std::move(file));
}

void PaneServices::KeepPrintSettings(GtkPrintSettings* settings, GtkPageSetup* setup) {
  if (settings) {
    m_printSettings = platform::Share(settings);
  }
  if (setup) {
    m_pageSetup = platform::Share(setup);
  }
}

}  // namespace ticklark::web
