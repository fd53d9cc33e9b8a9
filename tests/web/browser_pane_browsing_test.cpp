// SPDX-License-Identifier: MIT
// A pane used as a person uses a browser: real keys and mouse buttons from
// xdotool on a screen of the test's own (see CMakeLists.txt), real pages from
// the loopback server, the desktop's dialogs replaced by a recorder.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtkmm/label.h>
#include <gtkmm/popover.h>

#include "support/screenshot.hpp"
#include "web/browsing/find_bar.hpp"
#include "web/browsing/pane_browsing.hpp"
#include "web/browsing/pane_downloads.hpp"
#include "web/browsing/pane_services.hpp"
#include "web/pane_fixture.hpp"

// Xlib's macros clash with gtkmm's names: after every gtkmm header.
#include <gdk/x11/gdkx.h>

namespace ticklark::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using web::BrowserPane;
using web::PaneBrowsing;

// The desktop's dialogs and notifications, recorded; printing goes to a PDF
// file when the test names one.
class FakeDesktop final : public web::PaneDesktop {
 public:
  void ChooseSaveFile(web::SaveRequest request) override { saves.push_back(std::move(request)); }
  void ChoosePrintSettings(web::PrintRequest request) override {
    ++printDialogs;
    if (printTo.empty()) {
      return;
    }
    GtkPrintSettings* settings = gtk_print_settings_new();
    gtk_print_settings_set_printer(settings, "Print to File");
    gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
    gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_URI, ("file://" + printTo).c_str());
    request.print(settings, nullptr);
    g_object_unref(settings);
  }
  void Notify(const std::string& title, const std::string& body) override {
    notices.push_back(title + ": " + body);
  }

  std::vector<web::SaveRequest> saves;
  int printDialogs = 0;
  std::string printTo;
  std::vector<std::string> notices;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> FileNames(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The shown label with |text| inside |widget|, if any.
GtkWidget* ShownLabel(GtkWidget* widget, const std::string& text) {
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
       child = gtk_widget_get_next_sibling(child)) {
    if (GTK_IS_LABEL(child) && gtk_widget_get_mapped(child) &&
        text == gtk_label_get_text(GTK_LABEL(child))) {
      return child;
    }
    if (GtkWidget* found = ShownLabel(child, text)) {
      return found;
    }
  }
  return nullptr;
}

class PaneBrowsingOnItsOwnScreen : public PaneTest {
 protected:
  void SetUp() override {
    if (!std::getenv("TICKLARK_OWN_SCREEN")) {
      GTEST_SKIP() << "presses keys and clicks: runs on a screen of its own";
    }
    PaneTest::SetUp();
    char pattern[] = "/tmp/ticklark-browsing.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_folder = pattern;
    Session().Services().SetDesktop(&m_desktop);
    ASSERT_TRUE(PumpUntil([&] { return m_window->get_mapped(); }));
  }
  void TearDown() override {
    if (!m_window) {
      return;
    }
    PaneTest::TearDown();
    Session().Services().SetDesktop(nullptr);
    Session().Services().UseZoomFile({});
    fs::remove_all(m_folder);
  }

