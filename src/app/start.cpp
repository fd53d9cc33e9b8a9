// SPDX-License-Identifier: MIT
#include "app/start.hpp"

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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
  std::vector<char*> arguments;
  for (const std::string& argument : commandLine.kept) {
    arguments.push_back(const_cast<char*>(argument.c_str()));
  }
  arguments.push_back(nullptr);
  // The program places its windows itself, which only X11 allows; on a Wayland
  // desktop it runs through XWayland.
  gdk_set_allowed_backends("x11");
  // Simple widgets draw faster with cairo than with GL rendered in software.
  setenv("GSK_RENDERER", "cairo", 0);
  g_set_prgname("ticklark2");
  g_set_application_name("Ticklark 2");

  // One copy at a time, found on the session bus by its id; tests that need
  // copies apart give each its own with --gapplication-app-id. Made through
  // GTK's own call, which opens the display only at start-up: --help and
  // --version need none.
  Gtk::init_gtkmm_internals();
  Glib::RefPtr<Gtk::Application> application =
      Glib::wrap(gtk_application_new(kApplicationId, G_APPLICATION_CAN_OVERRIDE_APP_ID), false);
  AddCommandLine(*application);
  std::string endpointBase = kEndpointBase;
  application->signal_handle_local_options().connect(
      [&endpointBase](const Glib::RefPtr<Glib::VariantDict>& options) -> int {
        if (options->contains("version")) {
          std::printf("Ticklark 2 %d.%d.%d\n", kVersionMajor, kVersionMinor, kVersionRevision);
          return 0;
        }
        Glib::ustring base;
        if (options->lookup_value("endpoint", base)) {
          if (!ParseEndpointBase(base.raw())) {
            std::fprintf(stderr,
                         "ticklark2: --endpoint takes an http or https address such as %s, "
                         "not '%s'\n",
                         kEndpointBase, base.c_str());
            return kBadCommandLineStatus;
          }
          endpointBase = base.raw();
        }
        return -1;
      },
      false);

  ui::LoadedWindows loaded;
  platform::X11WindowPlacement placement;
  platform::KeyFileSettingsStore settings;
  platform::DesktopDefaultBrowser defaultBrowser;
  std::unique_ptr<web::WebSession> session;
  std::unique_ptr<web::DestinationCatalogue> catalogue;
  std::unique_ptr<EndpointLauncher> endpoint;
  std::unique_ptr<EndpointOwnerCheck> endpointCheck;
  SharedForms sharedForms;
  std::unique_ptr<Module1> module;

  std::function<void()> close = [&] {
    MainForm* main = module ? module->MainWindow() : nullptr;
    if (main && main->IsLoaded()) {
      main->Close();
      return;
    }
    if (module) {
      module->Stop();  // during the splash
    }
    application->quit();
  };
  guint stopSignals[2] = {};
  application->signal_startup().connect([&] {
    ui::InstallProgramIcon();
    ui::InstallStyle();
    application->set_menubar(MainForm::BuildMenu());
    stopSignals[0] = g_unix_signal_add(SIGTERM, OnStopSignal, &close);
    stopSignals[1] = g_unix_signal_add(SIGINT, OnStopSignal, &close);
  });
  application->signal_activate().connect([&] {
    if (module) {
      RaiseActiveWindow(loaded);
      return;
    }
    session = std::make_unique<web::WebSession>(defaultBrowser);
    catalogue = std::make_unique<web::DestinationCatalogue>(endpointBase);
    endpoint = std::make_unique<EndpointLauncher>(catalogue->EndpointBase());
    endpointCheck = std::make_unique<EndpointOwnerCheck>(*endpoint);
    session->SetLoadGuard(*endpointCheck);
    ProgramServices services{application, loaded,     placement,  settings,
                             *session,    *catalogue, sharedForms};
    RegisterSecondaryWindows(sharedForms, services);
    // The splash's wait gives the endpoint its time to start (what is found at
    // its address is settled before the main window's first pages are asked
    // for), and the web engine its time to start the main window's processes.
    module = std::make_unique<Module1>(services, [&](int ms) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
      if (endpoint->Prepare(until) == EndpointOutcome::kForeign) {
        session->RefuseAddressesOf(catalogue->EndpointBase());
      }
      SplashWaitUntil(until, [&] { return module->StopAsked(); });
    });
    module->Main();
    if (module->MainWindow() && module->MainWindow()->Window()) {
      ReportStartupWhenMapped(*module->MainWindow()->Window());
    }
  });
  const int status = application->run(static_cast<int>(commandLine.kept.size()), arguments.data());
  for (guint source : stopSignals) {
    if (source != 0) {
      g_source_remove(source);
    }
  }
  if (endpoint) {
    endpoint->Stop();
  }
  ui::DestroyUnloadedWindows();
  return status;
}

}  // namespace ticklark::app
