// SPDX-License-Identifier: MIT
#include "about/about_form.hpp"

#include <cstdlib>
#include <functional>

#include <gtkmm/button.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/window.h>

#include "fakes.hpp"
#include "platform/window_placement.hpp"
#include "support/gtk_fixture.hpp"
#include "support/screenshot.hpp"
#include "ui/assets.hpp"
#include "ui/definitions.hpp"

namespace ticklark::about {
namespace {

class OwnerForm : public ui::Form {
 public:
  explicit OwnerForm(ui::FormServices services) : ui::Form(services, ui::SplashWindowDef()) {}

 protected:
  void BuildControls(ui::FormLayout&) override {}
};

// Real key presses into the window that has |title|.
void PressKey(const std::string& title, const std::string& key) {
  const std::string command = "xdotool search --name '^" + title + "$' windowfocus --sync %1 key " +
                              key + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

template <typename T>
std::vector<T*> All(Gtk::Widget& widget, std::vector<T*> found = {}) {
  if (auto* match = dynamic_cast<T*>(&widget)) {
    found.push_back(match);
  }
  for (Gtk::Widget* child = widget.get_first_child(); child; child = child->get_next_sibling()) {
    found = All(*child, std::move(found));
  }
  return found;
}

class AboutWindowTest : public test::GtkTest, public ::testing::WithParamInterface<const char*> {
 protected:
  static void SetUpTestSuite() {
    static const bool styled = (ui::InstallStyle(), true);  // as the program does at start
    (void)styled;
  }
  void SetUp() override {
    m_owner.Show();
    ASSERT_TRUE(test::PumpUntil([this] { return m_owner.Window()->get_mapped(); }));
  }
  void TearDown() override {
    m_about.Unload();
    m_owner.Unload();
    ui::DestroyUnloadedWindows();
  }
  // Shows the window modally, runs |steps| inside the modal loop once the
  // window is up, and expects the modal showing to end.
  void RunModal(const std::function<void()>& steps) {
    auto poll = Glib::signal_timeout().connect(
        [&] {
          const bool up = m_about.IsLoaded() && m_about.Window()->get_mapped();
          if (up) {
            steps();
          }
          return !up;
        },
        20);
    bool stuck = false;
    auto guard = Glib::signal_timeout().connect_seconds(
        [&] {
          stuck = true;
          m_about.Unload();
          return false;
        },
        20);
    m_about.ShowModal(m_owner);
    poll.disconnect();
    guard.disconnect();
    EXPECT_FALSE(stuck) << "the window did not close";
    EXPECT_FALSE(m_about.IsLoaded());
  }
  Gtk::Button& Button(const char* name) {
    return dynamic_cast<Gtk::Button&>(*m_about.Control(name));
  }
  std::string Text(const char* name) {
    return dynamic_cast<Gtk::Label*>(m_about.Control(name))->get_text();
  }

  ui::LoadedWindows m_loaded;
  platform::X11WindowPlacement m_placement;
  OwnerForm m_owner{{m_loaded, m_placement}};
  test::FakeRegistry m_registry;
  test::FakeFiles m_files;
  test::FakeLauncher m_launcher;
  platform::GtkMessageBox m_messages{m_placement, [this] { return m_about.Window(); }};
  AboutForm m_about{{m_loaded, m_placement}, {m_registry, m_files, m_launcher, m_messages}};
};

TEST_F(AboutWindowTest, LoadSetsTitleAndVersionWithOkAsDefault) {
  m_about.Load();
  EXPECT_EQ(Text("lblTitle"), "Ticklark2");
  EXPECT_EQ(Text("lblVersion"), "Version 2.39.4");
  EXPECT_EQ(m_about.Window()->get_title(), "About Ticklark 2");
  EXPECT_EQ(m_about.Window()->get_default_widget(), &Button("cmdOK"));
  EXPECT_EQ(m_about.Window()->get_focus(), &Button("cmdOK"));
  EXPECT_EQ(VersionText(2, 5, 10), "Version 2.5.10");
  // The title is in the dialog font, like every caption.
  const auto font = [this](const char* name) {
    return m_about.Control(name)->get_pango_context()->get_font_description().to_string().raw();
  };
  EXPECT_EQ(font("lblTitle"), font("lblVersion"));
}

using AboutClosingTest = AboutWindowTest;

TEST_P(AboutClosingTest, ClosesWithoutStartingAnything) {
  const std::string way = GetParam();
  RunModal([&] {
    if (way == "close") {
      m_about.Window()->close();
    } else {
      PressKey("About Ticklark 2", way);
    }
  });
  EXPECT_TRUE(m_launcher.attempts.empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, AboutClosingTest, ::testing::Values("Return", "Escape", "close"));

TEST_F(AboutWindowTest, EnterOnSysInfoAndAltSRunItAndKeepWindowOpen) {
  m_registry.keys[kMsinfoKey]["PATH"] = test::Sz("/opt/tool");
  RunModal([&] {
    Button("cmdSysInfo").grab_focus();
    PressKey("About Ticklark 2", "Return");
    PressKey("About Ticklark 2", "alt+s");
    EXPECT_TRUE(test::PumpUntil([&] { return m_launcher.attempts.size() == 2; }));
    EXPECT_TRUE(m_about.IsVisible());
    PressKey("About Ticklark 2", "Escape");
  });
  EXPECT_EQ(m_launcher.attempts, (std::vector<std::string>{"/opt/tool", "/opt/tool"}));
}

// With no tool registered: the message, modal over the window, closed by OK or
// Esc, after which the About window is still there to use.
using AboutMessageTest = AboutWindowTest;

TEST_P(AboutMessageTest, MessageIsModalOverTheWindow) {
  const std::string way = GetParam();
  bool seen = false;
  auto look = Glib::signal_timeout().connect(
      [&] {
        for (Gtk::Window* message : Gtk::Window::list_toplevels()) {
          if (message->get_title() != "Ticklark2" || !message->get_mapped() ||
              m_about.Window()->get_width() == 0 || message->get_width() == 0) {
            continue;
          }
          EXPECT_EQ(message->get_transient_for(), m_about.Window());
          EXPECT_TRUE(message->get_modal());
          const auto buttons = All<Gtk::Button>(*message->get_child());
          EXPECT_EQ(All<Gtk::Label>(*message->get_child()).at(0)->get_text(), kSysInfoUnavailable);
          EXPECT_EQ(buttons.size(), 1u);
          EXPECT_EQ(buttons.at(0)->get_label(), "OK");
          EXPECT_TRUE(All<Gtk::Image>(*message->get_child()).empty());
          EXPECT_NE(test::SaveScreenshot(*m_about.Window(), "about_window"), "");
          test::SaveScreenScreenshot("about_with_message");
          seen = true;
          if (way == "OK") {
            buttons.at(0)->activate();
          } else {
            PressKey("Ticklark2", way);
          }
          return false;
        }
        return true;
      },
      50);
  RunModal([&] {
    // Clicking runs the handler here, and the message's own loop inside it.
    g_signal_emit_by_name(Button("cmdSysInfo").gobj(), "clicked");
    EXPECT_TRUE(seen);
    EXPECT_TRUE(m_about.IsVisible());
    Button("cmdOK").activate();
  });
  look.disconnect();
}

INSTANTIATE_TEST_SUITE_P(Ways, AboutMessageTest, ::testing::Values("OK", "Escape"));

}  // namespace
}  // namespace ticklark::about
