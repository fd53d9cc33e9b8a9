// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>

#include "about/sysinfo.hpp"
#include "ui/form.hpp"

namespace ticklark::about {

// "Version 2.39.4" for major 2, minor 39, revision 4.
std::string VersionText(int major, int minor, int revision);

// frmAbout: the program's icon, title and version, two notices, "OK" and
// "&System Info...". "OK" is both the default and the cancel button, so Enter
// (unless another button has the focus) and Esc press it; it unloads the window.
class AboutForm : public ui::Form {
 public:
  // With the desktop's services: the Linux registry view, the file system,
  // GLib's process start and a message box over this window.
  explicit AboutForm(ui::FormServices services);
  // With services of the caller's own.
  AboutForm(ui::FormServices services, SysInfoServices sysInfo);
  ~AboutForm() override;

  void StartSysInfo() { m_launcher.StartSysInfo(); }
  bool GetKeyValue(const platform::RegistryKey& KeyRoot, const std::string& KeyName,
                   const std::string& SubKeyRef, std::string& KeyVal) {
    return m_launcher.GetKeyValue(KeyRoot, KeyName, SubKeyRef, KeyVal);
  }

 protected:
  void BuildControls(ui::FormLayout& layout) override;
  void OnLoad() override;

 private:
  struct DesktopServices;
  AboutForm(ui::FormServices services, std::unique_ptr<DesktopServices> desktop);

  void on_cmdOK_clicked();
  void on_cmdSysInfo_clicked();

  std::unique_ptr<DesktopServices> m_desktop;  // only when the form made its own
  SysInfoLauncher m_launcher;
};

}  // namespace ticklark::about