  static unsigned long XidOf(GtkWidget* widget) {
    return gdk_x11_surface_get_xid(gtk_native_get_surface(gtk_widget_get_native(widget)));
  }
  void Xdo(const std::string& arguments) {
    const std::string command = "xdotool " + arguments;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
  PaneBrowsing& Browsing(BrowserPane& pane) {
    return static_cast<PaneBrowsing&>(*Session().Services().PaneShowing(ViewOf(pane)));
  }

  // The X focus in the window, the keyboard focus in |pane|'s page.
  void FocusPage(BrowserPane& pane) {
    GtkWidget* view = GTK_WIDGET(ViewOf(pane));
    ASSERT_TRUE(AwaitActive(*m_window));
    gtk_widget_grab_focus(view);
    ASSERT_TRUE(PumpUntil([&] { return gtk_widget_has_focus(view); }));
  }
  void Press(BrowserPane& pane, const std::string& keys) {
    FocusPage(pane);
    Xdo("key --clearmodifiers " + keys);
  }
  // |then| are more xdotool commands, run with the pointer at |x|,|y| of the pane.
  void PointAt(BrowserPane& pane, int x, int y, const std::string& then) {
    graphene_rect_t bounds;
    ASSERT_TRUE(
        gtk_widget_compute_bounds(pane.Widget().gobj(), GTK_WIDGET(m_window->gobj()), &bounds));
    Xdo("mousemove --window " + std::to_string(XidOf(GTK_WIDGET(m_window->gobj()))) + " " +
        std::to_string(static_cast<int>(bounds.origin.x) + x) + " " +
        std::to_string(static_cast<int>(bounds.origin.y) + y) + " " + then);
  }
  void Click(BrowserPane& pane, int x, int y, int button = 1) {
    PointAt(pane, x, y, "click " + std::to_string(button));
  }
  // Right-clicks at |x|,|y| and picks the context menu's item |label|.
  void ChooseFromMenu(BrowserPane& pane, int x, int y, const std::string& label) {
    FocusPage(pane);
    // The page's web process has heard of any menu closed before.
    Eval(pane, "0");
    Click(pane, x, y, 3);
    GtkWidget* item = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
      item = ShownLabel(GTK_WIDGET(ViewOf(pane)), label);
      return item != nullptr;
    })) << label;
    GtkNative* native = gtk_widget_get_native(item);
    GtkWidget* menu = GTK_WIDGET(native);
    // The menu settles where it will stay: on the screen, and laid out and
    // drawn there twice.
    ASSERT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(menu) && XidOf(item) != 0; }));
    ASSERT_TRUE(AwaitNextFrame(*Glib::wrap(menu)));
    ASSERT_TRUE(AwaitNextFrame(*Glib::wrap(menu)));
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(item, menu, &bounds));
    double dx = 0;
    double dy = 0;
    gtk_native_get_surface_transform(native, &dx, &dy);
    const double itemX = dx + double{bounds.origin.x} + double{bounds.size.width} / 2;
    const double itemY = dy + double{bounds.origin.y} + double{bounds.size.height} / 2;
    Xdo("mousemove --window " + std::to_string(XidOf(item)) + " " +
        std::to_string(static_cast<int>(itemX)) + " " + std::to_string(static_cast<int>(itemY)) +
        " click 1");
    EXPECT_TRUE(PumpUntil([&] { return !gtk_widget_get_mapped(menu); })) << label;
  }

  FakeDesktop m_desktop;
  fs::path m_folder;
};

TEST_F(PaneBrowsingOnItsOwnScreen, KeysAndMouseButtonsWalkTheHistoryReloadAndStop) {
  ServePage("/a", "A");
  ServePage("/b", "B");
  ServePage("/c", "C",
            "<script>addEventListener('keydown', e => { if (e.key == 'Escape') "
            "document.title = 'Escape reached the page'; })</script>");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/a", "A"));
  ASSERT_TRUE(Open(pane, "/b", "B"));
  ASSERT_TRUE(Open(pane, "/c", "C"));

  struct Step {
    const char* keys;  // or a mouse button
    int button;
    const char* title;
  };
  // The key table itself is the pane core's (pane_core_test.cpp); here each
  // way a command reaches the pane, once.
  const Step steps[] = {
      {"alt+Left", 0, "B"}, {"alt+Right", 0, "C"}, {nullptr, 8, "B"}, {nullptr, 9, "C"}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.keys ? step.keys : "button " + std::to_string(step.button));
    if (step.keys) {
      Press(pane, step.keys);
    } else {
      Click(pane, 200, 150, step.button);
    }
    ASSERT_TRUE(WaitForTitle(pane, step.title));
    ASSERT_TRUE(PumpUntil([&] { return !pane.IsLoading(); }));
  }

  // A reload and a reload from the server each ask the server again.
  for (const char* keys : {"F5", "ctrl+shift+r"}) {
    SCOPED_TRACE(keys);
    const auto before = m_server.CountRequests("/c");
    Press(pane, keys);
    EXPECT_TRUE(PumpUntil([&] { return m_server.CountRequests("/c") == before + 1; }));
    ASSERT_TRUE(PumpUntil([&] { return !pane.IsLoading() && TitleOf(pane) == "C"; }));
  }

  m_server.Stall("/stalled");
  pane.Navigate(m_server.Address("/stalled"));
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/stalled") == 1; }));
  ASSERT_TRUE(pane.IsLoading());
  Press(pane, "Escape");
  ASSERT_TRUE(PumpUntil([&] { return !pane.IsLoading(); }));
  EXPECT_EQ(pane.CurrentAddress(), m_server.Address("/c"));
  // With nothing loading, Escape is the page's.
  Press(pane, "Escape");
  EXPECT_TRUE(WaitForTitle(pane, "Escape reached the page"));
}

