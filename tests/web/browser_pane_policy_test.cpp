// SPDX-License-Identifier: MIT
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "web/pane_fixture.hpp"

namespace ticklark::test {
namespace {

using web::BrowserPane;
using web::PaneRole;

class PanePolicy : public PaneTest {
 protected:
  std::size_t Toplevels() { return Gtk::Window::list_toplevels().size(); }
};

// Files under the test's HOME whose name contains |part|.
std::vector<std::string> FilesNamed(const std::string& part) {
  std::vector<std::string> found;
  const char* home = std::getenv("HOME");
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(
           home, std::filesystem::directory_options::skip_permission_denied, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.find(part) != std::string::npos) {
      found.push_back(it->path().string());
    }
  }
  return found;
}

// A click on a link that opens a new window hands a web address to the
// desktop's browser; every other kind of address is refused. The web link is
// clicked last, so once it arrives the refused ones have had their turn.
TEST_F(PanePolicy, ClickedNewWindowLinksGoToTheDefaultBrowserOnlyForWebAddresses) {
  const std::string elsewhere = m_server.Address("/elsewhere");
  ServePage("/popups", "Popups",
            "<a id=file target=_blank href=\"file:///etc/hostname\">f</a>"
            "<a id=smb target=_blank href=\"smb://127.0.0.1/share\">s</a>"
            "<a id=js target=_blank href=\"javascript:document.title='Js'\">j</a>"
            "<a id=data target=_blank href=\"data:text/html,<title>Data</title>\">d</a>"
            "<a id=mail target=_blank href=\"mailto:someone@example.org\">m</a>"
            "<a id=web target=_blank href=\"" +
                elsewhere + "\">w</a>");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/popups", "Popups"));
  const auto toplevels = Toplevels();

  for (const char* id : {"file", "smb", "js", "data", "mail", "web"}) {
    Eval(pane, std::string("document.getElementById('") + id + "').click()");
  }
  ASSERT_TRUE(PumpUntil([&] { return !Browser().opened.empty(); }));
  Eval(pane, "window.open('file:///etc/hostname'); window.open('" + elsewhere + "?scripted')");
  ASSERT_TRUE(PumpUntil([&] { return Browser().opened.size() >= 2; }));

  EXPECT_EQ(Browser().opened, (std::vector<std::string>{elsewhere, elsewhere + "?scripted"}));
  EXPECT_EQ(m_server.CountRequests("/elsewhere"), 0u);
  EXPECT_EQ(TitleOf(pane), "Popups");
  EXPECT_EQ(pane.CurrentAddress(), m_server.Address("/popups"));
  EXPECT_EQ(Toplevels(), toplevels);
}

// The page's own script, with nobody clicking, gets no window at all.
TEST_F(PanePolicy, NewWindowsFromPageScriptWithoutAClickAreRefused) {
  const std::string elsewhere = m_server.Address("/elsewhere");
  ServePage("/auto", "Loading",
            "<a id=web target=_blank href=\"" + elsewhere +
                "\">w</a><script>"
                "const opened = window.open('" +
                elsewhere +
                "');"
                "document.getElementById('web').click();"
                "setTimeout(() => { window.open('" +
                elsewhere +
                "'); document.title = opened === null ? 'Refused' : 'Opened'; }, 50);"
                "</script>");
  BrowserPane& pane = AddPane(PaneRole::kAd);
  const auto toplevels = Toplevels();
  pane.Navigate(m_server.Address("/auto"));
  ASSERT_TRUE(PumpUntil([&] { return TitleOf(pane) == "Refused" || TitleOf(pane) == "Opened"; }));
  EXPECT_EQ(TitleOf(pane), "Refused");
  EXPECT_TRUE(Browser().opened.empty());
  EXPECT_EQ(m_server.CountRequests("/elsewhere"), 0u);
  EXPECT_EQ(Toplevels(), toplevels);
}

struct PermissionCase {
  const char* name;
  const char* body;  // async function body returning text
  const char* expected;
};

// The body runs as a user gesture, so the engine really asks the pane.
const PermissionCase kPermissionCases[] = {
    {"Geolocation",
     "return await new Promise(r => navigator.geolocation.getCurrentPosition("
     "() => r('granted'), e => r('error ' + e.code)));",
     "error 1"},
    {"Notifications", "return await Notification.requestPermission();", "denied"},
    {"UserMedia",
     "if (!navigator.mediaDevices) return 'unavailable';"
     "try { await navigator.mediaDevices.getUserMedia({audio: true, video: true});"
     " return 'granted'; } catch (e) { return e.name; }",
     "unavailable"},
    {"EnumerateDevices",
     "if (!navigator.mediaDevices) return 'unavailable';"
     "return String((await navigator.mediaDevices.enumerateDevices()).length);",
     "unavailable"},
    {"PointerLock",
     "return await new Promise(r => {"
     " document.onpointerlockchange = () => r(document.pointerLockElement ? 'locked' : 'free');"
     " document.onpointerlockerror = () => r('refused');"
     " document.body.requestPointerLock(); });",
     "refused"},
    {"ClipboardRead",
     "try { await navigator.clipboard.readText(); return 'read'; } catch (e) { return e.name; }",
     "NotAllowedError"},
};

TEST_F(PanePolicy, EveryPermissionRequestIsDenied) {
  ServePage("/ask", "Ask", "<div style=\"width:300px;height:200px\">page</div>");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/ask", "Ask"));
  // Pointer lock is only ever asked for by a focused view, and a view takes
  // the focus only in the active window.
  ASSERT_TRUE(AwaitActive(*m_window));
  gtk_widget_grab_focus(GTK_WIDGET(ViewOf(pane)));
  ASSERT_TRUE(PumpUntil([&] { return gtk_widget_has_focus(GTK_WIDGET(ViewOf(pane))); }));
  for (const PermissionCase& c : kPermissionCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EvalAsync(pane, c.body), c.expected);
  }
}

