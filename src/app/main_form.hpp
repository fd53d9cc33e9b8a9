// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include <giomm/menu.h>
#include <gtkmm/application.h>

#include "app/shared_forms.hpp"
#include "app/window_geometry.hpp"
#include "ui/form.hpp"
#include "web/core/destinations.hpp"

namespace ticklark::web {
class BrowserPane;
class NavigationBar;
class WebSession;
}  // namespace ticklark::web

namespace ticklark::app {

class StatusBar;

// frmMain: the quotes pane, the main pane with its navigation bar, the ad pane,
// the status bar and the menu of destinations and windows.
class MainForm : public ui::Form {
 public:
  struct Collaborators {
    Glib::RefPtr<Gtk::Application> application;
    web::WebSession& session;
    const web::DestinationCatalogue& catalogue;
    WindowGeometry& geometry;
    SharedForms& sharedForms;
    // Told of every Navigate the window makes, in order (tests watch it).
    std::function<void(const web::BrowserPane&, const std::string& address)> navigated = {};
  };

  MainForm(ui::FormServices services, Collaborators collaborators);
  ~MainForm() override;

  // The menu bar as the application shows it; built from the window definition.
  static Glib::RefPtr<Gio::Menu> BuildMenu();

  // Runs the command of a leaf menu item by its name (mnuFileExit, ...), as a
  // click on it does. Returns false for a name that has no command.
  bool RunMenuCommand(const std::string& name);

  web::BrowserPane* WebBrowser1() const { return m_webBrowser1.get(); }
  web::BrowserPane* WebBrowser2() const { return m_webBrowser2.get(); }
  web::BrowserPane* WebBrowser12() const { return m_webBrowser12.get(); }
  StatusBar* StatusBarControl() const { return m_statusBar; }

  // Ends the program's run: the closing procedure, as "E&xit" and the window's
  // close control do.
  void Close();

 protected:
  std::unique_ptr<Gtk::Window> CreateWindow() override;
  void BuildControls(ui::FormLayout& layout) override;
  Gtk::Widget& WrapClientArea(Gtk::Widget& clientArea) override;
  void OnLoad() override;
  void OnUnload() override;
  void OnCloseRequested() override { Close(); }
  bool PlacesItself() const override { return true; }

 private:
  void Navigate(web::BrowserPane* pane, web::Destination destination);
  void Open(SecondaryWindow window);

  Collaborators m_with;
  std::map<std::string, std::function<void()>> m_commands;
  std::unique_ptr<web::BrowserPane> m_webBrowser1;
  std::unique_ptr<web::BrowserPane> m_webBrowser2;
  std::unique_ptr<web::BrowserPane> m_webBrowser12;
  // The panes as the menu commands reach them; null while the window is unloaded.
  web::BrowserPane* m_webBrowser1Raw = nullptr;
  web::BrowserPane* m_webBrowser2Raw = nullptr;
  web::BrowserPane* m_webBrowser12Raw = nullptr;
  std::unique_ptr<web::NavigationBar> m_navigationBar;
  StatusBar* m_statusBar = nullptr;  // owned by the window
  bool m_closing = false;
};

}  // namespace ticklark::app
