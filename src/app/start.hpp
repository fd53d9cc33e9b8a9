// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>

#include <gtkmm/application.h>

#include "app/shared_forms.hpp"
#include "app/window_geometry.hpp"
#include "ui/form.hpp"

namespace ticklark::platform {
class DefaultBrowser;
class SettingsStore;
class WindowPlacement;
}  // namespace ticklark::platform

namespace ticklark::web {
class DestinationCatalogue;
class WebSession;
}  // namespace ticklark::web

namespace ticklark::app {

class MainForm;

// frmSplash: the splash artwork, borderless, centred on the screen. No code.
class SplashForm : public ui::Form {
 public:
  explicit SplashForm(ui::FormServices services);

 protected:
  void BuildControls(ui::FormLayout&) override {}
  // Only the start procedure takes the splash away.
  void OnCloseRequested() override {}
};

// How long the splash stays up before the main window is made.
inline constexpr int kSplashMilliseconds = 4000;

// Everything the program's windows share, made once at start.
struct ProgramServices {
  Glib::RefPtr<Gtk::Application> application;
  ui::LoadedWindows& loaded;
  platform::WindowPlacement& placement;
  platform::SettingsStore& settings;
  web::WebSession& session;
  const web::DestinationCatalogue& catalogue;
  SharedForms& sharedForms;
};

// The program's one code module: the start procedure and the reference that
// keeps the main window object alive for the run.
class Module1 {
 public:
  using Sleep = std::function<void(int milliseconds)>;

  Module1(ProgramServices services, Sleep sleep);
  ~Module1();

  // Shows the splash and paints it, waits four seconds while the main
  // window's web process starts (nothing is asked of any server), makes and
  // loads the main window while the splash is up, unloads the splash and shows
  // the main window.
  void Main();
  // Ends the start procedure early, as a stop signal asks: the wait ends, no
  // main window is made and the splash goes. Too late once the main window
  // exists; that one closes as its Exit command does.
  void Stop() { m_stopAsked = true; }
  bool StopAsked() const { return m_stopAsked; }

  MainForm* MainWindow() const { return m_main.get(); }
  SplashForm& Splash() { return m_splash; }

 private:
  ProgramServices m_services;
  Sleep m_sleep;
  WindowGeometry m_geometry;
  SplashForm m_splash;
  std::unique_ptr<MainForm> m_main;
  bool m_stopAsked = false;
};

// Registers the program's secondary windows with |forms|.
void RegisterSecondaryWindows(SharedForms& forms, const ProgramServices& services);

// Runs the program: the start procedure, then the window event loop until the
// main window has closed. Returns the process exit status.
int Run(int argc, char** argv);

}  // namespace ticklark::app
