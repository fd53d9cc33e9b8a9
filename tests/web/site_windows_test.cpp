// SPDX-License-Identifier: MIT
// The four site windows as the main window opens them: real windows, real web
// panes, a real loopback server. The tests named SiteWindowsOnTheirOwnScreen
// click and look at the X screen, so they run on a virtual screen of their own
// with a window manager (see CMakeLists.txt).
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <glibmm/main.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/button.h>
#include <gtkmm/popover.h>
#include <gtkmm/popovermenubar.h>
#include <gtkmm/window.h>
#include <webkit/webkit.h>

#include "app/fakes.hpp"
#include "app/main_form.hpp"
#include "app/start.hpp"
#include "platform/default_browser.hpp"
#include "platform/window_placement.hpp"
#include "support/gtk_fixture.hpp"
#include "support/loopback_server.hpp"
#include "support/pane_waits.hpp"
#include "support/process_tree.hpp"
#include "support/screenshot.hpp"
#include "ui/assets.hpp"
#include "ui/twips.hpp"
#include "web/engine/browser_pane.hpp"
#include "web/engine/web_session.hpp"
#include "web/site_form.hpp"

namespace ticklark::web {
namespace {

using ticklark::test::PathOf;

using app::SecondaryWindow;
using std::chrono::milliseconds;

class NoBrowser : public platform::DefaultBrowser {
 public:
  bool Open(const std::string&) override { return true; }
};

// What each site window must be.
struct SiteCase {
  const char* name;
  const char* command;
  SecondaryWindow window;
  const char* caption;
  std::vector<const char*> panes;  // main pane first
  std::vector<Destination> firstPages;
  std::vector<const char*> tabOrder;  // the navigation bar's buttons; empty for none
  bool manualPosition;
  int clientOriginLeft;  // twips
  int clientOriginTop;
  int clientWidth;
  int clientHeight;
  const char* pastTheEdge;  // the control that reaches 15 twips past the right edge
};

void PrintTo(const SiteCase& site, std::ostream* out) {
  *out << site.name;
}

const std::vector<SiteCase>& AllSites() {
  static const std::vector<SiteCase> sites{
      {"Heatmap",
       "mnuNasdaqHm",
       SecondaryWindow::kNasdaqHm,
       "Nasdaq-100 Dynamic Heatmap\u00AE",
       {"WebBrowser5", "WebBrowser8"},
       {Destination::nasdaqhm, Destination::ticklark_ad_frame},
       {"cmdWB5Back", "cmdWB5Forward", "cmdWB5Stop", "cmdWB5Refresh"},
       true,
       435,
       720,
       14865,
       10290,
       nullptr},
      {"Calendar",
       "mnuNasdaqCal",
       SecondaryWindow::kNasdaqCal,
       "Nasdaq Earnings Calendar",
       {"WebBrowser6", "WebBrowser7"},
       {Destination::nasdaqcal, Destination::ticklark_ad_frame},
       {"cmdWB6Stop", "cmdWB6Back", "cmdWB6Forward", "cmdWB6Refresh"},
       true,
       60,
       540,
       15240,
       10290,
       nullptr},
      {"Global",
       "mnuNasdaqGlobal",
       SecondaryWindow::kNasdaqGlobal,
       "Nasdaq Global Markets",
       {"WebBrowser9", "WebBrowser10"},
       {Destination::nasdaqglobal, Destination::ticklark_ad_frame},
       {"cmdWB9Back", "cmdWB9Forward", "cmdWB9Stop", "cmdWB9Refresh"},
       true,
       435,
       915,
       14400,
       9690,
       "WebBrowser9"},
      {"Ticker",
       "mnuNasdaqT",
       SecondaryWindow::kNasdaqTicker,
       "Nasdaq Ticker",
       {"WebBrowser4"},
       {Destination::nasdaqticker},
       {},
       false,
       0,
       0,
       12120,
       2355,
       "WebBrowser4"},
  };
  return sites;
}

template <typename T>
void CollectDescendants(GtkWidget* widget, std::vector<GtkWidget*>& found) {
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
       child = gtk_widget_get_next_sibling(child)) {
    if (G_TYPE_CHECK_INSTANCE_TYPE(child, T::get_base_type())) {
      found.push_back(child);
    }
    CollectDescendants<T>(child, found);
  }
}

// Buttons that are on the screen (a pane keeps a few hidden for page dialogs).
int CountShownButtons(Gtk::Window& window) {
  std::vector<GtkWidget*> found;
  CollectDescendants<Gtk::Button>(GTK_WIDGET(window.gobj()), found);
  return static_cast<int>(std::count_if(found.begin(), found.end(), gtk_widget_get_mapped));
}

// Every navigation the program starts, in the order it starts them: the web
// engine asks for each one's policy first, before it reaches the network,
// where the engine may send two panes' requests in either order.
struct Navigation {
  GtkWidget* view;
  std::string address;
};
std::vector<Navigation>& Navigations() {
  static std::vector<Navigation> navigations;
  return navigations;
}

gboolean RecordNavigation(GSignalInvocationHint*, guint count, const GValue* values, gpointer) {
  if (count >= 3 && g_value_get_enum(&values[2]) == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
    auto* decision = WEBKIT_NAVIGATION_POLICY_DECISION(g_value_get_object(&values[1]));
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(decision);
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    Navigations().push_back({GTK_WIDGET(g_value_get_object(&values[0])), uri ? uri : ""});
  }
  return TRUE;
}

// The web processes started by this test process, as they are now.
std::vector<int> WebProcesses() {
  std::vector<int> found;
  for (int pid : test::ProcessTree(getpid())) {
    if (test::CommandName(pid).rfind("WebKitWebProces", 0) == 0) {
      found.push_back(pid);
    }
  }
  return found;
}

// Where a control is, relative to the window's client area.
std::optional<graphene_rect_t> BoundsIn(Gtk::Widget& widget, Gtk::Widget& clientArea) {
  graphene_rect_t bounds;
  if (!gtk_widget_compute_bounds(widget.gobj(), clientArea.gobj(), &bounds)) {
    return std::nullopt;
  }
  return bounds;
}

class SiteWindows : public test::GtkTest {
 protected:
  static void SetUpTestSuite() {
    test::GtkTest::SetUpTestSuite();
    // As the program starts: its icon and its style for every window.
    ui::InstallProgramIcon();
    ui::InstallStyle();
    g_type_class_unref(g_type_class_ref(WEBKIT_TYPE_WEB_VIEW));
    static const gulong hook =
        g_signal_add_emission_hook(g_signal_lookup("decide-policy", WEBKIT_TYPE_WEB_VIEW), 0,
                                   RecordNavigation, nullptr, nullptr);
    (void)hook;
  }

