// SPDX-License-Identifier: MIT
#include <signal.h>

#include <chrono>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtk/gtk.h>
#include <libsoup/soup.h>

#include "support/pane_waits.hpp"
#include "support/screenshot.hpp"
#include "web/pane_fixture.hpp"

namespace ticklark::web {
void PrintTo(PaneRole role, std::ostream* out) {
  *out << (role == PaneRole::kMain ? "main pane"
           : role == PaneRole::kAd ? "ad pane"
                                   : "quotes pane");
}
}  // namespace ticklark::web

namespace ticklark::test {
namespace {

using namespace std::chrono_literals;
using web::BrowserPane;
using web::PaneNotice;
using web::PaneRole;

// Hangs its web process once loaded, after telling the server at /hung.
constexpr char kHangOnceLoaded[] =
    "<script>onload = () => setTimeout(() => {"
    " const told = new XMLHttpRequest(); told.open('GET', '/hung', false); told.send();"
    " for (;;) {} }, 0);</script>";

class PaneRobustness : public PaneTest {
 protected:
  // The OK button of the pane's script dialog.
  static GtkWidget* FindOk(GtkWidget* widget) {
    if (GTK_IS_BUTTON(widget) && gtk_widget_get_visible(widget) &&
        g_strcmp0(gtk_button_get_label(GTK_BUTTON(widget)), "OK") == 0) {
      return widget;
    }
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
         child = gtk_widget_get_next_sibling(child)) {
      if (GtkWidget* found = FindOk(child)) {
        return found;
      }
    }
    return nullptr;
  }
  void PressOk(BrowserPane& pane) {
    GtkWidget* ok = FindOk(pane.Widget().gobj());
    ASSERT_NE(ok, nullptr);
    gtk_widget_activate(ok);
  }
  bool ShowsNotice(BrowserPane& pane) {
    return Eval(pane, "document.getElementById('notice') !== null") == "true";
  }
  // The label over the page that tells of a hung page.
  bool HangNoticeVisible(BrowserPane& pane) {
    for (GtkWidget* child = gtk_widget_get_first_child(pane.Widget().gobj()); child;
         child = gtk_widget_get_next_sibling(child)) {
      if (GTK_IS_LABEL(child) && gtk_widget_get_visible(child)) {
        return true;
      }
    }
    return false;
  }
  void KillWebProcesses() {
    for (int pid : WebProcessIds()) {
      kill(pid, SIGKILL);
    }
  }
  void UseTimings(void (*change)(web::PaneTimings&)) {
    web::PaneTimings timings;
    change(timings);
    Session().SetTimings(timings);
  }
};

std::vector<std::string> NamespacePids(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("NSpid:", 0) == 0) {
      std::istringstream fields(line.substr(6));
      std::vector<std::string> ids;
      for (std::string id; fields >> id;) {
        ids.push_back(id);
      }
      return ids;
    }
  }
  return {};
}

long ResidentKb(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::stol(line.substr(6));
    }
  }
  return 0;
}

TEST_F(PaneRobustness, EndedWebProcessShowsANoticeAndRefreshBringsThePageBack) {
  ServePage("/first", "First");
  ServePage("/page", "Page");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/first", "First"));
  ASSERT_TRUE(Open(pane, "/page", "Page"));

  webkit_web_view_terminate_web_process(ViewOf(pane));
  EXPECT_EQ(pane.Notice(), PaneNotice::kStopped);
  ASSERT_TRUE(PumpUntil([&] { return !pane.IsLoading() && ShowsNotice(pane); }));
  EXPECT_EQ(pane.CurrentAddress(), m_server.Address("/page"));

  pane.Refresh();
  ASSERT_TRUE(WaitForTitle(pane, "Page"));
  EXPECT_EQ(pane.Notice(), PaneNotice::kNone);
  EXPECT_EQ(m_server.CountRequests("/page"), 2u);
  EXPECT_EQ(pane.CurrentAddress(), m_server.Address("/page"));
  // The notice took no place in the history.
  pane.GoBack();
  ASSERT_TRUE(WaitForTitle(pane, "First"));
  EXPECT_FALSE(pane.CanGoBack());
}

