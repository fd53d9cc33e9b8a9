// SPDX-License-Identifier: MIT
#include "app/start.hpp"

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <glib-unix.h>
#include <glib.h>
#include <gtk/gtk.h>

#include <gtkmm/init.h>

#include "about/about_form.hpp"
#include "app/command_line.hpp"
#include "app/endpoint_launcher.hpp"
#include "app/main_form.hpp"
#include "app/splash_wait.hpp"
#include "calc/calc_form.hpp"
#include "platform/beep.hpp"
#include "platform/default_browser.hpp"
#include "platform/gobject_ptr.hpp"
#include "platform/settings_store.hpp"
#include "platform/window_placement.hpp"
#include "ui/assets.hpp"
#include "ui/definitions.hpp"
#include "web/core/destinations.hpp"
#include "web/engine/web_session.hpp"
#include "web/site_form.hpp"

namespace ticklark::app {

SplashForm::SplashForm(ui::FormServices services) : ui::Form(services, ui::SplashWindowDef()) {}

Module1::Module1(ProgramServices services, Sleep sleep)
    : m_services(std::move(services)),
      m_sleep(std::move(sleep)),
      m_geometry(m_services.settings, m_services.placement),
      m_splash(ui::FormServices{m_services.loaded, m_services.placement}) {}

Module1::~Module1() = default;

void Module1::Main() {
  m_splash.Show();
  ui::PaintNow(*m_splash.Window());
  if (!m_stopAsked) {
    m_services.session.StartWebProcessAhead(m_services.catalogue.EndpointBase());
    m_sleep(kSplashMilliseconds);
  }
  if (m_stopAsked) {
    m_services.session.EndWebProcessAhead();
    m_splash.Unload();
    return;
  }
  m_main = std::make_unique<MainForm>(
      ui::FormServices{m_services.loaded, m_services.placement},
      MainForm::Collaborators{m_services.application, m_services.session, m_services.catalogue,
                              m_geometry, m_services.sharedForms});
  m_main->Load();
  m_splash.Unload();
  m_main->Show();
}

namespace {

// For the start-up benchmark: with TICKLARK_REPORT_STARTUP set, says on
// standard error when the main window is first mapped, on the clock that the
// kernel records process start times on; bench/startup takes the start away.
void ReportStartupWhenMapped(Gtk::Window& window) {
  if (!std::getenv("TICKLARK_REPORT_STARTUP")) {
    return;
  }
  auto report = [] {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    std::fprintf(stderr, "ticklark2: main window mapped at %lld ms since boot\n",
                 static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
  };
  if (window.get_mapped()) {
    report();
  } else {
    auto connection = std::make_shared<sigc::connection>();
    *connection = window.signal_map().connect([connection, report] {
      report();
      connection->disconnect();
    });
  }
}

}  // namespace

void RegisterSecondaryWindows(SharedForms& forms, const ProgramServices& services) {
  const ui::FormServices formServices{services.loaded, services.placement};
  // The factories run long after this returns: they hold the shared objects
  // themselves, never |services|, which may be gone by then.
  web::WebSession& session = services.session;
  const web::DestinationCatalogue& catalogue = services.catalogue;
  const auto site = [&session, &catalogue, formServices](const web::SiteLayout& layout) {
    return [&session, &catalogue, formServices, &layout]() -> std::unique_ptr<ui::Form> {
      return std::make_unique<web::SiteForm>(formServices, layout, session, catalogue);
    };
  };
  forms.SetFactory(SecondaryWindow::kNasdaqHm, site(web::HeatmapSite()));
  forms.SetFactory(SecondaryWindow::kNasdaqCal, site(web::CalendarSite()));
  forms.SetFactory(SecondaryWindow::kNasdaqGlobal, site(web::GlobalSite()));
  forms.SetFactory(SecondaryWindow::kNasdaqTicker, site(web::TickerSite()));
  // The factory keeps the beeper for as long as the calculator it makes.
  forms.SetFactory(SecondaryWindow::kCalc,
                   [formServices, beeper = std::make_shared<platform::DisplayBeeper>()] {
                     return std::make_unique<calc::CalcForm>(formServices, *beeper);
                   });
  forms.SetFactory(SecondaryWindow::kAbout,
                   [formServices] { return std::make_unique<about::AboutForm>(formServices); });
}

namespace {

// The application's id: the desktop entry, the icon and the one running copy
// are known by it.
constexpr const char* kApplicationId = "org.ticklark.Ticklark2";

// A second launch brings the running copy's active window to the front: the
// main window, or the modal window open over it.
void RaiseActiveWindow(const ui::LoadedWindows& loaded) {
  for (int i = loaded.Count() - 1; i >= 0; --i) {
    ui::Form& form = loaded.At(i);
    if (form.IsVisible() && form.Window()) {
      form.Window()->present();
      return;
    }
  }
}

// SIGTERM and SIGINT end the program as its Exit command does.
gboolean OnStopSignal(gpointer close) {
  (*static_cast<std::function<void()>*>(close))();
  return G_SOURCE_CONTINUE;
}

void AddCommandLine(Gtk::Application& application) {
  using Type = Gio::Application::OptionType;
  application.add_main_option_entry(Type::BOOL, "version", '\0', "Show the version and exit");
  application.add_main_option_entry(
      Type::STRING, "endpoint", '\0',
      std::string("Use the web endpoint at BASE for this run instead of ") + kEndpointBase, "BASE");
  application.set_option_context_summary(
      "Stock tickers, market news, earnings calendars and real-time quotes.");
  application.set_option_context_description(
      "On a loopback BASE, the program starts ticklark-endpoint there itself when nothing "
      "answers,\nand stops it when it ends. A second launch brings the running copy to the "
      "front.");
}

// --version and --endpoint, read before the application registers: 0 or
// kBadCommandLineStatus ends the program with that status, -1 goes on.
int ReadLocalOptions(const Glib::RefPtr<Glib::VariantDict>& options, std::string& endpointBase) {
  if (options->contains("version")) {
    std::printf("Ticklark 2 %d.%d.%d\n", kVersionMajor, kVersionMinor, kVersionRevision);
    return 0;
  }
  Glib::ustring base;
  if (options->lookup_value("endpoint", base)) {
    if (!ParseEndpointBase(base.raw())) {
      std::fprintf(stderr,
                   "ticklark2: --endpoint takes an http or https address such as %s, not '%s'\n",
                   kEndpointBase, base.c_str());
      return kBadCommandLineStatus;
    }
    endpointBase = base.raw();
  }
  return -1;
}

// The toolkit's settings, made before anything of it starts.
void PrepareToolkit() {
  // The program places its windows itself, which only X11 allows; on a Wayland
  // desktop it runs through XWayland.
  gdk_set_allowed_backends("x11");
  // Simple widgets draw faster with cairo than with GL rendered in software.
  setenv("GSK_RENDERER", "cairo", 0);
  g_set_prgname("ticklark2");
  g_set_application_name("Ticklark 2");
}

// One copy at a time, found on the session bus by its id; tests that need
// copies apart give each its own with --gapplication-app-id. Made through
// GTK's own call, which opens the display only at start-up: --help and
// --version need none.
Glib::RefPtr<Gtk::Application> MakeApplication() {
  Gtk::init_gtkmm_internals();
  Glib::RefPtr<Gtk::Application> application =
      Glib::wrap(gtk_application_new(kApplicationId, G_APPLICATION_CAN_OVERRIDE_APP_ID), false);
  AddCommandLine(*application);
  return application;
}

// The program while it runs: what its windows share, made on the first
// activation, and the start procedure's steps. Its parts go in the opposite
// order to the one they are declared in.
class RunningProgram {
 public:
  RunningProgram() : m_application(MakeApplication()) {
    m_application->signal_handle_local_options().connect(
        [this](const Glib::RefPtr<Glib::VariantDict>& options) {
          return ReadLocalOptions(options, m_endpointBase);
        },
        false);
    m_application->signal_startup().connect(sigc::mem_fun(*this, &RunningProgram::on_startup));
    m_application->signal_activate().connect(sigc::mem_fun(*this, &RunningProgram::on_activate));
  }