TEST_F(PaneBrowsingOnItsOwnScreen, FindCountsMatchesWhateverTheirCaseAndGivesTheFocusBack) {
  ServePage("/find", "Find", "<p>Apple pie, apple juice and APPLE cider; a pear.</p>");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/find", "Find"));
  web::FindBar& find = Browsing(pane).Find();

  Press(pane, "ctrl+f");
  ASSERT_TRUE(PumpUntil([&] { return find.IsOpen() && find.HasFocus(); }));
  Xdo("type --delay 30 apple");
  EXPECT_TRUE(PumpUntil([&] { return find.MatchText() == "1 of 3"; })) << find.MatchText();
  const std::pair<const char*, const char*> keys[] = {
      {"Return", "2 of 3"},       {"Return", "3 of 3"}, {"Return", "1 of 3"},
      {"shift+Return", "3 of 3"}, {"F3", "1 of 3"},     {"shift+F3", "3 of 3"}};
  for (const auto& [key, expected] : keys) {
    Xdo(std::string("key ") + key);
    EXPECT_TRUE(PumpUntil([&] { return find.MatchText() == expected; }))
        << key << ": " << find.MatchText();
  }
  // Over the page's bottom edge, inside the pane.
  graphene_rect_t bar;
  ASSERT_TRUE(gtk_widget_compute_bounds(find.Widget().gobj(), pane.Widget().gobj(), &bar));
  EXPECT_LE(bar.origin.y + bar.size.height, pane.Widget().get_height());
  EXPECT_GE(bar.origin.y + bar.size.height, pane.Widget().get_height() - 8);
  SaveScreenshot(*m_window, "find-bar");

  Xdo("key ctrl+a BackSpace");
  Xdo("type --delay 30 pearl");
  EXPECT_TRUE(PumpUntil([&] { return find.MatchText() == "No matches"; })) << find.MatchText();
  Xdo("key Escape");
  EXPECT_TRUE(PumpUntil([&] { return !find.IsOpen(); }));
  EXPECT_TRUE(gtk_widget_has_focus(GTK_WIDGET(ViewOf(pane))));

  // The ad pane's size holds the bar; a strip too small for it refuses it.
  struct Size {
    int width;
    int height;
    bool fits;
  };
  for (const auto& [width, height, fits] : {Size{705, 75, true}, Size{300, 24, false}}) {
    pane.Widget().set_size_request(width, height);
    ASSERT_TRUE(PumpUntil([&] { return pane.Widget().get_height() == height; }));
    Press(pane, "ctrl+f");
    // Where it does not fit, a second is the time for a bar that must not open.
    EXPECT_EQ(PumpUntil([&] { return find.IsOpen(); }, fits ? 10s : 1s), fits)
        << width << "x" << height;
    if (fits) {
      ASSERT_TRUE(gtk_widget_compute_bounds(find.Widget().gobj(), pane.Widget().gobj(), &bar));
      EXPECT_GE(bar.origin.y, 0);
      EXPECT_LE(bar.origin.x + bar.size.width, width);
      Xdo("key Escape");
      ASSERT_TRUE(PumpUntil([&] { return !find.IsOpen(); }));
    }
  }
}

