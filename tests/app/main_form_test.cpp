// SPDX-License-Identifier: MIT
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <glibmm/main.h>
#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/window.h>

#include "app/fakes.hpp"
#include "app/main_form.hpp"
#include "app/start.hpp"
#include "platform/default_browser.hpp"
#include "support/gtk_fixture.hpp"
#include "support/loopback_server.hpp"
#include "support/pane_waits.hpp"
#include "support/screenshot.hpp"
#include "ui/definitions.hpp"
#include "web/core/load_guard.hpp"
#include "web/engine/browser_pane.hpp"
#include "web/engine/web_session.hpp"

namespace ticklark::app {
namespace {

using ticklark::test::PathOf;

using web::Destination;

class RecordingBrowser : public platform::DefaultBrowser {
 public:
  bool Open(const std::string& uri) override {
    opened.push_back(uri);
    return true;
  }
  std::vector<std::string> opened;
};

// A secondary window for the open mechanism: records its loads and unloads.
class TestForm : public ui::Form {
 public:
  TestForm(ui::FormServices services, std::vector<std::string>& log, std::string name)
      : ui::Form(services, ui::TickerWindowDef()), m_log(log), m_name(std::move(name)) {}

 protected:
  void BuildControls(ui::FormLayout&) override {}
  void OnLoad() override { m_log.push_back("load " + m_name); }
  void OnUnload() override { m_log.push_back("unload " + m_name); }

 private:
  std::vector<std::string>& m_log;
  std::string m_name;
};

class MainWindow : public test::GtkTest {
 protected:
  void SetUp() override {
    for (Destination key : web::kAllDestinations) {
      const std::string path = PathOf(catalogue.Address(key));
      server.ServeHtml(path, "<html><body><h1>" + path + "</h1></body></html>");
    }
    form = std::make_unique<MainForm>(
        ui::FormServices{loaded, placement},
        MainForm::Collaborators{{},
                                session,
                                catalogue,
                                geometry,
                                sharedForms,
                                [this](const web::BrowserPane& pane, const std::string& address) {
                                  navigations.emplace_back(&pane, address);
                                }});
  }
  void TearDown() override {
    if (form->IsLoaded()) {
      form->Close();
    }
    form.reset();
    ui::DestroyUnloadedWindows();
  }

  void TryAgainWhereStopped() {
    test::TryAgainWhereStopped({form->WebBrowser1(), form->WebBrowser2(), form->WebBrowser12()});
  }
  // Waits until the server has been asked for |path| |count| times.
  bool AwaitRequests(Destination key, std::size_t count = 1) {
    const std::string path = PathOf(catalogue.Address(key));
    return test::PumpUntil([&] {
      TryAgainWhereStopped();
      return server.CountRequests(path) >= count;
    });
  }
  bool AwaitShown(web::BrowserPane* pane, Destination key) {
    const std::string address = catalogue.Address(key);
    return test::PumpUntil([&] {
      TryAgainWhereStopped();
      return pane->CurrentAddress() == address && !pane->IsLoading() &&
             pane->Notice() == web::PaneNotice::kNone;
    });
  }

