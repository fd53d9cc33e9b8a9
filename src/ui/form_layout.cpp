// SPDX-License-Identifier: MIT
#include "ui/form_layout.hpp"

#include <algorithm>
#include <cstdio>

#include <gdkmm/texture.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/picture.h>

#include <gtk/gtk.h>

#include "ui/assets.hpp"
#include "ui/definitions.hpp"
#include "ui/twips.hpp"

namespace ticklark::ui {

namespace {

std::string ColourClass(const char* prefix, std::uint32_t colour) {
  char text[16];
  std::snprintf(text, sizeof text, "%s%06x", prefix, colour & 0xFFFFFFu);
  return text;
}

void ApplyLook(Gtk::Widget& widget, const Look& look) {
  if (look.background != kDefaultColour) {
    widget.add_css_class(ColourClass("tl-bg-", look.background));
  }
  if (look.foreground != kDefaultColour) {
    widget.add_css_class(ColourClass("tl-fg-", look.foreground));
  }
  if (look.border) {
    widget.add_css_class("tl-border");
  }
}

Gtk::Widget* FirstFocusableWithin(Gtk::Widget& widget) {
  for (Gtk::Widget* child = widget.get_first_child(); child; child = child->get_next_sibling()) {
    if (child->get_focusable()) {
      return child;
    }
    if (Gtk::Widget* inner = FirstFocusableWithin(*child)) {
      return inner;
    }
  }
  return nullptr;
}

// Gives a control that shows no text a name for screen readers.
void GiveSpokenName(const ControlDef& control, Gtk::Widget& widget) {
  const std::string spoken(SpokenName(control));
  if (spoken.empty()) {
    return;
  }
  // A picture box is heard through its picture, not the box around it.
  Gtk::Widget* named = &widget;
  if (control.kind == ControlKind::kPictureBox && widget.get_first_child()) {
    named = widget.get_first_child();
  }
  gtk_accessible_update_property(GTK_ACCESSIBLE(named->gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 spoken.c_str(), -1);
  if (control.kind == ControlKind::kWebBrowser) {
    // The pane's page view is what takes the focus, and what GTK 4.18 with
    // WebKitGTK 2.52 shows to a screen reader (as a text); GTK 4.18 no longer
    // names the pane's plain container around it.
    if (Gtk::Widget* view = FirstFocusableWithin(widget)) {
      gtk_accessible_update_property(GTK_ACCESSIBLE(view->gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                     spoken.c_str(), -1);
    }
  }
  if (control.kind == ControlKind::kPictureButton) {
    // GTK 4.8 describes a control by its tooltip; GTK 4.18 no longer does
    // when the tooltip repeats the name, so the description is given too.
    widget.set_tooltip_text(spoken);
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()),
                                   GTK_ACCESSIBLE_PROPERTY_DESCRIPTION, spoken.c_str(), -1);
  }
}

// One of the designed pictures at its designed size, drawn from the sharper
// picture on a dense screen and on a clear ground where the theme colours the
// face behind it.
class DesignPicture : public Gtk::Picture {
 public:
  explicit DesignPicture(ui::Picture picture) : m_shown(picture) {
    set_can_shrink(false);
    property_scale_factor().signal_changed().connect([this] { Show(m_shown); });
    m_styleChanged = SignalStyleChanged().connect([this] { Show(m_shown); });
    Show(picture);
  }
  ~DesignPicture() override { m_styleChanged.disconnect(); }
  DesignPicture(const DesignPicture&) = delete;
  DesignPicture& operator=(const DesignPicture&) = delete;

  void Show(ui::Picture picture) {
    m_shown = picture;
    auto paintable = PictureFor(picture, get_scale_factor(), ThemeIsDark());
    if (get_paintable() != paintable) {
      set_paintable(paintable);
    }
  }

 private:
  ui::Picture m_shown;
  sigc::connection m_styleChanged;
};

// A button in picture style: no caption, a face colour, its picture centred,
// and a second picture while it is held down.
class PictureButton : public Gtk::Button {
 public:
  PictureButton(Picture up, Picture down)
      : m_up(up), m_down(down != Picture::kNone ? down : up), m_picture(up) {
    m_picture.set_halign(Gtk::Align::CENTER);
    m_picture.set_valign(Gtk::Align::CENTER);
    set_child(m_picture);
    // The button is heard by its name; its picture says nothing more.
    gtk_accessible_update_state(GTK_ACCESSIBLE(m_picture.gobj()), GTK_ACCESSIBLE_STATE_HIDDEN, TRUE,
                                -1);
    add_css_class("tl-picture-button");
    signal_state_flags_changed().connect([this](Gtk::StateFlags) {
      const bool held = (get_state_flags() & Gtk::StateFlags::ACTIVE) == Gtk::StateFlags::ACTIVE;
      m_picture.Show(held ? m_down : m_up);
    });
  }