TEST_F(PaneBrowsingOnItsOwnScreen, ZoomStepsByKeysAndWheelAndIsKeptPerSiteAcrossRuns) {
  const fs::path zoomFile = m_folder / "zoom-levels.ini";
  Session().Services().UseZoomFile(zoomFile);
  ServePage("/wide", "Wide");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/wide", "Wide"));
  const auto cssWidth = [&](BrowserPane& of) { return std::atoi(Eval(of, "innerWidth").c_str()); };
  ASSERT_EQ(cssWidth(pane), 400);

  struct Step {
    const char* keys;
    int wheel;  // 4 up, 5 down, with Ctrl held
    int percent;
  };
  const Step steps[] = {
      {"ctrl+plus", 0, 110},       {"ctrl+equal", 0, 120},  {"ctrl+minus", 0, 110},
      {nullptr, 4, 120},           {nullptr, 5, 110},       {"ctrl+0", 0, 100},
      {"ctrl+KP_Subtract", 0, 90}, {"ctrl+KP_Add", 0, 100}, {"ctrl+plus", 0, 110}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.keys ? step.keys : "wheel " + std::to_string(step.wheel));
    if (step.keys) {
      Press(pane, step.keys);
    } else {
      FocusPage(pane);
      PointAt(pane, 200, 150, "keydown ctrl click " + std::to_string(step.wheel) + " keyup ctrl");
    }
    ASSERT_TRUE(PumpUntil([&] { return Browsing(pane).ZoomPercent() == step.percent; }));
    EXPECT_NEAR(cssWidth(pane), 400 * 100 / step.percent, 1);
  }
  EXPECT_NE(ShownLabel(pane.Widget().gobj(), "110%"), nullptr);
  EXPECT_TRUE(PumpUntil([&] { return !ShownLabel(pane.Widget().gobj(), "110%"); }));
  EXPECT_NE(ReadFile(zoomFile).find("127.0.0.1=110"), std::string::npos);

  // The same site in another pane follows; another host keeps its own level.
  BrowserPane& same = AddPane();
  ASSERT_TRUE(Open(same, "/wide", "Wide"));
  EXPECT_EQ(Browsing(same).ZoomPercent(), 110);
  same.Navigate("http://localhost:" + m_server.BaseAddress().substr(17) + "/wide");
  ASSERT_TRUE(PumpUntil([&] {
    return same.CurrentAddress().find("localhost") != std::string::npos && !same.IsLoading();
  }));
  EXPECT_EQ(Browsing(same).ZoomPercent(), 100);
  EXPECT_EQ(cssWidth(same), 400);

  // The next run reads the level back.
  RemovePanes();
  Session().Services().UseZoomFile(zoomFile);
  BrowserPane& again = AddPane();
  ASSERT_TRUE(Open(again, "/wide", "Wide"));
  EXPECT_EQ(Browsing(again).ZoomPercent(), 110);
  EXPECT_NEAR(cssWidth(again), 364, 1);
}

TEST_F(PaneBrowsingOnItsOwnScreen, PrintKeyAndMenuPrintThePageToPdfAndAPageAloneCannot) {
  m_desktop.printTo = (m_folder / "page.pdf").string();
  ServePage("/print", "Print",
            "<h1>Quarterly earnings</h1><div style=\"height:2500px\"></div><p>end</p>");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/print", "Print"));

  // Script of the page's own, long after any user action: nothing opens.
  Eval(pane, "setTimeout(() => { for (let i = 0; i < 5; i++) window.print(); }, 10)");
  PumpFor(500ms);  // time for a dialog that must not open
  EXPECT_EQ(m_desktop.printDialogs, 0);

  Press(pane, "ctrl+p");
  ASSERT_TRUE(PumpUntil([&] { return m_desktop.printDialogs == 1; }));
  const auto complete = [&] {
    const std::string pdf = ReadFile(m_desktop.printTo);
    return pdf.rfind("%PDF", 0) == 0 && pdf.find("%%EOF") != std::string::npos;
  };
  ASSERT_TRUE(PumpUntil(complete, 20s));
  const std::string pdf = ReadFile(m_desktop.printTo);
  int pages = 0;
  for (auto at = pdf.find("/Type /Page"); at != std::string::npos;
       at = pdf.find("/Type /Page", at + 1)) {
    pages += pdf.compare(at, 12, "/Type /Pages") != 0;
  }
  EXPECT_GE(pages, 2);

  fs::remove(m_desktop.printTo);
  ChooseFromMenu(pane, 200, 150, "Print...");
  ASSERT_TRUE(PumpUntil([&] { return m_desktop.printDialogs == 2; }));
  EXPECT_TRUE(PumpUntil(complete, 20s));
}