  test::LoopbackServer server;
  web::DestinationCatalogue catalogue{server.BaseAddress()};
  RecordingBrowser browser;
  web::WebSession session{browser, {web::WebSession::Storage::kEphemeral, std::nullopt}};
  test::FakeSettingsStore store;
  test::FakePlacement placement;
  WindowGeometry geometry{store, placement};
  ui::LoadedWindows loaded;
  SharedForms sharedForms;
  std::unique_ptr<MainForm> form;
  std::vector<std::pair<const web::BrowserPane*, std::string>> navigations;
};

TEST_F(MainWindow, LoadRestoresGeometryThenRequestsTheThreeFirstPagesInOrder) {
  store.values = {
      {"MainLeft", "1500"}, {"MainTop", "900"}, {"MainWidth", "15600"}, {"MainHeight", "11700"}};
  form->Load();
  EXPECT_EQ(store.reads.size(), 4u);
  EXPECT_EQ(*placement.bounds, (platform::PixelRect{100, 60, 1040, 780}));
  ASSERT_TRUE(AwaitRequests(Destination::ticklark_ad_frame));
  ASSERT_TRUE(AwaitRequests(Destination::quickennews));
  ASSERT_TRUE(AwaitRequests(Destination::islandjava));
  // The requests themselves race each other to the server; the program's own
  // order is that of its Navigate calls.
  EXPECT_EQ(server.Requests().size(), 3u);
  EXPECT_EQ(navigations,
            (std::vector<std::pair<const web::BrowserPane*, std::string>>{
                {form->WebBrowser1(), catalogue.Address(Destination::islandjava)},
                {form->WebBrowser2(), catalogue.Address(Destination::quickennews)},
                {form->WebBrowser12(), catalogue.Address(Destination::ticklark_ad_frame)}}));
  EXPECT_TRUE(AwaitShown(form->WebBrowser1(), Destination::islandjava));
  EXPECT_TRUE(AwaitShown(form->WebBrowser2(), Destination::quickennews));
  EXPECT_TRUE(AwaitShown(form->WebBrowser12(), Destination::ticklark_ad_frame));

  form->Show();
  ASSERT_TRUE(test::PumpUntil([&] { return form->Window()->get_mapped(); }));
  form->Window()->set_default_size(1016, 720);
  // Only the picture waits for the web pages' own painting, which nothing
  // announces; nothing checked depends on it.
  test::PumpFor(std::chrono::milliseconds(500));
  test::SaveScreenshot(*form->Window(), "main-window");
}

struct NavigateCase {
  const char* command;
  bool quotesPane;  // else the main pane
  Destination destination;
};

void PrintTo(const NavigateCase& param, std::ostream* out) {
  *out << param.command;
}

class MainWindowCommands : public MainWindow, public ::testing::WithParamInterface<NavigateCase> {};

TEST_P(MainWindowCommands, RequestTheirPageInTheirPaneOnlyAndAgainWhenRepeated) {
  form->Load();
  ASSERT_TRUE(AwaitShown(form->WebBrowser1(), Destination::islandjava));
  ASSERT_TRUE(AwaitShown(form->WebBrowser2(), Destination::quickennews));
  ASSERT_TRUE(AwaitShown(form->WebBrowser12(), Destination::ticklark_ad_frame));
  const auto& param = GetParam();
  web::BrowserPane* target = param.quotesPane ? form->WebBrowser1() : form->WebBrowser2();
  web::BrowserPane* other = param.quotesPane ? form->WebBrowser2() : form->WebBrowser1();
  const std::string otherAddress = other->CurrentAddress();
  const std::size_t before = server.CountRequests(PathOf(catalogue.Address(param.destination)));

  ASSERT_TRUE(form->RunMenuCommand(param.command));
  ASSERT_TRUE(AwaitRequests(param.destination, before + 1));
  EXPECT_TRUE(AwaitShown(target, param.destination));
  ASSERT_TRUE(form->RunMenuCommand(param.command));
  EXPECT_TRUE(AwaitRequests(param.destination, before + 2));
  EXPECT_TRUE(AwaitShown(target, param.destination));

  EXPECT_EQ(other->CurrentAddress(), otherAddress);
  EXPECT_EQ(form->WebBrowser12()->CurrentAddress(),
            catalogue.Address(Destination::ticklark_ad_frame));
}

INSTANTIATE_TEST_SUITE_P(
    Navigate, MainWindowCommands,
    ::testing::Values(NavigateCase{"mnuIslandJava", true, Destination::islandjava},
                      NavigateCase{"mnuIslandHTML", true, Destination::islandhtml},
                      NavigateCase{"mnuQuicken", false, Destination::quickennews},
                      NavigateCase{"mnuNasEarnCal2", false, Destination::nasdaqcal},
                      NavigateCase{"mnuNasdaqHm2", false, Destination::nasdaqhm},
                      NavigateCase{"mnuNasdaqGlobal2", false, Destination::nasdaqglobal},
                      NavigateCase{"mnuNasdaqEcEvents", false, Destination::nasdaqevent},
                      NavigateCase{"mnuEarnWhisp", false, Destination::earningswhisp},
                      NavigateCase{"mnuRhIPO", false, Destination::rhipo}),
    [](const auto& testInfo) { return std::string(testInfo.param.command); });

TEST_F(MainWindow, BackAfterAMenuCommandReturnsToThePageBeforeIt) {
  form->Load();
  ASSERT_TRUE(AwaitShown(form->WebBrowser2(), Destination::quickennews));
  form->RunMenuCommand("mnuRhIPO");
  ASSERT_TRUE(AwaitShown(form->WebBrowser2(), Destination::rhipo));
  auto* back = dynamic_cast<Gtk::Button*>(form->Control("cmdWB2Back"));
  auto* forward = dynamic_cast<Gtk::Button*>(form->Control("cmdWB2Forward"));
  ASSERT_TRUE(back && forward);
  g_signal_emit_by_name(back->gobj(), "clicked");
  EXPECT_TRUE(AwaitShown(form->WebBrowser2(), Destination::quickennews));
  g_signal_emit_by_name(forward->gobj(), "clicked");
  EXPECT_TRUE(AwaitShown(form->WebBrowser2(), Destination::rhipo));
  // The bar never moves the other panes.
  EXPECT_EQ(form->WebBrowser1()->CurrentAddress(), catalogue.Address(Destination::islandjava));
  // Forward with nothing ahead leaves the pane as it is.
  g_signal_emit_by_name(forward->gobj(), "clicked");
  test::PumpFor(std::chrono::milliseconds(300));  // time for a load that must not start
  EXPECT_EQ(form->WebBrowser2()->CurrentAddress(), catalogue.Address(Destination::rhipo));
}

TEST_F(MainWindow, OpenCommandsShowOneSharedInstanceModallyAndWaitForIt) {
  std::vector<std::string> log;
  int made = 0;
  sharedForms.SetFactory(SecondaryWindow::kAbout, [&]() -> std::unique_ptr<ui::Form> {
    ++made;
    return std::make_unique<TestForm>(ui::FormServices{loaded, placement}, log, "about");
  });
  form->Load();
  form->Show();
  for (int opening = 0; opening < 2; ++opening) {
    bool checked = false;
    Glib::signal_timeout().connect_once(
        [&] {
          ui::Form* about = sharedForms.Existing(SecondaryWindow::kAbout);
          ASSERT_NE(about, nullptr);
          EXPECT_TRUE(about->IsShownModal());
          EXPECT_TRUE(about->Window()->get_modal());
          EXPECT_EQ(about->Window()->get_transient_for(), form->Window());
          EXPECT_EQ(loaded.Count(), 2);
          checked = true;
          about->Window()->close();  // the close control unloads it
        },
        200);
    ASSERT_TRUE(form->RunMenuCommand("mnuHelpAbout"));
    // The command returned only after the window went.
    EXPECT_TRUE(checked);
    EXPECT_FALSE(sharedForms.Existing(SecondaryWindow::kAbout)->IsLoaded());
    EXPECT_EQ(loaded.Count(), 1);
  }
  EXPECT_EQ(made, 1);
  EXPECT_EQ(log,
            (std::vector<std::string>{"load about", "unload about", "load about", "unload about"}));
}

// Another user's program holds the endpoint's address: its pages are never
// asked for, however a pane comes to them, and outside pages still load.
TEST_F(MainWindow, RefusedEndpointPagesShowANoticeAndAreNeverAskedFor) {
  session.RefuseAddressesOf(server.BaseAddress());
  test::LoopbackServer outside;
  outside.ServeHtml("/home", "<p>outside</p>");
  outside.Redirect("/to-endpoint", catalogue.Address(Destination::nasdaqcal));
  const auto refused = [](web::BrowserPane* pane) {
    return test::PumpUntil(
        [&] { return pane->Notice() == web::PaneNotice::kRefused && !pane->IsLoading(); });
  };
  form->Load();
  EXPECT_TRUE(refused(form->WebBrowser1()));
  EXPECT_TRUE(refused(form->WebBrowser2()));
  EXPECT_TRUE(refused(form->WebBrowser12()));
  web::BrowserPane* pane = form->WebBrowser2();
  pane->Refresh();
  EXPECT_TRUE(refused(pane));
  pane->Navigate(outside.Address("/home"));
  EXPECT_TRUE(test::PumpUntil(
      [&] { return pane->CurrentAddress() == outside.Address("/home") && !pane->IsLoading(); }));
  EXPECT_EQ(pane->Notice(), web::PaneNotice::kNone);
  pane->GoBack();
  EXPECT_TRUE(refused(pane));
  ASSERT_TRUE(form->RunMenuCommand("mnuNasEarnCal2"));
  EXPECT_TRUE(refused(pane));
  pane->Navigate(outside.Address("/to-endpoint"));
  EXPECT_TRUE(test::PumpUntil([&] { return outside.CountRequests("/to-endpoint") == 1; }));
  EXPECT_TRUE(refused(pane));
  test::PumpFor(std::chrono::milliseconds(300));  // time for a request that must not come
  EXPECT_TRUE(server.Requests().empty()) << server.Requests().front();
}

// Stands for the endpoint's owner check: refuses its base while |held| is
// false (another user's program listens there) and records what it is asked.
class FakeLoadGuard final : public web::LoadGuard {
 public:
  explicit FakeLoadGuard(std::string base) : m_base(std::move(base)) {}
  bool MayLoad(const char* address) override {
    asked.emplace_back(address);
    return held || !std::string_view(address).starts_with(m_base);
  }
  bool held = true;
  std::vector<std::string> asked;

