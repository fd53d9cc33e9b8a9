// SPDX-License-Identifier: MIT
#include "app/main_form.hpp"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include <gtkmm/applicationwindow.h>
#include <gtkmm/box.h>

#include "app/status_bar.hpp"
#include "ui/definitions.hpp"
#include "ui/form_layout.hpp"
#include "ui/twips.hpp"
#include "web/engine/browser_pane.hpp"
#include "web/navigation_bar.hpp"

namespace ticklark::app {

namespace {

constexpr int kStatusPanelTwips = 1440;

// The main window asks for no width of its own, not even its menu bar's: a
// window narrower than the bar shows the bar's left part, as it shows the left
// part of its layout and of its status bar.
class NarrowableWindow : public Gtk::ApplicationWindow {
 public:
  NarrowableWindow() : Glib::ObjectBase("TicklarkMainWindow") {}

 protected:
  void measure_vfunc(Gtk::Orientation orientation, int for_size, int& minimum, int& natural,
                     int& minimum_baseline, int& natural_baseline) const override {
    if (orientation == Gtk::Orientation::VERTICAL) {
      for_size = std::max(for_size, ContentMinimumWidth());
    }
    Gtk::ApplicationWindow::measure_vfunc(orientation, for_size, minimum, natural, minimum_baseline,
                                          natural_baseline);
    if (orientation == Gtk::Orientation::HORIZONTAL) {
      minimum = 0;
    }
  }
  void size_allocate_vfunc(int width, int height, int baseline) override {
    // What does not fit is cut at the window's edge.
    Gtk::ApplicationWindow::size_allocate_vfunc(std::max(width, ContentMinimumWidth()), height,
                                                baseline);
  }

 private:
  int ContentMinimumWidth() const {
    int minimum = 0;
    int natural = 0;
    int ignored = 0;
    Gtk::ApplicationWindow::measure_vfunc(Gtk::Orientation::HORIZONTAL, -1, minimum, natural,
                                          ignored, ignored);
    return minimum;
  }
};

}  // namespace

MainForm::MainForm(ui::FormServices services, Collaborators collaborators)
    : ui::Form(services, ui::MainWindowDef()), m_with(std::move(collaborators)) {
  using web::Destination;
  const auto navigate = [this](web::BrowserPane* MainForm::* pane, Destination destination) {
    return [this, pane, destination] { Navigate(this->*pane, destination); };
  };
  const auto open = [this](SecondaryWindow window) { return [this, window] { Open(window); }; };
  m_commands = {
      {"mnuFileExit", [this] { Close(); }},
      {"mnuNasdaqCal", open(SecondaryWindow::kNasdaqCal)},
      {"mnuNasdaqT", open(SecondaryWindow::kNasdaqTicker)},
      {"mnuCalc", open(SecondaryWindow::kCalc)},
      {"mnuNasdaqHm", open(SecondaryWindow::kNasdaqHm)},
      {"mnuNasdaqGlobal", open(SecondaryWindow::kNasdaqGlobal)},
      {"mnuIslandJava", navigate(&MainForm::m_webBrowser1Raw, Destination::islandjava)},
      {"mnuIslandHTML", navigate(&MainForm::m_webBrowser1Raw, Destination::islandhtml)},
      {"mnuNasdaqCom", navigate(&MainForm::m_webBrowser2Raw, Destination::nasdaqhome)},
      {"mnuQuicken", navigate(&MainForm::m_webBrowser2Raw, Destination::quickennews)},
      {"mnuNasEarnCal2", navigate(&MainForm::m_webBrowser2Raw, Destination::nasdaqcal)},
      {"mnuNasdaqHm2", navigate(&MainForm::m_webBrowser2Raw, Destination::nasdaqhm)},
      {"mnuNasdaqGlobal2", navigate(&MainForm::m_webBrowser2Raw, Destination::nasdaqglobal)},
      {"mnuNasdaqEcEvents", navigate(&MainForm::m_webBrowser2Raw, Destination::nasdaqevent)},
      {"mnuEarnWhisp", navigate(&MainForm::m_webBrowser2Raw, Destination::earningswhisp)},
      {"mnuRhIPO", navigate(&MainForm::m_webBrowser2Raw, Destination::rhipo)},
      {"mnuCNBC", navigate(&MainForm::m_webBrowser2Raw, Destination::cnbchome)},
      {"mnuCnnFn", navigate(&MainForm::m_webBrowser2Raw, Destination::cnnfnhome)},
      {"mnuHelpAbout", open(SecondaryWindow::kAbout)},
  };
}

MainForm::~MainForm() = default;

Glib::RefPtr<Gio::Menu> MainForm::BuildMenu() {
  auto bar = Gio::Menu::create();
  const auto items = ui::MainMenuDef();
  // menus[level - 1] is the menu that items of that level go into.
  std::vector<Glib::RefPtr<Gio::Menu>> menus{bar};
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ui::MenuItemDef& item = items[i];
    menus.resize(static_cast<std::size_t>(item.level));
    const std::string label = ui::MnemonicFromCaption(item.caption);
    const bool opensSubmenu = i + 1 < items.size() && items[i + 1].level > item.level;
    if (opensSubmenu) {
      auto submenu = Gio::Menu::create();
      menus.back()->append_submenu(label, submenu);
      menus.push_back(submenu);
    } else {
      menus.back()->append(label, "win." + std::string(item.name));
    }
  }
  return bar;
}