// Without a click or key press of the user's in the pane, a response to be
// saved is dropped, a page's download link is cancelled, and nothing is
// written to disk.
TEST_F(PanePolicy, DownloadsWithoutTheUsersActionAreNeverWritten) {
  m_server.ServeAttachment("/report", "ticklark-report.txt", "<title>Report</title>");
  m_server.Serve("/blob", {200, "application/x-ticklark-unknown", std::string(4096, 'x'), {}});
  m_server.Serve("/linked", {200, "application/octet-stream", "binary", {}});
  ServePage("/start", "Start", "<a id=dl href=\"/linked\" download=\"ticklark-linked.bin\">d</a>");
  BrowserPane& pane = AddPane();
  ASSERT_TRUE(Open(pane, "/start", "Start"));
  const auto cancelled = Session().CancelledDownloads();

  // Dropped by the pane before they could become downloads.
  for (const char* path : {"/report", "/blob"}) {
    SCOPED_TRACE(path);
    pane.Navigate(m_server.Address(path));
    ASSERT_TRUE(PumpUntil([&] { return m_server.CountRequests(path) == 1; }));
    ASSERT_TRUE(PumpUntil([&] { return !pane.IsLoading(); }));
    EXPECT_EQ(pane.CurrentAddress(), m_server.Address("/start"));
    EXPECT_EQ(TitleOf(pane), "Start");
  }
  EXPECT_EQ(Session().CancelledDownloads(), cancelled);

  Eval(pane, "document.getElementById('dl').click()");
  ASSERT_TRUE(PumpUntil([&] { return Session().CancelledDownloads() == cancelled + 1; }));
  EXPECT_TRUE(FilesNamed("ticklark-").empty());
  EXPECT_TRUE(FilesNamed(".wkdownload").empty());
}

// A second of 8 kHz, 8-bit mono sound as a WAV file.
std::string ToneWav() {
  constexpr std::uint32_t kSamples = 8000;
  std::string wav;
  const auto put = [&wav](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      wav.push_back(static_cast<char>((value >> (8 * i)) & 0xffu));
    }
  };
  wav += "RIFF";
  put(36 + kSamples, 4);
  wav += "WAVEfmt ";
  put(16, 4);
  put(1, 2);     // PCM
  put(1, 2);     // mono
  put(8000, 4);  // samples per second
  put(8000, 4);  // bytes per second
  put(1, 2);     // block size
  put(8, 2);     // bits per sample
  wav += "data";
  put(kSamples, 4);
  for (std::uint32_t i = 0; i < kSamples; ++i) {
    wav.push_back(static_cast<char>((i / 10) % 2 ? 168 : 88));
  }
  return wav;
}

// Sound starts only from a user's action, and a page never takes the screen.
TEST_F(PanePolicy, PagesNeitherPlaySoundByThemselvesNorGoFullScreen) {
  m_server.Serve("/tone.wav", {200, "audio/wav", ToneWav(), {}});
  ServePage("/play", "Play",
            "<script>new Audio('/tone.wav').play().then(() => document.title = 'Played',"
            " e => document.title = 'Refused ' + e.name);</script>");
  BrowserPane& pane = AddPane();
  pane.Navigate(m_server.Address("/play"));
  ASSERT_TRUE(
      PumpUntil([&] { return TitleOf(pane).rfind("Re", 0) == 0 || TitleOf(pane) == "Played"; }));
  EXPECT_EQ(TitleOf(pane), "Refused NotAllowedError");
  EXPECT_EQ(EvalAsync(pane, "await new Audio('/tone.wav').play(); return 'played';"), "played");

  EXPECT_EQ(EvalAsync(pane,
                      "try { await document.documentElement.requestFullscreen(); return 'full'; }"
                      " catch (e) { return e.name; }"),
            "TypeError");
  EXPECT_FALSE(m_window->is_fullscreen());
}

TEST_F(PanePolicy, SelfSignedHttpsFailsTheLoad) {
  LoopbackServer secure(TICKLARK_WEB_TEST_DATA "/self_signed.pem");
  secure.ServeHtml("/secure", "<title>Secure</title>");
  BrowserPane& pane = AddPane();
  int tlsFailures = 0;
  const gulong handler =
      g_signal_connect(ViewOf(pane), "load-failed-with-tls-errors",
                       G_CALLBACK(+[](WebKitWebView*, char*, GTlsCertificate*, GTlsCertificateFlags,
                                      gpointer count) -> gboolean {
                         ++*static_cast<int*>(count);
                         return FALSE;
                       }),
                       &tlsFailures);
  pane.Navigate(secure.Address("/secure"));
  EXPECT_TRUE(PumpUntil([&] { return tlsFailures == 1 && !pane.IsLoading(); }));
  g_signal_handler_disconnect(ViewOf(pane), handler);
  EXPECT_NE(TitleOf(pane), "Secure");
  EXPECT_EQ(secure.CountRequests("/secure"), 0u);
  // The pane's own page says why, in place of the engine's line of text.
  EXPECT_TRUE(PumpUntil([&] {
    return Eval(pane, "document.getElementById('problem')?.textContent") ==
           "The site's identity could not be verified";
  }));
}

}  // namespace
}  // namespace ticklark::test