TEST_F(PaneRobustness, CrashShowsANoticeAndTheNextNavigationLoads) {
  ServePage("/page", "Page");
  ServePage("/next", "Next");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/page", "Page"));
  KillWebProcesses();
  ASSERT_TRUE(PumpUntil([&] { return pane.Notice() == PaneNotice::kCrashed; }));
  ASSERT_TRUE(PumpUntil([&] { return !pane.IsLoading() && ShowsNotice(pane); }));
  ASSERT_TRUE(Open(pane, "/next", "Next"));
  EXPECT_EQ(pane.Notice(), PaneNotice::kNone);
  pane.GoBack();
  ASSERT_TRUE(WaitForTitle(pane, "Page"));
  EXPECT_FALSE(pane.CanGoBack());
}

// The ad and quotes panes have no Refresh button: after a crash they show the
// notice, then load their page again by themselves. A main pane waits for the user.
TEST_F(PaneRobustness, PanesWithoutANavigationBarComeBackAfterACrash) {
  UseTimings([](web::PaneTimings& t) { t.crashBackoffFirst = 300ms; });
  ServePage("/strip", "Strip");
  ServePage("/page", "Page");
  BrowserPane& ad = AddPane(web::PaneRole::kAd);
  BrowserPane& main = AddPane(web::PaneRole::kMain, &ad);
  ASSERT_TRUE(Open(ad, "/strip", "Strip"));
  ASSERT_TRUE(Open(main, "/page", "Page"));
  KillWebProcesses();
  ASSERT_TRUE(PumpUntil([&] { return ad.Notice() == PaneNotice::kCrashed; }));
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/strip") == 2; }));
  ASSERT_TRUE(WaitForTitle(ad, "Strip"));
  EXPECT_EQ(ad.Notice(), PaneNotice::kNone);
  PumpFor(600ms);  // twice the back-off: time for a reload that must not come
  EXPECT_EQ(main.Notice(), PaneNotice::kCrashed);
  EXPECT_EQ(m_server.CountRequests("/page"), 1u);
}

// A page that keeps crashing is not restarted at once each time.
TEST_F(PaneRobustness, RepeatedCrashesDelayTheReload) {
  UseTimings([](web::PaneTimings& t) { t.crashBackoffFirst = 400ms; });
  ServePage("/page", "Page");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/page", "Page"));

  KillWebProcesses();
  ASSERT_TRUE(PumpUntil([&] { return pane.Notice() == PaneNotice::kCrashed; }));
  // The first crash reloads at once (the recovery's own tests time that with
  // their clock; here a busy machine may take seconds to start a web process).
  pane.Refresh();
  ASSERT_TRUE(WaitForTitle(pane, "Page"));

  KillWebProcesses();
  ASSERT_TRUE(PumpUntil([&] { return pane.Notice() == PaneNotice::kCrashed; }));
  const auto requests = m_server.CountRequests("/page");
  const auto start = std::chrono::steady_clock::now();
  pane.Refresh();
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/page") == requests + 1; }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 350ms);
  ASSERT_TRUE(WaitForTitle(pane, "Page"));
}

TEST_F(PaneRobustness, PageBeyondTheMemoryLimitIsEndedWithANotice) {
  RecordingBrowser browser;
  web::WebSession session(browser, {web::WebSession::Storage::kEphemeral, 20u, 100ms});
  BrowserPane pane(session, PaneRole::kMain);
  m_fixed->put(pane.Widget(), 0, 0);
  ServePage("/hog", "Hog",
            "<canvas id=c width=3000 height=3000></canvas><script>"
            "const g = document.getElementById('c').getContext('2d');"
            "g.fillStyle = 'red'; g.fillRect(0, 0, 3000, 3000);"
            "window.kept = [];"
            "for (let i = 0; i < 8; ++i) kept.push(new Uint8Array(8 << 20).fill(1));</script>");
  pane.Navigate(m_server.Address("/hog"));
  ASSERT_TRUE(PumpUntil([&] { return pane.Notice() == PaneNotice::kMemoryLimit; }, 20s));
  ASSERT_TRUE(PumpUntil([&] { return !pane.IsLoading() && ShowsNotice(pane); }));
  m_fixed->remove(pane.Widget());
}

