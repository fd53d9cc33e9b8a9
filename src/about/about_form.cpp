// SPDX-License-Identifier: MIT
#include "about/about_form.hpp"

#include <gdk/gdkkeysyms.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/shortcutcontroller.h>
#include <gtkmm/window.h>

#include "platform/file_search.hpp"
#include "platform/message_box.hpp"
#include "platform/process_launcher.hpp"
#include "platform/registry.hpp"
#include "ticklark/version.hpp"
#include "ui/definitions.hpp"
#include "ui/form_layout.hpp"

namespace ticklark::about {

std::string VersionText(int major, int minor, int revision) {
  return "Version " + std::to_string(major) + "." + std::to_string(minor) + "." +
         std::to_string(revision);
}

struct AboutForm::DesktopServices {
  DesktopServices(platform::WindowPlacement& placement, platform::GtkMessageBox::OwnerSource owner)
      : messages(placement, std::move(owner)) {}
  SysInfoServices Services() { return {registry, files, launcher, messages}; }

  platform::LinuxRegistryView registry;
  platform::PosixFileSearch files;
  platform::SpawnProcessLauncher launcher;
  platform::GtkMessageBox messages;
};

AboutForm::AboutForm(ui::FormServices services)
    : AboutForm(services, std::make_unique<DesktopServices>(services.placement,
                                                            [this] { return Window(); })) {}

AboutForm::AboutForm(ui::FormServices services, SysInfoServices sysInfo)
    : ui::Form(services, ui::AboutWindowDef()), m_launcher(sysInfo) {}

AboutForm::AboutForm(ui::FormServices services, std::unique_ptr<DesktopServices> desktop)
    : ui::Form(services, ui::AboutWindowDef()),
      m_desktop(std::move(desktop)),
      m_launcher(m_desktop->Services()) {}

AboutForm::~AboutForm() = default;

void AboutForm::BuildControls(ui::FormLayout& layout) {
  Gtk::Button* cmdOK = layout.Button("cmdOK");
  Gtk::Button* cmdSysInfo = layout.Button("cmdSysInfo");
  cmdOK->signal_clicked().connect(sigc::mem_fun(*this, &AboutForm::on_cmdOK_clicked));
  cmdSysInfo->signal_clicked().connect(sigc::mem_fun(*this, &AboutForm::on_cmdSysInfo_clicked));

  // cmdOK is the default button (Enter) and the cancel button (Esc).
  Gtk::Window& window = *Window();
  window.set_default_widget(*cmdOK);
  auto cancel = Gtk::ShortcutController::create();
  cancel->add_shortcut(Gtk::Shortcut::create(
      Gtk::KeyvalTrigger::create(GDK_KEY_Escape),
      Gtk::CallbackAction::create([cmdOK](Gtk::Widget&, const Glib::VariantBase&) {
        cmdOK->activate();
        return true;
      })));
  window.add_controller(cancel);
}

void AboutForm::OnLoad() {
  Layout()
      .Label("lblVersion")
      ->set_text(VersionText(kVersionMajor, kVersionMinor, kVersionRevision));
  Layout().Label("lblTitle")->set_text(kAppTitle);
}

void AboutForm::on_cmdOK_clicked() {
  Unload();
}

void AboutForm::on_cmdSysInfo_clicked() {
  StartSysInfo();
}

}  // namespace ticklark::about
