// SPDX-License-Identifier: MIT
#pragma once

#include <gtkmm/box.h>

namespace ticklark::ui {

// Holds one child at a fixed size, whatever the child would like; the child
// keeps its designed size and is clipped at the slot's edge, not shrunk. The
// client area of every window sits in one that asks its parent for no minimum,
// so that a window can be made smaller than its layout; each control sits in
// one of its designed size.
class ControlSlot : public Gtk::Box {
 public:
  enum class Minimum { kNone, kDesigned };

  ControlSlot(int width, int height, Minimum minimum, bool clip = true);
  ~ControlSlot() override;

  // The slot is the one that puts its child in and takes it out again.
  void SetChild(Gtk::Widget& child);
  void UnsetChild();
  // The child in the slot now, if any. Read from the widget tree each time, so
  // that a child that left by any way is never pointed at.
  Gtk::Widget* Child() { return get_first_child(); }
  int SlotWidth() const { return m_width; }
  int SlotHeight() const { return m_height; }

 protected:
  Gtk::SizeRequestMode get_request_mode_vfunc() const override;
  void measure_vfunc(Gtk::Orientation orientation, int for_size, int& minimum, int& natural,
                     int& minimum_baseline, int& natural_baseline) const override;
  void size_allocate_vfunc(int width, int height, int baseline) override;

 private:
  int m_width;
  int m_height;
  Minimum m_minimum;
};

}  // namespace ticklark::ui