  void SetUp() override {
    for (Destination key : kAllDestinations) {
      const std::string path = PathOf(catalogue.Address(key));
      const bool ad = key == Destination::ticklark_ad_frame;
      server.ServeHtml(path, "<html><body style='margin:6px;background:" +
                                 std::string(ad ? "#fff4c0" : "#e4ecf8") +
                                 ";font:15px sans-serif'><b>" + std::string(KeyOf(key)) + "</b> " +
                                 path + "</body></html>");
    }
    server.ServeHtml("/elsewhere", "<html><body>somewhere else</body></html>");
    placement = MakePlacement();
    geometry.emplace(store, *placement);
    services.emplace(app::ProgramServices{application, loaded, *placement, store, session,
                                          catalogue, sharedForms});
    app::RegisterSecondaryWindows(sharedForms, *services);
    form = std::make_unique<app::MainForm>(
        ui::FormServices{loaded, *placement},
        app::MainForm::Collaborators{application, session, catalogue, *geometry, sharedForms});
  }

  void TearDown() override {
    if (form->IsLoaded()) {
      form->Close();
    }
    form.reset();
    ui::DestroyUnloadedWindows();
  }

  virtual std::unique_ptr<platform::WindowPlacement> MakePlacement() {
    return std::make_unique<test::FakePlacement>();
  }