TEST_F(PaneRobustness, HungPageIsReportedAndStopThenRefreshRecover) {
  UseTimings([](web::PaneTimings& t) { t.unresponsiveNotice = 200ms; });
  ServePage("/spin", "Spin", kHangOnceLoaded);
  ServePage("/hung", "");
  BrowserPane& pane = AddPane();
  pane.Navigate(m_server.Address("/spin"));
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/hung") == 1; }));
  // The engine notices a hung web process when a request to it, here the
  // Stop, goes unanswered for 3 s.
  pane.Stop();
  ASSERT_TRUE(PumpUntil([&] { return pane.Notice() == PaneNotice::kUnresponsive; }, 10s));
  EXPECT_TRUE(HangNoticeVisible(pane));

  pane.Stop();
  EXPECT_EQ(pane.Notice(), PaneNotice::kStopped);
  EXPECT_FALSE(HangNoticeVisible(pane));
  ServePage("/spin", "Calm");
  pane.Refresh();
  ASSERT_TRUE(WaitForTitle(pane, "Calm"));
  EXPECT_EQ(pane.Notice(), PaneNotice::kNone);
}

TEST_F(PaneRobustness, StoppingAHungPaneBringsBackThePanesSharingItsProcess) {
  UseTimings([](web::PaneTimings& t) { t.unresponsiveNotice = 200ms; });
  ServePage("/spin", "Spin", kHangOnceLoaded);
  ServePage("/hung", "");
  ServePage("/quotes", "Quotes");
  BrowserPane& quotes = AddPane(web::PaneRole::kQuotes);
  ASSERT_TRUE(Open(quotes, "/quotes", "Quotes"));
  BrowserPane& main = AddPane(web::PaneRole::kMain, &quotes);
  main.Navigate(m_server.Address("/spin"));
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/hung") == 1; }));
  main.Stop();
  ASSERT_TRUE(PumpUntil([&] { return main.Notice() == PaneNotice::kUnresponsive; }, 10s));
  main.Stop();
  EXPECT_EQ(main.Notice(), PaneNotice::kStopped);
  // The quotes pane lost its process with the hung page, not through a fault
  // of its own: it loads its page again by itself.
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/quotes") == 2; }));
  ASSERT_TRUE(WaitForTitle(quotes, "Quotes"));
  EXPECT_EQ(quotes.Notice(), PaneNotice::kNone);
}

TEST_F(PaneRobustness, NavigationLeavesAHungPage) {
  ServePage("/spin", "Spin", kHangOnceLoaded);
  ServePage("/hung", "");
  ServePage("/calm", "Calm");
  BrowserPane& pane = AddPane();
  pane.Navigate(m_server.Address("/spin"));
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/hung") == 1; }));
  pane.Navigate(m_server.Address("/calm"));
  ASSERT_TRUE(WaitForTitle(pane, "Calm"));
  EXPECT_EQ(pane.Notice(), PaneNotice::kNone);
}

struct DialogCase {
  const char* name;
  const char* call;
  const char* inAdPane;    // the title once the ad pane closed the dialog
  const char* answeredOk;  // the title once OK was pressed in a main pane
};

const DialogCase kDialogCases[] = {
    {"Alert", "alert('Note')", "Answered undefined", "Answered undefined"},
    {"Confirm", "confirm('Sure?')", "Answered false", "Answered true"},
    {"Prompt", "prompt('Name?', 'Ann')", "Answered null", "Answered Ann"},
};

void PrintTo(const DialogCase& c, std::ostream* out) {
  *out << c.name;
}

class PaneScriptDialogs : public PaneRobustness, public ::testing::WithParamInterface<DialogCase> {
 protected:
  void ServeDialogPage(const DialogCase& c) {
    ServePage("/ask", "Before",
              std::string("<script>onload = () => setTimeout(() => {"
                          " document.title = 'Answered ' + String(") +
                  c.call + "); }, 0);</script>");
  }
};

TEST_P(PaneScriptDialogs, AdPaneClosesThemAtOnce) {
  ServeDialogPage(GetParam());
  BrowserPane& pane = AddPane(PaneRole::kAd);
  pane.Navigate(m_server.Address("/ask"));
  ASSERT_TRUE(WaitForTitle(pane, GetParam().inAdPane));
  EXPECT_FALSE(pane.ShowsScriptDialog());
}