  // Runs the application over the words of the command line kept for it;
  // returns its exit status once the program has ended.
  int Run(const std::vector<std::string>& kept) {
    std::vector<char*> arguments;
    for (const std::string& argument : kept) {
      arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);
    const int status = m_application->run(static_cast<int>(kept.size()), arguments.data());
    End();
    return status;
  }

 private:
  void on_startup() {
    ui::InstallProgramIcon();
    ui::InstallStyle();
    m_application->set_menubar(MainForm::BuildMenu());
    m_stopSignals[0].Reset(g_unix_signal_add(SIGTERM, OnStopSignal, &m_close));
    m_stopSignals[1].Reset(g_unix_signal_add(SIGINT, OnStopSignal, &m_close));
  }

  void on_activate() {
    if (m_module) {
      RaiseActiveWindow(m_loaded);
      return;
    }
    MakeSharedServices();
    ShowSplashThenMainWindow();
  }

  // The web session, the destinations and the endpoint's launcher, asked
  // before every load from the endpoint; the secondary windows' factories.
  void MakeSharedServices() {
    m_session = std::make_unique<web::WebSession>(m_defaultBrowser);
    m_catalogue = std::make_unique<web::DestinationCatalogue>(m_endpointBase);
    m_endpoint = std::make_unique<EndpointLauncher>(m_catalogue->EndpointBase());
    m_endpointCheck = std::make_unique<EndpointOwnerCheck>(*m_endpoint);
    m_session->SetLoadGuard(*m_endpointCheck);
    RegisterSecondaryWindows(m_sharedForms, Services());
  }