 private:
  std::string m_base;
};

// The owner is asked again before each load a menu command orders: a listener
// that has changed hands gets no request, and one that is the user's again
// does.
TEST_F(MainWindow, EveryLoadFromTheEndpointAsksTheLoadGuardFirst) {
  FakeLoadGuard guard(server.BaseAddress());
  session.SetLoadGuard(guard);
  form->Load();
  ASSERT_TRUE(AwaitRequests(Destination::ticklark_ad_frame));
  ASSERT_TRUE(AwaitShown(form->WebBrowser2(), Destination::quickennews));
  const std::string calendar = catalogue.Address(Destination::nasdaqcal);

  guard.held = false;
  guard.asked.clear();
  ASSERT_TRUE(form->RunMenuCommand("mnuNasEarnCal2"));
  EXPECT_TRUE(test::PumpUntil([&] {
    return form->WebBrowser2()->Notice() == web::PaneNotice::kRefused &&
           !form->WebBrowser2()->IsLoading();
  }));
  test::PumpFor(std::chrono::milliseconds(300));  // time for a request that must not come
  EXPECT_EQ(server.CountRequests(PathOf(calendar)), 0u);
  EXPECT_NE(std::find(guard.asked.begin(), guard.asked.end(), calendar), guard.asked.end());

  guard.held = true;
  ASSERT_TRUE(form->RunMenuCommand("mnuNasEarnCal2"));
  EXPECT_TRUE(AwaitRequests(Destination::nasdaqcal));
  EXPECT_TRUE(AwaitShown(form->WebBrowser2(), Destination::nasdaqcal));
  EXPECT_EQ(form->WebBrowser2()->Notice(), web::PaneNotice::kNone);
}

TEST_F(MainWindow, SecondaryWindowsOutliveTheServicesTheyWereRegisteredWith) {
  // The program registers its windows from a set of services that is gone
  // long before the first window opens; a factory that kept it would read
  // whatever took its place (here: another catalogue).
  test::LoopbackServer other;
  web::DestinationCatalogue otherCatalogue{other.BaseAddress()};
  std::optional<ProgramServices> services;
  services.emplace(ProgramServices{{}, loaded, placement, store, session, catalogue, sharedForms});
  RegisterSecondaryWindows(sharedForms, *services);
  // The first set goes, and the next is made where it was.
  services.emplace(
      ProgramServices{{}, loaded, placement, store, session, otherCatalogue, sharedForms});

  ui::Form* ticker = sharedForms.Get(SecondaryWindow::kNasdaqTicker);
  ASSERT_NE(ticker, nullptr);
  ticker->Load();
  EXPECT_TRUE(AwaitRequests(Destination::nasdaqticker));
  EXPECT_TRUE(other.Requests().empty());
  ticker->Unload();
}

TEST_F(MainWindow, ClosingUnloadsTheOtherWindowsNewestFirstThenStoresGeometry) {
  std::vector<std::string> log;
  TestForm hidden(ui::FormServices{loaded, placement}, log, "hidden");
  TestForm shown(ui::FormServices{loaded, placement}, log, "shown");
  form->Load();
  form->Show();
  hidden.Load();
  shown.Show();
  store.onRead = nullptr;
  placement.bounds = platform::PixelRect{30, 40, 700, 500};
  ASSERT_TRUE(form->RunMenuCommand("mnuFileExit"));
  EXPECT_EQ(log, (std::vector<std::string>{"load hidden", "load shown", "unload shown",
                                           "unload hidden"}));
  EXPECT_EQ(loaded.Count(), 0);
  EXPECT_FALSE(form->IsLoaded());
  EXPECT_EQ(store.values["MainLeft"], "450");
  EXPECT_EQ(store.values["MainHeight"], "7500");
}

TEST_F(MainWindow, TheCloseControlClosesLikeExitAlsoUnderAModalWindow) {
  std::vector<std::string> log;
  sharedForms.SetFactory(SecondaryWindow::kCalc, [&]() -> std::unique_ptr<ui::Form> {
    return std::make_unique<TestForm>(ui::FormServices{loaded, placement}, log, "calc");
  });
  form->Load();
  form->Show();
  placement.bounds = platform::PixelRect{0, 0, 400, 300};
  Glib::signal_timeout().connect_once([&] { form->Window()->close(); }, 200);
  ASSERT_TRUE(form->RunMenuCommand("mnuCalc"));
  EXPECT_EQ(log, (std::vector<std::string>{"load calc", "unload calc"}));
  EXPECT_FALSE(form->IsLoaded());
  EXPECT_EQ(store.saves, 1);
}

TEST_F(MainWindow, ClosingMinimisedKeepsTheStoredGeometry) {
  store.values = {{"MainLeft", "777"}};
  form->Load();
  placement.minimized = true;
  form->Close();
  EXPECT_EQ(store.saves, 0);
  EXPECT_EQ(store.values["MainLeft"], "777");
}

TEST_F(MainWindow, MenuFollowsTheDefinitionWithAccessKeys) {
  auto bar = MainForm::BuildMenu();
  ASSERT_EQ(bar->get_n_items(), 4);
  std::vector<std::string> heads;
  for (int i = 0; i < bar->get_n_items(); ++i) {
    auto label =
        bar->get_item_attribute(i, Gio::MenuModel::Attribute::LABEL, Glib::VariantType("s"));
    heads.push_back(Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(label).get());
  }
  EXPECT_EQ(heads, (std::vector<std::string>{"_File", "_Tools", "_Options", "_Help"}));
  auto help = bar->get_item_link(3, Gio::MenuModel::Link::SUBMENU);
  ASSERT_TRUE(help);
  auto about =
      help->get_item_attribute(0, Gio::MenuModel::Attribute::LABEL, Glib::VariantType("s"));
  EXPECT_EQ(Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(about).get(), "_About ");
  auto action =
      help->get_item_attribute(0, Gio::MenuModel::Attribute::ACTION, Glib::VariantType("s"));
  EXPECT_EQ(Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(action).get(),
            "win.mnuHelpAbout");
  // Every leaf has a command; no submenu head has one.
  for (const ui::MenuItemDef& item : ui::MainMenuDef()) {
    const bool head = std::string_view(item.name) == "mnuFile" || item.name == "mnuTools" ||
                      item.name == "mnuOptions" || item.name == "mnuIsland" ||
                      item.name == "mnuMainFrame" || item.name == "mnuHelp";
    if (head) {
      EXPECT_FALSE(form->RunMenuCommand(std::string(item.name))) << item.name;
    }
  }
}

}  // namespace
}  // namespace ticklark::app