bool MainForm::RunMenuCommand(const std::string& name) {
  const auto command = m_commands.find(name);
  if (command == m_commands.end()) {
    return false;
  }
  command->second();
  return true;
}

std::unique_ptr<Gtk::Window> MainForm::CreateWindow() {
  auto window = std::make_unique<NarrowableWindow>();
  window->set_show_menubar(true);
  for (const auto& [name, command] : m_commands) {
    window->add_action(name, command);
  }
  if (m_with.application) {
    m_with.application->add_window(*window);
  }
  return window;
}

void MainForm::BuildControls(ui::FormLayout& layout) {
  const ui::WindowDef& def = Definition();
  m_webBrowser1 = std::make_unique<web::BrowserPane>(m_with.session, web::PaneRole::kQuotes);
  m_webBrowser2 = std::make_unique<web::BrowserPane>(
      m_with.session, web::PaneRole::kMain, m_webBrowser1.get(), web::PaneBar::kNavigationBar);
  m_webBrowser12 =
      std::make_unique<web::BrowserPane>(m_with.session, web::PaneRole::kAd, m_webBrowser1.get());
  m_webBrowser1Raw = m_webBrowser1.get();
  m_webBrowser2Raw = m_webBrowser2.get();
  m_webBrowser12Raw = m_webBrowser12.get();
  layout.Place(ui::GetControl(def, "WebBrowser12"), m_webBrowser12->Widget());
  layout.Place(ui::GetControl(def, "WebBrowser2"), m_webBrowser2->Widget());
  layout.Place(ui::GetControl(def, "WebBrowser1"), m_webBrowser1->Widget());
  m_navigationBar = std::make_unique<web::NavigationBar>(layout, 2, *m_webBrowser2);
}

Gtk::Widget& MainForm::WrapClientArea(Gtk::Widget& clientArea) {
  const ui::ControlDef& bar = ui::GetControl(Definition(), "sbStatusBar");
  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  clientArea.set_vexpand(true);
  clientArea.set_hexpand(true);
  box->append(clientArea);
  m_statusBar = Gtk::make_managed<StatusBar>(ui::PixelsFromTwips(bar.height),
                                             ui::PixelsFromTwips(kStatusPanelTwips));
  box->append(*m_statusBar);
  return *box;
}

void MainForm::OnLoad() {
  m_with.geometry.Restore(*Window());
  Navigate(m_webBrowser1.get(), web::Destination::islandjava);
  Navigate(m_webBrowser2.get(), web::Destination::quickennews);
  Navigate(m_webBrowser12.get(), web::Destination::ticklark_ad_frame);
}

void MainForm::OnUnload() {
  m_navigationBar.reset();
  m_statusBar = nullptr;
  m_webBrowser1Raw = m_webBrowser2Raw = m_webBrowser12Raw = nullptr;
  // Newest first, as in the site windows: the two panes that share the quotes
  // pane's web process go before it. Each leaves its slot in the layout first.
  for (std::unique_ptr<web::BrowserPane>* pane :
       {&m_webBrowser12, &m_webBrowser2, &m_webBrowser1}) {
    if (*pane) {
      Layout().Remove((*pane)->Widget());
      pane->reset();
    }
  }
}

void MainForm::Navigate(web::BrowserPane* pane, web::Destination destination) {
  if (pane) {
    const std::string& address = m_with.catalogue.Address(destination);
    pane->Navigate(address);
    if (m_with.navigated) {
      m_with.navigated(*pane, address);
    }
  }
}

void MainForm::Open(SecondaryWindow window) {
  if (!IsLoaded()) {
    return;
  }
  if (ui::Form* form = m_with.sharedForms.Get(window)) {
    form->ShowModal(*this);
  }
}

void MainForm::Close() {
  if (m_closing || !IsLoaded()) {
    return;
  }
  m_closing = true;
  // Unload every other window, newest first, so that the indexes of those not
  // yet handled stay as they were.
  ui::LoadedWindows& loaded = Services().loaded;
  const auto count = static_cast<std::int16_t>(loaded.Count());
  for (std::int16_t i = static_cast<std::int16_t>(count - 1); i >= 1; --i) {
    if (i < loaded.Count()) {
      loaded.At(i).Unload();
    }
  }
  m_with.geometry.Store(*Window());
  Unload();
  if (m_with.application) {
    m_with.application->quit();
  }
  m_closing = false;
}

}  // namespace ticklark::app