 private:
  Picture m_up;
  Picture m_down;
  DesignPicture m_picture;
};

// A box that shows a picture at its natural size in its top-left corner, over
// the box's own background.
Gtk::Widget* MakePictureBox(const ControlDef& control) {
  auto* box = Gtk::make_managed<Gtk::Box>();
  if (control.look.picture != Picture::kNone) {
    auto* picture = Gtk::make_managed<DesignPicture>(control.look.picture);
    picture->set_halign(Gtk::Align::START);
    picture->set_valign(Gtk::Align::START);
    box->append(*picture);
  }
  return box;
}

Gtk::Widget* MakeLine(const ControlDef& control) {
  // A box that reads as a separator: its role is fixed when it is made.
  auto* line = Gtk::manage(Glib::wrap(GTK_BOX(
      g_object_new(GTK_TYPE_BOX, "accessible-role", GTK_ACCESSIBLE_ROLE_SEPARATOR, nullptr))));
  line->add_css_class("tl-line");
  line->add_css_class(ColourClass("tl-bg-", control.look.background));
  line->set_can_target(false);
  return line;
}

}  // namespace

// GTK moves the focus among a container's children by their places on the
// screen; the designed tab order is another. This fixed layout moves it through
// its children in the order of the list it is given.
class TabOrderedFixed : public Gtk::Fixed {
 public:
  TabOrderedFixed() : Glib::ObjectBase("TicklarkTabOrderedFixed") {
    // The class is ours alone (gtkmm makes one for this subclass).
    auto* klass = GTK_WIDGET_GET_CLASS(gobj());
    if (klass->focus != &Focus) {
      s_defaultFocus = klass->focus;
      klass->focus = &Focus;
    }
  }

  std::vector<Gtk::Widget*> order;  // the children, in tab order

 private:
  static gboolean Focus(GtkWidget* widget, GtkDirectionType direction) {
    auto* self = dynamic_cast<TabOrderedFixed*>(Glib::wrap(widget));
    const bool forward = direction == GTK_DIR_TAB_FORWARD;
    if (!self || (!forward && direction != GTK_DIR_TAB_BACKWARD)) {
      return s_defaultFocus(widget, direction);
    }
    std::vector<GtkWidget*> children;
    for (Gtk::Widget* child : self->order) {
      children.push_back(child->gobj());
    }
    if (!forward) {
      std::reverse(children.begin(), children.end());
    }
    std::size_t next = 0;
    if (GtkWidget* current = gtk_widget_get_focus_child(widget)) {
      // Let the child holding the focus move it within itself first.
      if (gtk_widget_child_focus(current, direction)) {
        return TRUE;
      }
      const auto at = std::find(children.begin(), children.end(), current);
      next = at == children.end() ? children.size()
                                  : static_cast<std::size_t>(at - children.begin()) + 1;
    }
    for (; next < children.size(); ++next) {
      if (gtk_widget_get_visible(children[next]) &&
          gtk_widget_child_focus(children[next], direction)) {
        return TRUE;
      }
    }
    return FALSE;
  }

  static inline gboolean (*s_defaultFocus)(GtkWidget*, GtkDirectionType) = nullptr;
};

std::string MnemonicFromCaption(std::string_view caption) {
  std::string text;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    const char c = caption[i];
    if (c == '_') {
      text += "__";
    } else if (c == '&' && i + 1 < caption.size()) {
      text += '_';
    } else {
      text += c;
    }
  }
  return text;
}

FormLayout::FormLayout(const WindowDef& definition)
    : m_definition(definition),
      m_client(Gtk::make_managed<ControlSlot>(PixelsFromTwips(definition.clientWidth),
                                              PixelsFromTwips(definition.clientHeight),
                                              ControlSlot::Minimum::kNone)),
      m_fixed(Gtk::make_managed<TabOrderedFixed>()) {
  m_client->add_css_class("tl-client");
  m_client->SetChild(*m_fixed);
}

FormLayout::~FormLayout() = default;

void FormLayout::BuildStandardControls() {
  for (const ControlDef& control : m_definition.controls) {
    if (Gtk::Widget* widget = MakeStandardControl(control)) {
      Place(control, *widget);
    }
  }
}

Gtk::Widget* FormLayout::MakeStandardControl(const ControlDef& control) {
  Gtk::Widget* widget = nullptr;
  switch (control.kind) {
    case ControlKind::kCommandButton: {
      auto* button = Gtk::make_managed<Gtk::Button>();
      if (control.caption.find('&') != std::string_view::npos) {
        button->set_label(MnemonicFromCaption(control.caption));
        button->set_use_underline(true);
        // The toolkit names such a button twice, once with the underscore;
        // the caption it shows, which labels the button, is name enough.
        gtk_accessible_reset_property(GTK_ACCESSIBLE(button->gobj()),
                                      GTK_ACCESSIBLE_PROPERTY_LABEL);
      } else {
        button->set_label(std::string(control.caption));
      }
      button->add_css_class("tl-button");
      widget = button;
      break;
    }
    case ControlKind::kPictureButton:
      widget = Gtk::make_managed<PictureButton>(control.look.picture, control.look.pressedPicture);
      break;
    case ControlKind::kLabel: {
      auto* label = Gtk::make_managed<Gtk::Label>(std::string(control.caption));
      label->set_wrap(true);
      label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
      label->set_xalign(control.look.align == TextAlign::kLeft    ? 0.0f
                        : control.look.align == TextAlign::kRight ? 1.0f
                                                                  : 0.5f);
      label->set_yalign(0.0f);
      label->set_justify(control.look.align == TextAlign::kRight    ? Gtk::Justification::RIGHT
                         : control.look.align == TextAlign::kCenter ? Gtk::Justification::CENTER
                                                                    : Gtk::Justification::LEFT);
      label->add_css_class("tl-label");
      widget = label;
      break;
    }
    case ControlKind::kLine:
      widget = MakeLine(control);
      break;
    case ControlKind::kPictureBox:
      widget = MakePictureBox(control);
      break;
    case ControlKind::kWebBrowser:
    case ControlKind::kStatusBar:
      return nullptr;
  }
  ApplyLook(*widget, control.look);
  return widget;
}