  // Loads and shows the main window and waits for its three first pages.
  void StartMainWindow() {
    form->Load();
    form->Show();
    ASSERT_TRUE(test::PumpUntil([&] { return form->Window()->get_mapped(); }));
    ASSERT_TRUE(AwaitShown(*form->WebBrowser1(), Destination::islandjava));
    ASSERT_TRUE(AwaitShown(*form->WebBrowser2(), Destination::quickennews));
    ASSERT_TRUE(AwaitShown(*form->WebBrowser12(), Destination::ticklark_ad_frame));
  }

  bool Shows(BrowserPane& pane, Destination key) const {
    return pane.CurrentAddress() == catalogue.Address(key) && !pane.IsLoading();
  }
  bool AwaitShown(BrowserPane& pane, Destination key) {
    return test::PumpUntil([&] {
      test::TryAgainWhereStopped({&pane});
      return Shows(pane, key) && pane.Notice() == PaneNotice::kNone;
    });
  }

  SiteForm* Site(SecondaryWindow window) const {
    return dynamic_cast<SiteForm*>(sharedForms.Existing(window));
  }
  bool SiteLoaded(SecondaryWindow window) const {
    const SiteForm* site = Site(window);
    return site != nullptr && site->IsLoaded();
  }

  // Runs the site window's Tools command, which returns only once the window
  // has gone; |whileOpen| runs inside it, with the window shown. Afterwards the
  // window's close control closes it if it is still loaded.
  void WhileOpen(const SiteCase& site, const std::function<void(SiteForm&)>& whileOpen) {
    bool ran = false;
    Glib::signal_timeout().connect_once(
        [&] {
          ran = true;
          SiteForm* window = Site(site.window);
          ASSERT_NE(window, nullptr);
          ASSERT_TRUE(window->IsShownModal());
          whileOpen(*window);
          if (window->IsLoaded()) {
            window->Window()->close();
          }
        },
        50);
    ASSERT_TRUE(form->RunMenuCommand(site.command));
    EXPECT_TRUE(ran);
  }

  // Waits for the window's panes to show their first pages.
  void AwaitFirstPages(const SiteCase& site, SiteForm& window) {
    for (std::size_t i = 0; i < site.panes.size(); ++i) {
      BrowserPane* pane = window.Pane(site.panes[i]);
      ASSERT_NE(pane, nullptr) << site.panes[i];
      EXPECT_TRUE(AwaitShown(*pane, site.firstPages[i])) << site.panes[i];
    }
  }

  void Click(SiteForm& window, const char* button) {
    auto* widget = dynamic_cast<Gtk::Button*>(window.Control(button));
    ASSERT_NE(widget, nullptr) << button;
    g_signal_emit_by_name(widget->gobj(), "clicked");
  }