TEST_F(PaneBrowsingOnItsOwnScreen, ContextMenuSendsLinksAndPagesToTheDefaultBrowser) {
  ServePage("/menu", "Menu",
            "<a href=\"/linked\" style=\"display:block;width:300px;height:100px\">linked</a>");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/menu", "Menu"));
  std::vector<WebKitContextMenuAction> actions;
  const gulong recorder = g_signal_connect(
      ViewOf(pane), "context-menu",
      G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult*,
                     gpointer out) -> gboolean {
        auto* seen = static_cast<std::vector<WebKitContextMenuAction>*>(out);
        seen->clear();
        for (GList* item = webkit_context_menu_get_items(menu); item; item = item->next) {
          seen->push_back(
              webkit_context_menu_item_get_stock_action(WEBKIT_CONTEXT_MENU_ITEM(item->data)));
        }
        return FALSE;
      }),
      &actions);

  ChooseFromMenu(pane, 100, 50, "Open Link in Browser");
  ASSERT_TRUE(PumpUntil([&] { return !Browser().opened.empty(); }));
  EXPECT_EQ(Browser().opened.back(), m_server.Address("/linked"));
  for (auto gone : {WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,
                    WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW,
                    WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW}) {
    EXPECT_EQ(std::count(actions.begin(), actions.end(), gone), 0) << gone;
  }
  EXPECT_EQ(std::count(actions.begin(), actions.end(), WEBKIT_CONTEXT_MENU_ACTION_CUSTOM), 3);
  EXPECT_EQ(
      std::count(actions.begin(), actions.end(), WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK),
      1);

  ChooseFromMenu(pane, 200, 200, "Open Page in Browser");
  ASSERT_TRUE(PumpUntil([&] { return Browser().opened.size() == 2; }));
  EXPECT_EQ(Browser().opened.back(), m_server.Address("/menu"));
  EXPECT_EQ(std::count(actions.begin(), actions.end(), WEBKIT_CONTEXT_MENU_ACTION_CUSTOM), 2);
  g_signal_handler_disconnect(ViewOf(pane), recorder);
}