void FormLayout::Place(const ControlDef& control, Gtk::Widget& widget) {
  int x = PixelsFromTwips(control.left);
  int y = PixelsFromTwips(control.top);
  int width = PixelsFromTwips(control.width);
  int height = PixelsFromTwips(control.height);
  if (control.kind == ControlKind::kLine) {
    // A horizontal or vertical line as wide as its pen.
    width = std::max(width, control.look.lineWidthPx);
    height = std::max(height, control.look.lineWidthPx);
  }
  // Labels may draw past their bottom edge rather than lose the lower part of
  // a line of text; everything else is cut at its designed size.
  auto* slot = Gtk::make_managed<ControlSlot>(width, height, ControlSlot::Minimum::kDesigned,
                                              control.kind != ControlKind::kLabel);
  slot->SetChild(widget);
  m_fixed->put(*slot, x, y);
  GiveSpokenName(control, widget);

  // Keep the children in tab order: Tab moves the focus in child order.
  const int tab = control.tabIndex < 0 ? 1 << 30 : control.tabIndex;
  auto before = std::find_if(m_placed.begin(), m_placed.end(), [tab](const Placed& placed) {
    const int other = placed.control->tabIndex < 0 ? 1 << 30 : placed.control->tabIndex;
    return other > tab;
  });
  if (before != m_placed.end()) {
    slot->insert_before(*m_fixed, *before->slot);
  }
  m_placed.insert(before, Placed{&control, slot});
  UpdateTabOrder();
}

void FormLayout::Remove(Gtk::Widget& widget) {
  const auto at = std::find_if(m_placed.begin(), m_placed.end(), [&widget](const Placed& placed) {
    return placed.slot->Child() == &widget;
  });
  if (at == m_placed.end()) {
    return;
  }
  ControlSlot* slot = at->slot;
  m_placed.erase(at);
  UpdateTabOrder();
  slot->UnsetChild();
  m_fixed->remove(*slot);  // the last reference: the slot goes
}

void FormLayout::UpdateTabOrder() {
  m_fixed->order.clear();
  for (const Placed& placed : m_placed) {
    m_fixed->order.push_back(placed.slot);
  }
}

Gtk::Widget* FormLayout::Control(std::string_view name, int index) const {
  for (const Placed& placed : m_placed) {
    if (placed.control->name == name && placed.control->index == index) {
      return placed.slot->Child();
    }
  }
  return nullptr;
}

Gtk::Button* FormLayout::Button(std::string_view name, int index) const {
  return dynamic_cast<Gtk::Button*>(Control(name, index));
}

Gtk::Label* FormLayout::Label(std::string_view name, int index) const {
  return dynamic_cast<Gtk::Label*>(Control(name, index));
}

namespace {

// A web pane takes the focus through the view inside whatever holds it.
bool CanTakeFocus(const ControlDef& control, const Gtk::Widget* widget) {
  return widget && control.tabIndex >= 0 && widget->get_sensitive() && widget->get_visible() &&
         (widget->get_focusable() || control.kind == ControlKind::kWebBrowser);
}

// The widget itself, or the first focusable one inside it (a pane's view).
Gtk::Widget* FirstFocusableIn(Gtk::Widget& widget) {
  if (widget.get_focusable()) {
    return &widget;
  }
  for (Gtk::Widget* child = widget.get_first_child(); child; child = child->get_next_sibling()) {
    if (Gtk::Widget* found = child->get_visible() ? FirstFocusableIn(*child) : nullptr) {
      return found;
    }
  }
  return nullptr;
}

}  // namespace

Gtk::Widget* FormLayout::FirstInTabOrder() const {
  for (const Placed& placed : m_placed) {
    if (Gtk::Widget* widget = placed.slot->Child(); CanTakeFocus(*placed.control, widget)) {
      return widget;
    }
  }
  return nullptr;
}

void FormLayout::FocusFirst() {
  for (const Placed& placed : m_placed) {
    Gtk::Widget* widget = placed.slot->Child();
    if (!CanTakeFocus(*placed.control, widget)) {
      continue;
    }
    if (Gtk::Widget* target = FirstFocusableIn(*widget); target && target->grab_focus()) {
      return;
    }
  }
}

}  // namespace ticklark::ui