  Glib::RefPtr<Gtk::Application> application;
  test::LoopbackServer server;
  DestinationCatalogue catalogue{server.BaseAddress()};
  NoBrowser browser;
  WebSession session{browser, {WebSession::Storage::kEphemeral, std::nullopt}};
  test::FakeSettingsStore store;
  std::unique_ptr<platform::WindowPlacement> placement;
  std::optional<app::WindowGeometry> geometry;
  ui::LoadedWindows loaded;
  app::SharedForms sharedForms;
  std::optional<app::ProgramServices> services;
  std::unique_ptr<app::MainForm> form;
};

class EachSiteWindow : public SiteWindows, public ::testing::WithParamInterface<SiteCase> {};

TEST_P(EachSiteWindow, OpensModallyWithItsCaptionControlsAndFirstPagesLeavingTheMainWindowAlone) {
  const SiteCase& site = GetParam();
  StartMainWindow();
  BrowserPane* quotes = form->WebBrowser1();
  BrowserPane* main = form->WebBrowser2();
  BrowserPane* ad = form->WebBrowser12();
  server.ClearRequests();
  Navigations().clear();

  WhileOpen(site, [&](SiteForm& window) {
    Gtk::Window& gtk = *window.Window();
    EXPECT_EQ(gtk.get_title(), site.caption);
    EXPECT_TRUE(gtk.get_modal());
    EXPECT_EQ(gtk.get_transient_for(), form->Window());
    EXPECT_TRUE(gtk.get_resizable());
    EXPECT_TRUE(gtk.get_deletable());
    EXPECT_EQ(loaded.Count(), 2);

    // The panes and the bar, and nothing else that takes a click.
    AwaitFirstPages(site, window);
    EXPECT_EQ(CountShownButtons(gtk), static_cast<int>(site.tabOrder.size()));
    for (const char* button : site.tabOrder) {
      EXPECT_NE(window.Control(button), nullptr) << button;
    }
    // Each pane went to its first page, main pane first, and nothing else was
    // asked for. On a busy machine a first page can be ordered again, after
    // the engine dropped its load or a web process that did not answer was
    // replaced; the server still sees it once.
    std::vector<std::string> expected;
    std::vector<std::string> started;
    std::vector<std::string> requested;
    for (std::size_t i = 0; i < site.panes.size(); ++i) {
      expected.push_back(std::string(site.panes[i]) + " " + catalogue.Address(site.firstPages[i]));
      requested.push_back("GET " + PathOf(catalogue.Address(site.firstPages[i])));
    }
    for (const Navigation& navigation : Navigations()) {
      std::string pane = "?";
      for (const char* control : site.panes) {
        if (gtk_widget_is_ancestor(navigation.view, window.Pane(control)->Widget().gobj())) {
          pane = control;
        }
      }
      const std::string start = pane + " " + navigation.address;
      if (std::find(started.begin(), started.end(), start) == started.end()) {
        started.push_back(start);
      }
    }
    EXPECT_EQ(started, expected);
    std::vector<std::string> arrived = server.Requests();
    std::sort(arrived.begin(), arrived.end());
    std::sort(requested.begin(), requested.end());
    EXPECT_EQ(arrived, requested);

    // Tab walks the bar in its own order, whatever the buttons' places.
    if (!site.tabOrder.empty()) {
      EXPECT_TRUE(test::AwaitActive(gtk));
      window.Control(site.tabOrder[0])->grab_focus();
      std::vector<std::string> walked{site.tabOrder[0]};
      for (std::size_t i = 1; i < site.tabOrder.size(); ++i) {
        gtk.child_focus(Gtk::DirectionType::TAB_FORWARD);
        std::string name = "?";
        for (const char* button : site.tabOrder) {
          if (gtk.get_focus() == window.Control(button)) {
            name = button;
          }
        }
        walked.push_back(name);
      }
      EXPECT_EQ(walked, std::vector<std::string>(site.tabOrder.begin(), site.tabOrder.end()));
    }

    // Only the picture waits for the pages' own painting, which nothing
    // announces; nothing checked depends on it.
    test::PumpFor(milliseconds(600));
    test::SaveScreenshot(gtk, std::string("site-window-") + site.name);
  });

  EXPECT_FALSE(SiteLoaded(site.window));
  EXPECT_EQ(loaded.Count(), 1);
  // The main window's panes are the same panes on the same pages, never asked
  // for anything while the site window came and went.
  EXPECT_EQ(form->WebBrowser1(), quotes);
  EXPECT_EQ(form->WebBrowser2(), main);
  EXPECT_EQ(form->WebBrowser12(), ad);
  EXPECT_TRUE(Shows(*quotes, Destination::islandjava));
  EXPECT_TRUE(Shows(*main, Destination::quickennews));
  EXPECT_TRUE(Shows(*ad, Destination::ticklark_ad_frame));
  test::PumpFor(milliseconds(200));  // time for a request that must not come
  EXPECT_EQ(server.Requests().size(), site.firstPages.size());
}

// The main pane is first in every site window's tab order; it is focusable
// only inside, through its view.
TEST_P(EachSiteWindow, OpensWithTheFocusInItsMainPane) {
  const SiteCase& site = GetParam();
  StartMainWindow();
  WhileOpen(site, [&](SiteForm& window) {
    Gtk::Window& gtk = *window.Window();
    Gtk::Widget* focus = gtk.get_focus();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(focus == &window.Pane(site.panes[0])->Widget() ||
                focus->is_ancestor(window.Pane(site.panes[0])->Widget()));
  });
}

TEST_P(EachSiteWindow, BrowsedThenClosedStartsOverAtItsFirstPageWithNothingToGoBackTo) {
  const SiteCase& site = GetParam();
  StartMainWindow();
  const std::string firstPath = PathOf(catalogue.Address(site.firstPages[0]));
  const auto back = [&](SiteForm& window) {
    if (site.tabOrder.empty()) {
      window.Pane(site.panes[0])->GoBack();  // no bar: the pane itself
    } else {
      // The bar's Back button, wherever it is in the tab order.
      for (const char* button : site.tabOrder) {
        if (std::string_view(button).ends_with("Back")) {
          Click(window, button);
        }
      }
    }
  };

  WhileOpen(site, [&](SiteForm& window) {
    back(window);  // before the first page is even there
    AwaitFirstPages(site, window);
    back(window);
    test::PumpFor(milliseconds(300));  // time for a load that must not start
    BrowserPane& pane = *window.Pane(site.panes[0]);
    EXPECT_TRUE(Shows(pane, site.firstPages[0]));
    EXPECT_FALSE(pane.CanGoBack());
    EXPECT_EQ(server.CountRequests(firstPath), 1u);

    pane.Navigate(server.Address("/elsewhere"));
    ASSERT_TRUE(test::PumpUntil([&] { return pane.CanGoBack() && !pane.IsLoading(); }));
  });
  ASSERT_FALSE(SiteLoaded(site.window));

  WhileOpen(site, [&](SiteForm& window) {
    AwaitFirstPages(site, window);
    EXPECT_EQ(server.CountRequests(firstPath), 2u);
    BrowserPane& pane = *window.Pane(site.panes[0]);
    EXPECT_FALSE(pane.CanGoBack());
    back(window);
    test::PumpFor(milliseconds(300));  // time for a load that must not start
    EXPECT_TRUE(Shows(pane, site.firstPages[0]));
    EXPECT_EQ(server.CountRequests("/elsewhere"), 1u);
  });
  EXPECT_EQ(loaded.Count(), 1);
}

// The Ticker window's one pane has no navigation bar, so no Refresh for the
// user: when its web process is killed from outside, as a crash would end it,
// the pane loads its page again by itself.
TEST_F(SiteWindows, TheTickersPageComesBackAfterItsWebProcessIsKilled) {
  const SiteCase& site = AllSites()[3];
  PaneTimings timings;
  timings.crashBackoffFirst = milliseconds(300);
  session.SetTimings(timings);
  StartMainWindow();
  const std::vector<int> mainWindowProcesses = WebProcesses();
  WhileOpen(site, [&](SiteForm& window) {
    AwaitFirstPages(site, window);
    const std::string path = PathOf(catalogue.Address(Destination::nasdaqticker));
    int killed = 0;
    for (int pid : WebProcesses()) {
      if (std::count(mainWindowProcesses.begin(), mainWindowProcesses.end(), pid) == 0) {
        killed += kill(pid, SIGKILL) == 0;
      }
    }
    ASSERT_GT(killed, 0);
    BrowserPane& pane = *window.Pane("WebBrowser4");
    EXPECT_TRUE(test::PumpUntil([&] { return server.CountRequests(path) == 2; }));
    EXPECT_TRUE(AwaitShown(pane, Destination::nasdaqticker));
    EXPECT_EQ(pane.Notice(), PaneNotice::kNone);
  });
}

TEST_P(EachSiteWindow, KeepsEveryControlInPlaceAtItsDesignedSizeWhenEnlarged) {
  const SiteCase& site = GetParam();
  StartMainWindow();
  platform::X11WindowPlacement x11;
  WhileOpen(site, [&](SiteForm& window) {
    Gtk::Window& gtk = *window.Window();
    const int designedWidth = ui::PixelsFromTwips(site.clientWidth);
    const int designedHeight = ui::PixelsFromTwips(site.clientHeight);
    test::PumpUntil([&] {
      return gtk.get_mapped() && gtk.get_width() == designedWidth &&
             gtk.get_height() == designedHeight;
    });
    Gtk::Widget& client = *gtk.get_child();
    EXPECT_EQ(gtk.get_width(), designedWidth);
    EXPECT_EQ(gtk.get_height(), designedHeight);

    const auto places = [&] {
      std::vector<std::vector<float>> all;
      for (const ui::ControlDef& control : window.Definition().controls) {
        Gtk::Widget* widget = window.Control(control.name);
        if (control.kind == ui::ControlKind::kWebBrowser) {
          widget = &window.Pane(control.name)->Widget();
        }
        EXPECT_NE(widget, nullptr) << control.name;
        if (!widget) {
          continue;
        }
        const auto bounds = BoundsIn(*widget, client);
        EXPECT_TRUE(bounds) << control.name;
        if (!bounds) {
          continue;
        }
        // Placed and sized as designed, also where that is past the edge.
        EXPECT_EQ(bounds->origin.x, ui::PixelsFromTwips(control.left)) << control.name;
        EXPECT_EQ(bounds->origin.y, ui::PixelsFromTwips(control.top)) << control.name;
        EXPECT_EQ(bounds->size.width, ui::PixelsFromTwips(control.width)) << control.name;
        EXPECT_EQ(bounds->size.height, ui::PixelsFromTwips(control.height)) << control.name;
        all.push_back(
            {bounds->origin.x, bounds->origin.y, bounds->size.width, bounds->size.height});
      }
      return all;
    };
    const auto before = places();
    ASSERT_EQ(before.size(), window.Definition().controls.size());

    if (site.pastTheEdge) {
      // 15 twips, one pixel, past the client area, which clips it.
      const ui::ControlDef& wide = ui::GetControl(window.Definition(), site.pastTheEdge);
      EXPECT_EQ(ui::PixelsFromTwips(wide.left + wide.width), gtk.get_width() + 1);
      EXPECT_EQ(client.get_overflow(), Gtk::Overflow::HIDDEN);
    }

    const int width = gtk.get_width() + 200;
    const int height = gtk.get_height() + 150;
    x11.SetOuterBounds(gtk, {10, 10, width, height});
    ASSERT_TRUE(
        test::PumpUntil([&] { return gtk.get_width() == width && gtk.get_height() == height; }));
    ASSERT_TRUE(test::AwaitNextFrame(gtk));
    EXPECT_EQ(places(), before);
  });
}

INSTANTIATE_TEST_SUITE_P(Sites, EachSiteWindow, ::testing::ValuesIn(AllSites()),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(SiteWindows, ClosingTheMainWindowUnloadsAnOpenSiteWindowFirst) {
  const SiteCase& site = AllSites()[1];
  StartMainWindow();
  bool mainLoadedWhenSiteWent = false;
  WhileOpen(site, [&](SiteForm& window) {
    AwaitFirstPages(site, window);
    window.Window()->signal_hide().connect([&] { mainLoadedWhenSiteWent = form->IsLoaded(); });
    form->Window()->close();  // the main window's close control
  });
  EXPECT_TRUE(mainLoadedWhenSiteWent);
  EXPECT_FALSE(SiteLoaded(site.window));
  EXPECT_FALSE(form->IsLoaded());
  EXPECT_EQ(loaded.Count(), 0);
  EXPECT_EQ(store.saves, 1);
}

// ---- on a screen of their own, with a window manager ----------------------

// Runs a command and returns what it printed.
std::string RunCommand(const std::string& command) {
  std::string out;
  gchar* text = nullptr;
  if (g_spawn_command_line_sync(command.c_str(), &text, nullptr, nullptr, nullptr) && text) {
    out = text;
  }
  g_free(text);
  return out;
}

unsigned long XidOf(Gtk::Window& window);

class SiteWindowsOnTheirOwnScreen : public SiteWindows {
 protected:
  static void SetUpTestSuite() {
    SiteWindows::SetUpTestSuite();
    if (!std::getenv("TICKLARK_OWN_SCREEN")) {
      return;
    }
    s_windowManager = test::StartWindowManager();
  }
  static void TearDownTestSuite() { test::EndWindowManager(s_windowManager); }
  void SetUp() override {
    if (!std::getenv("TICKLARK_OWN_SCREEN")) {
      GTEST_SKIP() << "clicks on the screen: runs on a screen of its own";
    }
    ASSERT_NE(s_windowManager, 0) << "openbox did not start";
    // A real application, so that the main window has its menu bar.
    static const Glib::RefPtr<Gtk::Application> shared = [] {
      auto made = Gtk::Application::create("org.ticklark.SiteWindowsTest",
                                           Gio::Application::Flags::NON_UNIQUE);
      made->register_application();
      made->set_menubar(app::MainForm::BuildMenu());
      return made;
    }();
    application = shared;
    // The main window to the right of where the site windows open.
    store.values = {
        {"MainLeft", "16500"}, {"MainTop", "1500"}, {"MainWidth", "7500"}, {"MainHeight", "6000"}};
    SiteWindows::SetUp();
  }
  std::unique_ptr<platform::WindowPlacement> MakePlacement() override {
    return std::make_unique<platform::X11WindowPlacement>();
  }

  // The screen position of the client area's top-left corner, as X reports it.
  static std::pair<int, int> ClientOrigin(Gtk::Window& window) {
    const std::string info = RunCommand("xwininfo -id " + std::to_string(XidOf(window)));
    const auto value = [&](const std::string& key) {
      const auto at = info.find(key);
      return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + key.size());
    };
    return {value("Absolute upper-left X:"), value("Absolute upper-left Y:")};
  }

  // Whether any of the main window's menus is open.
  bool MenuOpen() const {
    std::vector<GtkWidget*> popovers;
    CollectDescendants<Gtk::Popover>(GTK_WIDGET(form->Window()->gobj()), popovers);
    return std::any_of(popovers.begin(), popovers.end(),
                       [](GtkWidget* popover) { return gtk_widget_get_mapped(popover); });
  }

  // Clicks the first item of the main window's menu bar, "File", with the pointer.
  void ClickTheMenuBar() {
    std::vector<GtkWidget*> bars;
    CollectDescendants<Gtk::PopoverMenuBar>(GTK_WIDGET(form->Window()->gobj()), bars);
    ASSERT_EQ(bars.size(), 1u);
    graphene_rect_t item;
    ASSERT_TRUE(gtk_widget_compute_bounds(gtk_widget_get_first_child(bars[0]),
                                          GTK_WIDGET(form->Window()->gobj()), &item));
    const auto [x, y] = ClientOrigin(*form->Window());
    RunCommand("xdotool mousemove " + std::to_string(x + static_cast<int>(item.origin.x) + 8) +
               " " + std::to_string(y + static_cast<int>(item.origin.y) + 6) + " click 1");
  }

  static GPid s_windowManager;
};

GPid SiteWindowsOnTheirOwnScreen::s_windowManager = 0;

}  // namespace
}  // namespace ticklark::web

