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

using namespace std::chrono_literals;

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
void Collect(Gtk::Widget& widget, std::vector<T*>& found) {
  if (auto* match = dynamic_cast<T*>(&widget)) {
    found.push_back(match);
  }
  for (Gtk::Widget* child = widget.get_first_child(); child; child = child->get_next_sibling()) {
    Collect(*child, found);
  }
}

class AboutWindowTest : public test::GtkTest {
 protected:
  static void SetUpTestSuite() {
    static const bool styled = [] {
      ui::InstallStyle();  // as the program does at start
      return true;
    }();
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
  // Shows the window modally and runs |steps| inside the modal loop once the
  // window is up; returns when the modal showing has ended.
  void RunModal(const std::function<void()>& steps) { RunModal(m_about, steps); }
  void RunModal(AboutForm& about, const std::function<void()>& steps) {
    auto poll = Glib::signal_timeout().connect(
        [&] {
          if (!about.IsLoaded() || !about.Window()->get_mapped()) {
            return true;
          }
          steps();
          return false;
        },
        20);
    bool stuck = false;
    auto guard = Glib::signal_timeout().connect_seconds(
        [&] {
          stuck = true;
          about.Unload();
          return false;
        },
        20);
    about.ShowModal(m_owner);
    poll.disconnect();
    guard.disconnect();
    EXPECT_FALSE(stuck) << "the window did not close";
  }
  static Gtk::Button& Button(AboutForm& about, const char* name) {
    return *dynamic_cast<Gtk::Button*>(about.Control(name));
  }
  Gtk::Button& Button(const char* name) { return Button(m_about, name); }

  ui::LoadedWindows m_loaded;
  platform::X11WindowPlacement m_placement;
  OwnerForm m_owner{{m_loaded, m_placement}};
  test::FakeRegistry m_registry;
  test::FakeFiles m_files;
  test::FakeLauncher m_launcher;
  test::FakeMessages m_messages;
  AboutForm m_about{{m_loaded, m_placement}, {m_registry, m_files, m_launcher, m_messages}};
};

TEST_F(AboutWindowTest, LoadSetsTitleAndVersionWithOkAsDefault) {
  m_about.Load();
  EXPECT_EQ(dynamic_cast<Gtk::Label*>(m_about.Control("lblTitle"))->get_text(), "Ticklark2");
  EXPECT_EQ(dynamic_cast<Gtk::Label*>(m_about.Control("lblVersion"))->get_text(), "Version 2.39.4");
  EXPECT_EQ(m_about.Window()->get_title(), "About Ticklark 2");
  EXPECT_EQ(m_about.Window()->get_default_widget(), &Button("cmdOK"));
  EXPECT_EQ(m_about.Window()->get_focus(), &Button("cmdOK"));
  EXPECT_EQ(VersionText(2, 5, 10), "Version 2.5.10");
}

class AboutClosingTest : public AboutWindowTest,
                         public ::testing::WithParamInterface<const char*> {};

TEST_P(AboutClosingTest, ClosesWithoutStartingAnything) {
  const std::string way = GetParam();
  RunModal([&] {
    if (way == "close") {
      m_about.Window()->close();
    } else {
      PressKey("About Ticklark 2", way);
    }
  });
  EXPECT_FALSE(m_about.IsLoaded());
  EXPECT_TRUE(m_launcher.attempts.empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, AboutClosingTest, ::testing::Values("Return", "Escape", "close"));

TEST_F(AboutWindowTest, EnterOnSysInfoAndAltSRunItAndKeepWindowOpen) {
  m_registry.keys["SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"]["PATH"] = test::Sz("/opt/tool");
  RunModal([&] {
    Button("cmdSysInfo").grab_focus();
    PressKey("About Ticklark 2", "Return");
    PressKey("About Ticklark 2", "alt+s");
    EXPECT_TRUE(test::PumpUntil([&] { return m_launcher.attempts.size() == 2; }, 5s));
    EXPECT_TRUE(m_about.IsVisible());
    PressKey("About Ticklark 2", "Escape");
  });
  EXPECT_EQ(m_launcher.attempts, (std::vector<std::string>{"/opt/tool", "/opt/tool"}));
  EXPECT_FALSE(m_about.IsLoaded());
}

// The real message box over the window: shown when no tool is registered,
// closed by OK or Esc, after which the About window is still there to use.
class AboutMessageTest : public AboutWindowTest,
                         public ::testing::WithParamInterface<const char*> {};

TEST_P(AboutMessageTest, MessageIsModalOverTheWindow) {
  AboutForm* over = nullptr;
  platform::GtkMessageBox box(m_placement, [&over] { return over->Window(); });
  AboutForm about{{m_loaded, m_placement}, {m_registry, m_files, m_launcher, box}};
  over = &about;
  const std::string way = GetParam();
  bool checked = false;
  auto look = Glib::signal_timeout().connect(
      [&] {
        Gtk::Window* message = nullptr;
        for (Gtk::Window* window : Gtk::Window::list_toplevels()) {
          if (window->get_title() == "Ticklark2" && window->get_mapped()) {
            message = window;
          }
        }
        if (!message) {
          return true;
        }
        std::vector<Gtk::Label*> labels;
        std::vector<Gtk::Button*> buttons;
        std::vector<Gtk::Image*> images;
        Collect(*message->get_child(), labels);
        Collect(*message->get_child(), buttons);
        Collect(*message->get_child(), images);
        EXPECT_EQ(message->get_transient_for(), about.Window());
        EXPECT_TRUE(message->get_modal());
        EXPECT_EQ(labels.at(0)->get_text(), kSysInfoUnavailable);  // then the button's own
        EXPECT_EQ(buttons.size(), 1u);
        EXPECT_EQ(buttons.at(0)->get_label(), "OK");
        EXPECT_TRUE(images.empty());
        test::SaveScreenshot(*about.Window(), "about_window");
        test::SaveScreenshot(*message, "about_message");
        test::SaveScreenScreenshot("about_with_message");
        checked = true;
        if (way == "OK") {
          buttons[0]->activate();
        } else {
          PressKey("Ticklark2", way);
        }
        return false;
      },
      50);
  RunModal(about, [&] {
    // Clicking runs the handler here, inside it the message's own loop.
    g_signal_emit_by_name(Button(about, "cmdSysInfo").gobj(), "clicked");
    EXPECT_TRUE(checked);
    EXPECT_TRUE(about.IsVisible());
    Button(about, "cmdOK").activate();
  });
  look.disconnect();
  EXPECT_FALSE(about.IsLoaded());
}

INSTANTIATE_TEST_SUITE_P(Ways, AboutMessageTest, ::testing::Values("OK", "Escape"));

}  // namespace
}  // namespace ticklark::about