TEST_P(PaneScriptDialogs, MainPaneShowsThemUntilAnswered) {
  ServeDialogPage(GetParam());
  BrowserPane& pane = AddPane(PaneRole::kMain);
  pane.Navigate(m_server.Address("/ask"));
  ASSERT_TRUE(PumpUntil([&] { return pane.ShowsScriptDialog(); }));
  EXPECT_EQ(TitleOf(pane), "Before");
  PressOk(pane);
  ASSERT_TRUE(WaitForTitle(pane, GetParam().answeredOk));
  EXPECT_FALSE(pane.ShowsScriptDialog());
}

INSTANTIATE_TEST_SUITE_P(Dialogs, PaneScriptDialogs, ::testing::ValuesIn(kDialogCases),
                         [](const auto& param_info) { return param_info.param.name; });

struct DialogLoop {
  const char* name;
  const char* script;
};

const DialogLoop kDialogLoops[] = {
    {"Alert", "onclick = () => setTimeout(() => { for (;;) alert('again'); }, 0);"},
    {"Confirm", "onclick = () => setTimeout(() => { for (;;) confirm('leave?'); }, 0);"},
    {"Prompt", "onclick = () => setTimeout(() => { for (;;) prompt('name?', 'x'); }, 0);"},
    {"BeforeUnload",
     "onbeforeunload = e => { e.preventDefault(); e.returnValue = 'stay'; return 'stay'; };"
     "onunload = () => { for (;;) alert('bye'); };"},
};

void PrintTo(const DialogLoop& loop, std::ostream* out) {
  *out << loop.name;
}

class PaneDialogLoops : public PaneRobustness,
                        public ::testing::WithParamInterface<std::tuple<DialogLoop, PaneRole>> {};

// However a page keeps asking, the program's next navigation closes what is
// open and goes through.
TEST_P(PaneDialogLoops, ProgramNavigationStillLoads) {
  const auto& [loop, role] = GetParam();
  UseTimings([](web::PaneTimings& t) { t.navigationWatchdog = 500ms; });
  ServePage("/loop", "Loop", std::string("<script>") + loop.script + "</script>");
  ServePage("/after", "After");
  BrowserPane& pane = AddPane(role);
  ASSERT_TRUE(Open(pane, "/loop", "Loop"));
  // Starts the loops; a page the user touched may also ask before unloading.
  Eval(pane, "document.body.click()");
  const bool asks = std::string(loop.name) != "BeforeUnload";
  if (asks && role == PaneRole::kMain) {
    ASSERT_TRUE(PumpUntil([&] { return pane.ShowsScriptDialog(); }));
  }
  pane.Navigate(m_server.Address("/after"));
  EXPECT_FALSE(pane.ShowsScriptDialog());
  ASSERT_TRUE(WaitForTitle(pane, "After"));
  EXPECT_FALSE(pane.ShowsScriptDialog());
}

INSTANTIATE_TEST_SUITE_P(Loops, PaneDialogLoops,
                         ::testing::Combine(::testing::ValuesIn(kDialogLoops),
                                            ::testing::Values(PaneRole::kMain, PaneRole::kAd)),
                         [](const auto& param_info) {
                           return std::string(std::get<0>(param_info.param).name) +
                                  (std::get<1>(param_info.param) == PaneRole::kMain ? "InMainPane"
                                                                                    : "InAdPane");
                         });