// Xlib after everything else: its macros clash with glibmm names.
#include <gdk/x11/gdkx.h>

namespace ticklark::web {
namespace {

unsigned long XidOf(Gtk::Window& window) {
  GdkSurface* surface = window.get_surface() ? window.get_surface()->gobj() : nullptr;
  return surface && GDK_IS_X11_SURFACE(surface) ? gdk_x11_surface_get_xid(surface) : 0;
}

TEST_F(SiteWindowsOnTheirOwnScreen, AreFramedByTheWindowManagerAndClosedByItsCloseCommand) {
  StartMainWindow();
  for (const SiteCase& site : AllSites()) {
    WhileOpen(site, [&](SiteForm& window) {
      Gtk::Window& gtk = *window.Window();
      ASSERT_TRUE(test::PumpUntil([&] { return gtk.get_mapped() && XidOf(gtk) != 0; }));
      AwaitFirstPages(site, window);
      // The client area is where the program's placement says, inside a frame
      // with a title bar.
      const auto framedAsPlaced = [&] {
        const auto outer = placement->OuterBounds(gtk);
        const platform::FrameExtents frame = placement->Frame(gtk);
        return outer && frame.top > 0 &&
               ClientOrigin(gtk) == std::pair{outer->x + frame.left, outer->y + frame.top};
      };
      test::PumpUntil(framedAsPlaced, milliseconds(5000));
      const auto [x, y] = ClientOrigin(gtk);
      const auto outer = placement->OuterBounds(gtk);
      ASSERT_TRUE(outer);
      const platform::FrameExtents frame = placement->Frame(gtk);
      EXPECT_GT(frame.top, 0) << site.name;
      EXPECT_EQ(outer->x + frame.left, x) << site.name;
      EXPECT_EQ(outer->y + frame.top, y) << site.name;
      test::SaveScreenScreenshot(std::string("site-window-framed-") + site.name);
      // The window manager's close command closes it like its close button.
      RunCommand("wmctrl -i -c " + std::to_string(XidOf(gtk)));
      EXPECT_TRUE(test::PumpUntil([&] { return !window.IsLoaded(); }, milliseconds(5000)));
    });
  }
  EXPECT_EQ(loaded.Count(), 1);
}

// GTK replaces the window's size hints, the position request among them, while
// it shows the window; the placement puts the window back where it belongs if
// the manager chose a place of its own.
TEST_F(SiteWindowsOnTheirOwnScreen, ManualStartPositionsPutTheClientAreaAtTheDesignedOrigin) {
  StartMainWindow();
  for (const SiteCase& site : AllSites()) {
    if (!site.manualPosition) {
      continue;
    }
    WhileOpen(site, [&](SiteForm& window) {
      Gtk::Window& gtk = *window.Window();
      ASSERT_TRUE(test::PumpUntil([&] { return gtk.get_mapped() && XidOf(gtk) != 0; }));
      const std::pair designed{ui::PixelsFromTwips(site.clientOriginLeft),
                               ui::PixelsFromTwips(site.clientOriginTop)};
      test::PumpUntil([&] { return ClientOrigin(gtk) == designed; }, milliseconds(5000));
      const auto [x, y] = ClientOrigin(gtk);
      EXPECT_EQ(x, designed.first) << site.name;
      EXPECT_EQ(y, designed.second) << site.name;
    });
  }
}

TEST_F(SiteWindowsOnTheirOwnScreen, TheMainWindowsMenuTakesNoClickWhileASiteWindowIsOpen) {
  StartMainWindow();
  ASSERT_TRUE(test::PumpUntil(
      [&] { return ClientOrigin(*form->Window()).first > 1000 && form->Window()->is_active(); }));

  // Without a site window the click opens the File menu...
  ClickTheMenuBar();
  ASSERT_TRUE(test::PumpUntil([&] { return MenuOpen(); }, milliseconds(3000)));
  RunCommand("xdotool key Escape");
  ASSERT_TRUE(test::PumpUntil([&] { return !MenuOpen(); }, milliseconds(3000)));
  ASSERT_TRUE(test::AwaitNextFrame(*form->Window()));

  // ...with one open, the same click opens nothing.
  for (const SiteCase& site : AllSites()) {
    WhileOpen(site, [&](SiteForm& window) {
      AwaitFirstPages(site, window);
      ClickTheMenuBar();
      test::PumpFor(milliseconds(700));  // time for a menu that must not open
      EXPECT_FALSE(MenuOpen()) << site.name;
      EXPECT_TRUE(window.IsShownModal()) << site.name;
      EXPECT_EQ(loaded.Count(), 2) << site.name;
    });
  }
}

}  // namespace
}  // namespace ticklark::web
