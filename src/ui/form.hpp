// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <glibmm/main.h>

#include "ui/window_definition.hpp"

namespace Gtk {
class Window;
class Widget;
}  // namespace Gtk

namespace ticklark::platform {
class WindowPlacement;
}

namespace ticklark::ui {

class Form;
class FormLayout;

// The windows that are loaded, in the order they were loaded.
class LoadedWindows {
 public:
  int Count() const { return static_cast<int>(m_forms.size()); }
  Form& At(int index) const { return *m_forms.at(static_cast<std::size_t>(index)); }
  bool Contains(const Form& form) const;

 private:
  friend class Form;
  void Add(Form& form);
  void Remove(Form& form);
  std::vector<Form*> m_forms;
};

// What every window needs from the program around it.
struct FormServices {
  LoadedWindows& loaded;
  platform::WindowPlacement& placement;
};

// One window type. The object lives for the whole run; its window and controls
// exist only while it is loaded. Loading builds the controls from the window's
// definition, then runs OnLoad; unloading destroys them (pages, histories and
// all), while fields of the derived class outlive it.
class Form {
 public:
  Form(FormServices services, const WindowDef& definition);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const WindowDef& Definition() const { return m_definition; }
  bool IsLoaded() const { return m_window != nullptr; }
  // The window while loaded, else nullptr.
  Gtk::Window* Window() const { return m_window.get(); }
  // A built control by name and array index, or nullptr.
  Gtk::Widget* Control(std::string_view name, int index = -1) const;

  // Builds the window and its controls and runs OnLoad; does nothing if loaded.
  void Load();
  // Destroys the window and its controls; does nothing if not loaded.
  void Unload();
  // Loads if needed and shows the window modeless, without an owner.
  void Show();
  // Loads if needed and shows the window modal over |owner|; returns only when
  // the window has been hidden or unloaded.
  void ShowModal(Form& owner);
  void Hide();
  bool IsVisible() const;
  bool IsShownModal() const { return m_modalLoop != nullptr; }

 protected:
  // The toplevel to build into; the main window wants an application window.
  virtual std::unique_ptr<Gtk::Window> CreateWindow();
  // Puts the window's own controls (those the generic builder does not make,
  // such as web panes) into |layout|, and connects handlers.
  virtual void BuildControls(FormLayout& layout) = 0;
  // What the window shows as its child: the client area by default.
  virtual Gtk::Widget& WrapClientArea(Gtk::Widget& clientArea);
  // The window's Load handler.
  virtual void OnLoad() {}
  // Runs before the controls are destroyed.
  virtual void OnUnload() {}
  // The window's close control was used; unloads by default.
  virtual void OnCloseRequested() { Unload(); }
  // True for a window that sets its own position at load (the main window).
  virtual bool PlacesItself() const { return false; }

  FormServices& Services() { return m_services; }
  FormLayout& Layout() { return *m_layout; }

 private:
  void PlaceOnScreen(Form* owner);
  void EndModal();

  FormServices m_services;
  const WindowDef& m_definition;
  std::unique_ptr<Gtk::Window> m_window;
  std::unique_ptr<FormLayout> m_layout;
  Glib::RefPtr<Glib::MainLoop> m_modalLoop;
  std::vector<sigc::connection> m_connections;
};

// Destroys the windows of forms unloaded since the main loop last went idle.
// The program calls it once more before it ends.
void DestroyUnloadedWindows();

// How long PaintNow waits at most for the window to be drawn.
inline constexpr unsigned kPaintDeadlineMilliseconds = 2000;

// Returns once the shown |window| has been drawn and the display server has
// the pixels, or after kPaintDeadlineMilliseconds: a window shown before the
// user-interface thread blocks.
void PaintNow(Gtk::Window& window);

}  // namespace ticklark::ui
