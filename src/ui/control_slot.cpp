// SPDX-License-Identifier: MIT
#include "ui/control_slot.hpp"

#include <algorithm>

namespace ticklark::ui {

ControlSlot::ControlSlot(int width, int height, Minimum minimum, bool clip)
    : Glib::ObjectBase("TicklarkControlSlot"),
      m_width(width),
      m_height(height),
      m_minimum(minimum) {
  // Our own measure and allocate, not the box's; the box takes care of
  // releasing the child when the slot goes.
  set_layout_manager({});
  set_overflow(clip ? Gtk::Overflow::HIDDEN : Gtk::Overflow::VISIBLE);
}

// The box releases the child when the slot goes with its window.
ControlSlot::~ControlSlot() = default;

void ControlSlot::SetChild(Gtk::Widget& child) {
  UnsetChild();
  append(child);
}

void ControlSlot::UnsetChild() {
  if (Gtk::Widget* child = Child()) {
    remove(*child);
  }
}

Gtk::SizeRequestMode ControlSlot::get_request_mode_vfunc() const {
  return Gtk::SizeRequestMode::CONSTANT_SIZE;
}

void ControlSlot::measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural,
                                int& minimum_baseline, int& natural_baseline) const {
  natural = orientation == Gtk::Orientation::HORIZONTAL ? m_width : m_height;
  minimum = m_minimum == Minimum::kNone ? 0 : natural;
  minimum_baseline = -1;
  natural_baseline = -1;
}

void ControlSlot::size_allocate_vfunc(int, int, int) {
  Gtk::Widget* child = Child();
  if (!child || !child->get_visible()) {
    return;
  }
  // The child gets its designed size; only a child that cannot be that small
  // gets its minimum instead (and is clipped like everything else).
  int minWidth = 0;
  int natWidth = 0;
  int minHeight = 0;
  int natHeight = 0;
  int ignored = 0;
  child->measure(Gtk::Orientation::HORIZONTAL, -1, minWidth, natWidth, ignored, ignored);
  const int width = std::max(m_width, minWidth);
  child->measure(Gtk::Orientation::VERTICAL, width, minHeight, natHeight, ignored, ignored);
  const int height = std::max(m_height, minHeight);
  child->size_allocate(Gtk::Allocation(0, 0, width, height), -1);
}

}  // namespace ticklark::ui