  ProgramServices Services() {
    return ProgramServices{m_application, m_loaded,     m_placement,  m_settings,
                           *m_session,    *m_catalogue, m_sharedForms};
  }

  void ShowSplashThenMainWindow() {
    m_module = std::make_unique<Module1>(Services(), sigc::mem_fun(*this, &RunningProgram::Wait));
    m_module->Main();
    if (m_module->MainWindow() && m_module->MainWindow()->Window()) {
      ReportStartupWhenMapped(*m_module->MainWindow()->Window());
    }
  }

  // The splash's wait gives the endpoint its time to start (what is found at
  // its address is settled before the main window's first pages are asked
  // for), and the web engine its time to start the main window's processes.
  void Wait(int milliseconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    TakeOrStartEndpoint(until);
    SplashWaitUntil(until, [this] { return m_module->StopAsked(); });
  }

  void TakeOrStartEndpoint(std::chrono::steady_clock::time_point until) {
    if (m_endpoint->Prepare(until) == EndpointOutcome::kForeign) {
      m_session->RefuseAddressesOf(m_catalogue->EndpointBase());
    }
  }

  // What a stop signal does: the main window closes as its Exit command
  // does; during the splash, the start procedure ends early.
  void Close() {
    MainForm* main = m_module ? m_module->MainWindow() : nullptr;
    if (main && main->IsLoaded()) {
      main->Close();
      return;
    }
    if (m_module) {
      m_module->Stop();  // during the splash
    }
    m_application->quit();
  }

  void End() {
    for (platform::SourceId& source : m_stopSignals) {
      source.Reset();
    }
    if (m_endpoint) {
      m_endpoint->Stop();
    }
    ui::DestroyUnloadedWindows();
  }

  Glib::RefPtr<Gtk::Application> m_application;
  std::string m_endpointBase = kEndpointBase;
  ui::LoadedWindows m_loaded;
  platform::X11WindowPlacement m_placement;
  platform::KeyFileSettingsStore m_settings;
  platform::DesktopDefaultBrowser m_defaultBrowser;
  std::unique_ptr<web::WebSession> m_session;
  std::unique_ptr<web::DestinationCatalogue> m_catalogue;
  std::unique_ptr<EndpointLauncher> m_endpoint;
  std::unique_ptr<EndpointOwnerCheck> m_endpointCheck;
  SharedForms m_sharedForms;
  std::unique_ptr<Module1> m_module;
  std::function<void()> m_close = [this] { Close(); };
  platform::SourceId m_stopSignals[2];
};

}  // namespace

int Run(int argc, char** argv) {
  // The program opens nothing: words that are not options are left out
  // before the application reads the command line.
  const ScannedCommandLine commandLine =
      ScanCommandLine(std::vector<std::string>(argv, argv + argc));
  if (!commandLine.error.empty()) {
    std::fprintf(stderr, "ticklark2: %s\n%s", commandLine.error.c_str(), kUsage);
    return kBadCommandLineStatus;
  }
  PrepareToolkit();
  RunningProgram program;
  return program.Run(commandLine.kept);
}

}  // namespace ticklark::app
