// SPDX-License-Identifier: MIT
#include "web/pane_services.hpp"

#include <utility>
#include <vector>

#include <giomm/file.h>
#include <glibmm/main.h>
#include <gtkmm/filechooserdialog.h>
#include <gtkmm/label.h>
#include <webkit/webkit.h>

#include "web/pane_downloads.hpp"

namespace ticklark::web {

namespace {

// A file chooser that stays open, saying why, while the accepted path cannot
// be used; it deletes itself once answered.
class SaveDialog {
 public:
  static void Open(SaveRequest request) { new SaveDialog(std::move(request)); }

 private:
  explicit SaveDialog(SaveRequest request)
      : m_request(std::move(request)), m_dialog("Save File", Gtk::FileChooser::Action::SAVE) {
    if (m_request.parent) {
      m_dialog.set_transient_for(*m_request.parent);
    }
    m_dialog.set_modal(true);
    m_dialog.add_button("_Cancel", Gtk::ResponseType::CANCEL);
    m_dialog.add_button("_Save", Gtk::ResponseType::ACCEPT);
    m_dialog.set_default_response(Gtk::ResponseType::ACCEPT);
    try {
      m_dialog.set_current_folder(Gio::File::create_for_path(m_request.folder));
    } catch (const Glib::Error&) {
      // The chooser starts where it likes.
    }
    m_dialog.set_current_name(m_request.name);
    m_problem.add_css_class("error");
    m_problem.set_wrap(true);
    m_problem.set_margin(6);
    m_problem.set_xalign(0);
    m_problem.set_visible(false);
    m_dialog.get_content_area()->append(m_problem);
    m_response = m_dialog.signal_response().connect(sigc::mem_fun(*this, &SaveDialog::on_response));
    m_dialog.show();
  }
  ~SaveDialog() { m_response.disconnect(); }

  void on_response(int response) {
    if (m_done) {
      return;
    }
    if (response == Gtk::ResponseType::ACCEPT) {
      const auto file = m_dialog.get_file();
      const std::string path = file ? file->get_path() : "";
      if (path.empty()) {
        return;
      }
      const std::string problem = m_request.accept(path);
      if (!problem.empty()) {
        m_problem.set_text(problem);
        m_problem.set_visible(true);
        return;
      }
    } else {
      m_request.cancel();
    }
    m_done = true;
    m_dialog.hide();
    Glib::signal_idle().connect_once([this] { delete this; });
  }

  SaveRequest m_request;
  Gtk::FileChooserDialog m_dialog;
  Gtk::Label m_problem;
  sigc::connection m_response;
  bool m_done = false;
};

}  // namespace

void GtkPaneDesktop::ChooseSaveFile(SaveRequest request) {
  SaveDialog::Open(std::move(request));
}

bool GtkPaneDesktop::RunPrintDialog(WebKitPrintOperation* operation, Gtk::Window* parent) {
  return webkit_print_operation_run_dialog(operation, parent ? parent->gobj() : nullptr) ==
         WEBKIT_PRINT_OPERATION_RESPONSE_PRINT;
}

void GtkPaneDesktop::Notify(const std::string& title, const std::string& body) {
  GApplication* application = g_application_get_default();
  if (!application || !g_application_get_is_registered(application)) {
    g_message("%s: %s", title.c_str(), body.c_str());
    return;
  }
  GNotification* notification = g_notification_new(title.c_str());
  g_notification_set_body(notification, body.c_str());
  // Each its own, so that one download's news never replaces another's.
  const std::string id = "pane-" + std::to_string(++m_notifications);
  g_application_send_notification(application, id.c_str(), notification);
  g_object_unref(notification);
}

PaneServices::PaneServices(std::filesystem::path zoomFile)
    : m_zoom(std::make_unique<ZoomStore>(std::move(zoomFile))),
      m_downloads(std::make_unique<Downloads>(*this)) {}

PaneServices::~PaneServices() {
  m_downloads.reset();
  g_clear_object(&m_printSettings);
  g_clear_object(&m_pageSetup);
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
    g_object_ref(settings);
    g_clear_object(&m_printSettings);
    m_printSettings = settings;
  }
  if (setup) {
    g_object_ref(setup);
    g_clear_object(&m_pageSetup);
    m_pageSetup = setup;
  }
}

}  // namespace ticklark::web