TEST_F(PaneBrowsingOnItsOwnScreen, DownloadsAskWhereAndOnlyCompleteFilesTakeTheChosenName) {
  std::string csv = "date,symbol,eps\n";
  for (int i = 0; i < 4000; ++i) {
    csv += "2024-05-" + std::to_string(10 + i % 20) + ",TICK" + std::to_string(i) + ",1.25\n";
  }
  m_server.ServeAttachment("/export.csv", "earnings.csv", csv);
  // 300 bytes, more than a file system takes in a name.
  const std::string longName = std::string(296, 'q') + ".csv";
  m_server.ServeAttachment("/long.csv", longName, csv);
  m_server.ServePartly("/broken.csv",
                       {200,
                        "text/csv",
                        std::string(64 * 1024, 'x'),
                        {{"Content-Disposition", "attachment; filename=\"broken.csv\""}}},
                       1024 * 1024);
  ServePage("/files", "Files",
            "<style>a,button{display:block;height:60px;width:300px}</style>"
            "<a id=csv href=\"/export.csv\">export</a><a href=\"/broken.csv\">broken</a>"
            "<button onclick=\"for (let i = 0; i < 5; i++) { const f = "
            "document.createElement('iframe'); f.src = '/export.csv?' + i; "
            "document.body.append(f); }\">flood</button><a href=\"/long.csv\">long</a>");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/files", "Files"));
  const fs::path downloads = fs::path(g_get_home_dir()) / "Downloads";
  const fs::path chosen = m_folder / "mine.csv";

  // A page's own click, without the user: no dialog, nothing saved.
  Eval(pane, "document.getElementById('csv').click()");
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/export.csv") == 1; }));
  PumpFor(300ms);  // time for a dialog that must not open
  EXPECT_TRUE(m_desktop.saves.empty());

  // Accepted: asked over the pane's window with the server's name in the
  // download folder; written only then, complete, under the chosen name.
  Click(pane, 100, 30);
  ASSERT_TRUE(PumpUntil([&] { return m_desktop.saves.size() == 1; }));
  EXPECT_EQ(m_desktop.saves[0].name, "earnings.csv");
  EXPECT_EQ(m_desktop.saves[0].folder, downloads.string());
  EXPECT_EQ(m_desktop.saves[0].parent, m_window);
  PumpFor(300ms);  // time for a file that must not be written yet
  EXPECT_TRUE(FileNames(downloads).empty());
  EXPECT_EQ(m_desktop.saves[0].accept(chosen.string()), "");
  ASSERT_TRUE(PumpUntil([&] { return m_desktop.notices.size() == 1; }));
  EXPECT_EQ(m_desktop.notices[0].rfind("Download finished", 0), 0u) << m_desktop.notices[0];
  EXPECT_EQ(ReadFile(chosen), csv);
  EXPECT_EQ(FileNames(m_folder), std::vector<std::string>{"mine.csv"});

  // Cancelled: nothing on disk, nothing to announce.
  Click(pane, 100, 30);
  ASSERT_TRUE(PumpUntil([&] { return m_desktop.saves.size() == 2; }));
  m_desktop.saves[1].cancel();
  ASSERT_TRUE(PumpUntil([&] { return Session().Services().Transfers().Active() == 0; }));
  EXPECT_EQ(FileNames(m_folder), std::vector<std::string>{"mine.csv"});
  EXPECT_EQ(m_desktop.notices.size(), 1u);

  // A folder that takes no files: the dialog says so and stays; the user then
  // agrees to replace the file of before.
  std::ofstream(chosen) << "old";
  ChooseFromMenu(pane, 100, 30, "Download Linked File");
  ASSERT_TRUE(PumpUntil([&] { return m_desktop.saves.size() == 3; }));
  EXPECT_NE(m_desktop.saves[2].accept("/proc/version/earnings.csv").find("cannot be saved"),
            std::string::npos);
  EXPECT_EQ(m_desktop.saves[2].accept(chosen.string()), "");
  ASSERT_TRUE(PumpUntil([&] { return m_desktop.notices.size() == 2; }));
  EXPECT_EQ(ReadFile(chosen), csv);

  // One click, five downloads asked for by the page: one dialog.
  const auto requests = m_server.CountRequests("/export.csv");
  Click(pane, 100, 150);
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/export.csv") == requests + 5; }));
  ASSERT_TRUE(PumpUntil([&] { return m_desktop.saves.size() == 4; }));
  PumpFor(300ms);  // time for a second dialog that must not open
  EXPECT_EQ(m_desktop.saves.size(), 4u);
  m_desktop.saves[3].cancel();

  // Cut off by the server: announced, and neither the chosen name nor a
  // temporary file is left.
  Click(pane, 100, 90);
  ASSERT_TRUE(PumpUntil([&] { return m_desktop.saves.size() == 5; }));
  EXPECT_EQ(m_desktop.saves[4].name, "broken.csv");
  EXPECT_EQ(m_desktop.saves[4].accept((m_folder / "broken.csv").string()), "");
  // Data arrives, under a temporary name only.
  ASSERT_TRUE(PumpUntil([&] {
    std::error_code error;
    for (const std::string& name : FileNames(m_folder)) {
      if (name.find(".part") != std::string::npos && fs::file_size(m_folder / name, error) > 0) {
        return true;
      }
    }
    return false;
  }));
  EXPECT_FALSE(fs::exists(m_folder / "broken.csv"));
  m_server.DropPartial();
  ASSERT_TRUE(PumpUntil([&] { return m_desktop.notices.size() == 3; }));
  EXPECT_EQ(m_desktop.notices[2].rfind("Download failed", 0), 0u) << m_desktop.notices[2];
  ASSERT_TRUE(PumpUntil([&] { return Session().Services().Transfers().Active() == 0; }));
  EXPECT_EQ(FileNames(m_folder), std::vector<std::string>{"mine.csv"});

  // A name longer than the file system takes: cut to fit, keeping its
  // extension, and saved; typed back at full length, it is refused for what
  // it is, and the dialog stays.
  Click(pane, 100, 210);
  ASSERT_TRUE(PumpUntil([&] { return m_desktop.saves.size() == 6; }));
  const std::string proposed = m_desktop.saves[5].name;
  EXPECT_EQ(proposed, std::string(251, 'q') + ".csv");
  EXPECT_NE(m_desktop.saves[5].accept((m_folder / longName).string()).find("too long"),
            std::string::npos);
  EXPECT_EQ(m_desktop.saves[5].accept((m_folder / proposed).string()), "");
  ASSERT_TRUE(PumpUntil([&] { return m_desktop.notices.size() == 4; }));
  EXPECT_EQ(m_desktop.notices[3].rfind("Download finished", 0), 0u) << m_desktop.notices[3];
  EXPECT_EQ(ReadFile(m_folder / proposed), csv);
}

}  // namespace
}  // namespace ticklark::test
