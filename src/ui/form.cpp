// SPDX-License-Identifier: MIT
#include "ui/form.hpp"

#include <algorithm>

#include <gdk/gdk.h>
#include <gtkmm/window.h>

#include "platform/gobject_ptr.hpp"
#include "platform/window_placement.hpp"
#include "ui/assets.hpp"
#include "ui/form_layout.hpp"
#include "ui/twips.hpp"

namespace ticklark::ui {

namespace {

// Windows that were unloaded from inside one of their own handlers are
// destroyed once that handler has returned.
struct Unloaded {
  std::unique_ptr<Gtk::Window> window;
  std::unique_ptr<FormLayout> layout;
};

std::vector<Unloaded>& Graveyard() {
  static std::vector<Unloaded> graveyard;
  return graveyard;
}

void BuryLater(Unloaded unloaded) {
  const bool first = Graveyard().empty();
  Graveyard().push_back(std::move(unloaded));
  if (first) {
    Glib::signal_idle().connect_once([] { DestroyUnloadedWindows(); }, Glib::PRIORITY_HIGH_IDLE);
  }
}

}  // namespace

void DestroyUnloadedWindows() {
  auto graveyard = std::move(Graveyard());
  Graveyard().clear();
  for (auto& unloaded : graveyard) {
    unloaded.window.reset();  // destroys the controls, then the layout's own
    unloaded.layout.reset();
  }
}

bool LoadedWindows::Contains(const Form& form) const {
  return std::find(m_forms.begin(), m_forms.end(), &form) != m_forms.end();
}

void LoadedWindows::Add(Form& form) {
  if (!Contains(form)) {
    m_forms.push_back(&form);
  }
}

void LoadedWindows::Remove(Form& form) {
  std::erase(m_forms, &form);
}

Form::Form(FormServices services, const WindowDef& definition)
    : m_services(services), m_definition(definition) {}

Form::~Form() {
  if (IsLoaded()) {
    m_services.loaded.Remove(*this);
    for (auto& connection : m_connections) {
      connection.disconnect();
    }
  }
}

Gtk::Widget* Form::Control(std::string_view name, int index) const {
  return m_layout ? m_layout->Control(name, index) : nullptr;
}

std::unique_ptr<Gtk::Window> Form::CreateWindow() {
  return std::make_unique<Gtk::Window>();
}

Gtk::Widget& Form::WrapClientArea(Gtk::Widget& clientArea) {
  return clientArea;
}

void Form::Load() {
  if (IsLoaded()) {
    return;
  }
  m_window = CreateWindow();
  Gtk::Window& window = *m_window;
  // Said outright: a window whose first focus is a button would otherwise be
  // described to screen readers as a plain widget, not a window.
  g_object_set(window.gobj(), "accessible-role", GTK_ACCESSIBLE_ROLE_WINDOW, nullptr);
  window.set_title(std::string(m_definition.caption));
  window.set_decorated(m_definition.frame != Frame::kNone);
  window.set_resizable(m_definition.frame == Frame::kSizable);
  window.set_deletable(m_definition.closeButton);
  if (m_definition.programIcon) {
    InstallProgramIcon();
    window.set_icon_name(kProgramIconName);
  }
  window.set_default_size(PixelsFromTwips(m_definition.clientWidth),
                          PixelsFromTwips(m_definition.clientHeight));

  m_layout = std::make_unique<FormLayout>(m_definition);
  m_layout->BuildStandardControls();
  BuildControls(*m_layout);
  window.set_child(WrapClientArea(m_layout->ClientArea()));
  m_layout->FocusFirst();

  m_connections.push_back(window.signal_close_request().connect(
      [this] {
        OnCloseRequested();
        return true;
      },
      false));
  m_connections.push_back(window.signal_hide().connect([this] { EndModal(); }));

  m_services.loaded.Add(*this);
  OnLoad();
}

void Form::Unload() {
  if (!IsLoaded()) {
    return;
  }
  OnUnload();
  m_services.loaded.Remove(*this);
  for (auto& connection : m_connections) {
    connection.disconnect();
  }
  m_connections.clear();
  m_window->set_visible(false);
  EndModal();
  BuryLater(Unloaded{std::move(m_window), std::move(m_layout)});
}

void Form::Show() {
  Load();
  if (!m_window->get_mapped()) {
    PlaceOnScreen(nullptr);
  }
  m_window->present();
}

void Form::ShowModal(Form& owner) {
  if (IsShownModal()) {
    return;
  }
  Load();
  if (owner.Window()) {
    m_window->set_transient_for(*owner.Window());
  }
  m_window->set_modal(true);
  if (!m_window->get_mapped()) {
    PlaceOnScreen(&owner);
  }
  m_window->present();

  // The caller stays here until the window is hidden or unloaded.
  auto loop = Glib::MainLoop::create();
  m_modalLoop = loop;
  loop->run();
  m_modalLoop.reset();
  if (IsLoaded()) {
    m_window->set_modal(false);
  }
}

void Form::Hide() {
  if (IsLoaded()) {
    m_window->set_visible(false);
  }
  EndModal();
}

bool Form::IsVisible() const {
  return IsLoaded() && m_window->get_visible();
}

void Form::EndModal() {
  if (m_modalLoop && m_modalLoop->is_running()) {
    m_modalLoop->quit();
  }
}

void Form::PlaceOnScreen(Form* owner) {
  Gtk::Window& window = *m_window;
  platform::WindowPlacement& placement = m_services.placement;
  if (!m_definition.taskbarButton) {
    placement.SetSkipTaskbar(window, true);
  }
  // The one window with no frame at all is the splash.
  if (m_definition.frame == Frame::kNone) {
    placement.MarkAsSplash(window);
  }
  placement.SetTitleBarButtons(window, m_definition.minimizeButton, m_definition.maximizeButton,
                               m_definition.closeButton);
  switch (m_definition.startPosition) {
    case StartPosition::kManual:
      if (!PlacesItself()) {
        placement.MoveClientTo(window, PixelsFromTwips(m_definition.clientOriginLeft),
                               PixelsFromTwips(m_definition.clientOriginTop));
      }
      break;
    case StartPosition::kCenterScreen: {
      if (const auto primary = placement.PrimaryMonitor()) {
        placement.CenterOn(window, *primary);
      }
      break;
    }
    case StartPosition::kCenterOwner:
      if (owner && owner->Window()) {
        if (auto bounds = placement.OuterBounds(*owner->Window())) {
          placement.CenterOn(window, *bounds);
        }
      }
      break;
    case StartPosition::kWindowSystem:
      break;
  }
}

void PaintNow(Gtk::Window& window) {
  // A main loop of its own runs until the window has been drawn once since it
  // was shown, or until the deadline: a window that is never mapped (a window
  // manager that does not answer) must not hold up the caller for good.
  GdkSurface* surface = window.get_surface() ? window.get_surface()->gobj() : nullptr;
  if (surface) {
    struct Wait {
      Gtk::Window& window;
      platform::CPtr<GMainLoop, g_main_loop_unref> loop;
      platform::SourceId deadline;
    } wait{
        window, platform::CPtr<GMainLoop, g_main_loop_unref>(g_main_loop_new(nullptr, FALSE)), {}};
    platform::SignalHandlers painted(gdk_surface_get_frame_clock(surface));
    painted.Connect("after-paint", G_CALLBACK(+[](GdkFrameClock*, Wait* waiting) {
                      if (waiting->window.get_mapped()) {
                        g_main_loop_quit(waiting->loop.get());
                      }
                    }),
                    &wait);
    wait.deadline.Reset(g_timeout_add(
        kPaintDeadlineMilliseconds,
        [](gpointer data) {
          auto* waiting = static_cast<Wait*>(data);
          waiting->deadline.Forget();
          g_main_loop_quit(waiting->loop.get());
          return G_SOURCE_REMOVE;
        },
        &wait));
    window.queue_draw();
    g_main_loop_run(wait.loop.get());
  }
  if (GdkDisplay* display = gdk_display_get_default()) {
    gdk_display_sync(display);
  }
}

}  // namespace ticklark::ui