// A window's panes, made and destroyed as often as a site window is opened and
// closed: the web processes do not pile up and memory stays bounded. One web
// process serves both panes; the engine may keep one more ready for the next
// page, and for a moment a third while it moves a page to another process. On a
// busy machine the last window's process may still be on its way out when the
// next window's pages have loaded, so the count is taken once it has settled.
TEST_F(PaneRobustness, FortyWindowLifetimesKeepWebProcessesBounded) {
  ServePage("/main", "Main");
  ServePage("/ad", "Ad");
  std::size_t mostProcesses = 0;
  long residentAfterWarmUpKb = 0;
  for (int cycle = 0; cycle < 40; ++cycle) {
    SCOPED_TRACE(cycle);
    BrowserPane& main = AddPane(PaneRole::kMain);
    BrowserPane& ad = AddPane(PaneRole::kAd, &main);
    main.Navigate(m_server.Address("/main"));
    ad.Navigate(m_server.Address("/ad"));
    ASSERT_TRUE(PumpUntil([&] {
      test::TryAgainWhereStopped({&main, &ad});
      return TitleOf(main) == "Main" && TitleOf(ad) == "Ad";
    }));
    PumpUntil([] { return WebProcessIds().size() <= 3; }, 5s);
    mostProcesses = std::max(mostProcesses, WebProcessIds().size());
    RemovePanes();
    if (cycle == 4) {
      residentAfterWarmUpKb = ResidentKb(getpid());
    }
  }
  const long growthKb = ResidentKb(getpid()) - residentAfterWarmUpKb;
  RecordProperty("MostWebProcesses", static_cast<int>(mostProcesses));
  RecordProperty("ResidentGrowthKb", static_cast<int>(growthKb));
  EXPECT_LE(mostProcesses, 3u);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer holds freed memory back on purpose
  EXPECT_LT(growthKb, 64 * 1024);
#endif
  EXPECT_TRUE(PumpUntil([] { return WebProcessIds().size() <= 1; }, 10s));
}

// A pane that goes to another site keeps its web process, and Back comes to
// it there too: no process is left behind for Back or for that site's next
// page, which over a day of menu commands had piled up ten of them.
TEST_F(PaneRobustness, AnotherSitesPageStaysInThePanesWebProcess) {
  ServePage("/first", "First");
  ServePage("/other", "Other");
  BrowserPane& main = AddPane(PaneRole::kMain);
  ASSERT_TRUE(Open(main, "/first", "First"));
  const std::vector<int> processes = WebProcessIds();
  // 127.0.0.1 and localhost are two sites to the engine.
  std::string other = m_server.Address("/other");
  other.replace(other.find("127.0.0.1"), 9, "localhost");
  main.Navigate(other);
  ASSERT_TRUE(WaitForTitle(main, "Other"));
  EXPECT_EQ(WebProcessIds(), processes);
  main.GoBack();
  ASSERT_TRUE(WaitForTitle(main, "First"));
  EXPECT_EQ(WebProcessIds(), processes);
}

// Ending the web process of one pane of a window ends its partner's page too:
// they share the process. A pane of another window keeps its own.
TEST_F(PaneRobustness, PanesOfOneWindowShareAWebProcess) {
  ServePage("/main", "Main");
  ServePage("/ad", "Ad");
  ServePage("/other", "Other");
  BrowserPane& main = AddPane(PaneRole::kMain);
  BrowserPane& ad = AddPane(PaneRole::kAd, &main);
  BrowserPane& other = AddPane(PaneRole::kMain);
  ASSERT_TRUE(Open(main, "/main", "Main"));
  ASSERT_TRUE(Open(ad, "/ad", "Ad"));
  ASSERT_TRUE(Open(other, "/other", "Other"));
  webkit_web_view_terminate_web_process(ViewOf(main));
  EXPECT_EQ(main.Notice(), PaneNotice::kStopped);
  EXPECT_EQ(ad.Notice(), PaneNotice::kStopped);
  EXPECT_EQ(other.Notice(), PaneNotice::kNone);
}

// The quotes pane's load was on its way to the server when the main pane
// ended the web process the two share: the server has seen the request, so
// the pane does not send it again by itself; it says so, and its "Try again"
// asks once more at the user's click.
TEST_F(PaneRobustness, ALoadLostWithASharedProcessIsNotAskedForTwice) {
  UseTimings([](web::PaneTimings& t) { t.unresponsiveNotice = 200ms; });
  ServePage("/spin", "Spin", kHangOnceLoaded);
  ServePage("/hung", "");
  m_server.Stall("/quotes");
  BrowserPane& quotes = AddPane(web::PaneRole::kQuotes);
  BrowserPane& main = AddPane(web::PaneRole::kMain, &quotes);
  quotes.Navigate(m_server.Address("/quotes"));
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/quotes") == 1; }));
  main.Navigate(m_server.Address("/spin"));
  ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests("/hung") == 1; }));
  main.Stop();
  ASSERT_TRUE(PumpUntil([&] { return main.Notice() == PaneNotice::kUnresponsive; }, 10s));
  main.Stop();
  EXPECT_EQ(quotes.Notice(), PaneNotice::kStopped);
  ASSERT_TRUE(PumpUntil([&] { return !quotes.IsLoading() && ShowsNotice(quotes); }));
  PumpFor(500ms);  // time for a request that must not come, and for the picture
  EXPECT_EQ(m_server.CountRequests("/quotes"), 1u);
  SaveScreenshot(*m_window, "pane-stopped-notice");
  EXPECT_EQ(Eval(quotes, "document.querySelector('.address').textContent"),
            m_server.Address("/quotes"));

  ServePage("/quotes", "Quotes");
  Eval(quotes, "document.getElementById('retry').click()");
  ASSERT_TRUE(WaitForTitle(quotes, "Quotes"));
  EXPECT_EQ(m_server.CountRequests("/quotes"), 2u);
}

