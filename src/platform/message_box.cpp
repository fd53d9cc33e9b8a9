// SPDX-License-Identifier: MIT
#include "platform/message_box.hpp"

#include <gdk/gdkkeysyms.h>
#include <glibmm/main.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/shortcutcontroller.h>
#include <gtkmm/window.h>

#include "platform/window_placement.hpp"
#include "ticklark/version.hpp"

namespace ticklark::platform {

namespace {

constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 26;
constexpr int kMargin = 16;

}  // namespace

GtkMessageBox::GtkMessageBox(WindowPlacement& placement, OwnerSource owner)
    : m_placement(placement), m_owner(std::move(owner)) {}

void GtkMessageBox::Show(const std::string& text) {
  Gtk::Window window;
  window.set_title(kAppTitle);
  window.set_modal(true);
  window.set_resizable(false);
  window.add_css_class("tl-message-box");

  Gtk::Box content(Gtk::Orientation::VERTICAL, kMargin);
  content.set_margin(kMargin);
  content.set_margin_start(2 * kMargin);
  content.set_margin_end(2 * kMargin);
  Gtk::Label label(text);
  label.set_wrap(true);
  label.set_max_width_chars(60);
  label.set_xalign(0.0f);
  Gtk::Button ok("OK");
  ok.set_size_request(kButtonWidth, kButtonHeight);
  ok.set_halign(Gtk::Align::CENTER);
  content.append(label);
  content.append(ok);
  window.set_child(content);
  window.set_default_widget(ok);
  ok.grab_focus();

  auto loop = Glib::MainLoop::create();
  const auto finish = [&window] { window.set_visible(false); };
  ok.signal_clicked().connect(finish);
  window.signal_close_request().connect(
      [finish] {
        finish();
        return true;
      },
      false);
  window.signal_hide().connect([&loop] { loop->quit(); });
  auto escape = Gtk::ShortcutController::create();
  escape->add_shortcut(Gtk::Shortcut::create(
      Gtk::KeyvalTrigger::create(GDK_KEY_Escape),
      Gtk::CallbackAction::create([finish](Gtk::Widget&, const Glib::VariantBase&) {
        finish();
        return true;
      })));
  window.add_controller(escape);

  Gtk::Window* owner = m_owner ? m_owner() : nullptr;
  if (owner) {
    window.set_transient_for(*owner);
  }
  m_placement.SetSkipTaskbar(window, true);
  if (owner && owner->get_mapped()) {
    if (auto bounds = m_placement.OuterBounds(*owner)) {
      m_placement.CenterOn(window, *bounds);
    }
  }
  window.present();
  loop->run();
}

}  // namespace ticklark::platform