// Answers every request at |port| with one page, and counts them.
struct PortServer {
  explicit PortServer(guint port) {
    soup_server_add_handler(
        server, nullptr,
        +[](SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer count) {
          ++*static_cast<int*>(count);
          soup_server_message_set_status(message, 200, nullptr);
          soup_server_message_set_response(message, "text/html", SOUP_MEMORY_STATIC,
                                           "<title>Back</title>", 19);
        },
        &requests, nullptr);
    listening = soup_server_listen_local(server, port, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr);
  }
  ~PortServer() { g_object_unref(server); }
  SoupServer* server = soup_server_new(nullptr, nullptr);
  bool listening = false;
  int requests = 0;
};

// Where nothing listens, the pane shows a page of its own that says so in
// plain words and names the address, in the desktop's light or dark style;
// nothing is asked for again until the user clicks "Try again".
TEST_F(PaneRobustness, ARefusedConnectionShowsThePanesOwnPageWhoseTryAgainLoadsItAgain) {
  guint port = 0;
  {
    PortServer probe(0);
    GSList* uris = soup_server_get_uris(probe.server);
    ASSERT_NE(uris, nullptr);
    port = static_cast<guint>(g_uri_get_port(static_cast<GUri*>(uris->data)));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
  }
  const std::string address = "http://127.0.0.1:" + std::to_string(port) + "/quote?s=A&b=1";
  BrowserPane& pane = AddPane(PaneRole::kQuotes);
  pane.Widget().set_size_request(289, 585);
  pane.Navigate(address);
  ASSERT_TRUE(PumpUntil([&] {
    return Eval(pane, "document.getElementById('problem')?.textContent") == "Connection refused";
  }));
  EXPECT_EQ(Eval(pane, "document.querySelector('.address').textContent"), address);
  EXPECT_EQ(Eval(pane, "document.getElementById('retry').getAttribute('href')"), address);
  PumpFor(200ms);  // only for the picture: the page's painting is not announced
  SaveScreenshot(*m_window, "pane-error-page-light");

  GtkSettings* settings = gtk_settings_get_default();
  g_object_set(settings, "gtk-application-prefer-dark-theme", TRUE, nullptr);
  EXPECT_TRUE(PumpUntil(
      [&] { return Eval(pane, "matchMedia('(prefers-color-scheme: dark)').matches") == "true"; }));
  PumpFor(200ms);
  SaveScreenshot(*m_window, "pane-error-page-dark");
  g_object_set(settings, "gtk-application-prefer-dark-theme", FALSE, nullptr);

  PortServer server(port);
  ASSERT_TRUE(server.listening);
  PumpFor(300ms);  // time for a retry that must not come by itself
  EXPECT_EQ(server.requests, 0);
  Eval(pane, "document.getElementById('retry').click()");
  ASSERT_TRUE(WaitForTitle(pane, "Back"));
  EXPECT_EQ(server.requests, 1);
  EXPECT_FALSE(pane.CanGoBack());  // the pane's own page took no place in the history
}

TEST_F(PaneRobustness, WebProcessesRunInTheirOwnPidNamespace) {
  ServePage("/page", "Page");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/page", "Page"));
  const auto pids = WebProcessIds();
  ASSERT_FALSE(pids.empty());
  for (int pid : pids) {
    EXPECT_GE(NamespacePids(pid).size(), 2u) << pid;
  }
}

}  // namespace
}  // namespace ticklark::test
