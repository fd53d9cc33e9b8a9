// SPDX-License-Identifier: MIT
#include "calc/calc_form.hpp"

#include <exception>
#include <string>

#include <gdk/gdkkeysyms.h>
#include <gdkmm/display.h>
#include <glib.h>
#include <gtkmm/button.h>
#include <gtkmm/cssprovider.h>
#include <gtkmm/eventcontrollerkey.h>
#include <gtkmm/label.h>
#include <gtkmm/stylecontext.h>
#include <gtkmm/window.h>

#include "platform/beep.hpp"
#include "ui/definitions.hpp"
#include "ui/form_layout.hpp"
#include "ui/twips.hpp"

namespace ticklark::calc {

namespace {

// The calculator's own look on top of the program's style: compact buttons (no
// padding, or "Backspace" would not fit its button) and a display with room
// between its border and the text.
constexpr const char* kCalcStyle = R"css(
window.tl-calc button.tl-button { padding: 0; border-radius: 3px; }
window.tl-calc label.tl-calc-output { padding: 0 5px; }
)css";

void InstallCalcStyle() {
  auto display = Gdk::Display::get_default();
  if (!display) {
    return;
  }
  static constexpr const char* kInstalledKey = "ticklark-calc-style";
  if (display->get_data(kInstalledKey)) {
    return;
  }
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data(kCalcStyle);
  Gtk::StyleContext::add_provider_for_display(display, provider,
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
  // The display holds the provider from now on; the mark keeps a second
  // calculator window from adding it again.
  display->set_data(kInstalledKey, GINT_TO_POINTER(1));
}

// The name a screen reader gives a control; the toolkit reports each change.
void SpeakAs(Gtk::Widget& widget, const std::string& name) {
  gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 name.c_str(), -1);
}

// The memory indicator shows a letter or nothing; a screen reader says what
// either means.
std::string MemorySpoken(const std::string& indicator) {
  return indicator.empty() ? "Memory empty" : "Memory holds a value";
}

Pango::AttrList ScaledBy(double scale) {
  Pango::AttrList attributes;
  if (scale < 1.0) {
    auto attribute = Pango::Attribute::create_attr_scale(scale);
    attributes.insert(attribute);
  }
  return attributes;
}

void Connect(Gtk::Button* button, const sigc::slot<void()>& handler) {
  if (button) {
    // A click leaves the focus on the button, so that Enter repeats it.
    button->set_focus_on_click(true);
    button->signal_clicked().connect(handler);
  }
}

}  // namespace

CalcForm::CalcForm(ui::FormServices services, platform::Beeper& beeper)
    : ui::Form(services, ui::CalcWindowDef()), m_beeper(beeper) {}

CalcForm::~CalcForm() = default;

void CalcForm::BuildControls(ui::FormLayout& layout) {
  InstallCalcStyle();
  Window()->add_css_class("tl-calc");

  lblOutput = layout.Label("lblOutput");
  lblMem = layout.Label("lblMem");
  btnFocusEqual = layout.Button("btnFocusEqual");
  if (btnFocusEqual) {
    // Its caption is wider than the button; nobody sees it, and it must not
    // make the button grow.
    if (auto* caption = dynamic_cast<Gtk::Label*>(btnFocusEqual->get_child())) {
      caption->set_ellipsize(Pango::EllipsizeMode::END);
    }
  }
  if (btnFocusEqual) {
    // What holds the focus is heard by what it does.
    SpeakAs(*btnFocusEqual, "=");
  }
  if (lblOutput) {
    // Heard by its text, which the toolkit reports on every change.
    gtk_accessible_update_property(GTK_ACCESSIBLE(lblOutput->gobj()),
                                   GTK_ACCESSIBLE_PROPERTY_DESCRIPTION, "Display", -1);
    lblOutput->add_css_class("tl-calc-output");
    lblOutput->set_yalign(0.5f);
    lblOutput->set_wrap(false);
    lblOutput->set_single_line_mode(true);
  }
  if (lblMem) {
    lblMem->set_yalign(0.5f);
    SpeakAs(*lblMem, MemorySpoken(lblMem->get_text()));
  }

  for (int digit = 0; digit <= 9; ++digit) {
    Connect(layout.Button("cmdNum", digit),
            sigc::bind(sigc::mem_fun(*this, &CalcForm::on_cmdNum_clicked), digit));
  }
  for (int op = kOpAdd; op <= kOpDivide; ++op) {
    Connect(layout.Button("cmdOP", op),
            sigc::bind(sigc::mem_fun(*this, &CalcForm::on_cmdOP_clicked), op));
  }
  for (int key = kMemClear; key <= kMemAdd; ++key) {
    Connect(layout.Button("cmdMEM", key),
            sigc::bind(sigc::mem_fun(*this, &CalcForm::on_cmdMEM_clicked), key));
  }
  Connect(layout.Button("cmdDot"), sigc::mem_fun(*this, &CalcForm::on_cmdDot_clicked));
  Connect(layout.Button("cmdBS"), sigc::mem_fun(*this, &CalcForm::on_cmdBS_clicked));
  Connect(layout.Button("cmdPlusMinus"), sigc::mem_fun(*this, &CalcForm::on_cmdPlusMinus_clicked));
  Connect(layout.Button("cmdCE"), sigc::mem_fun(*this, &CalcForm::on_cmdCE_clicked));
  Connect(layout.Button("cmdC"), sigc::mem_fun(*this, &CalcForm::on_cmdC_clicked));
  Connect(layout.Button("cmdEqual"), sigc::mem_fun(*this, &CalcForm::on_cmdEqual_clicked));
  Connect(btnFocusEqual, sigc::mem_fun(*this, &CalcForm::on_cmdEqual_clicked));
  Connect(layout.Button("cmdPercent"), sigc::mem_fun(*this, &CalcForm::on_cmdPercent_clicked));
  Connect(layout.Button("cmdSQRT"), sigc::mem_fun(*this, &CalcForm::on_cmdSQRT_clicked));
  Connect(layout.Button("cmdOneDivideX"),
          sigc::mem_fun(*this, &CalcForm::on_cmdOneDivideX_clicked));

  // Key preview: the window's controller sees each key in the capture phase,
  // before the focused button, and lets it go on.
  auto keys = Gtk::EventControllerKey::create();
  keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  keys->signal_key_pressed().connect(sigc::mem_fun(*this, &CalcForm::on_frmCalc_key_pressed),
                                     false);
  Window()->add_controller(keys);

  if (btnFocusEqual) {
    Window()->set_default_widget(*btnFocusEqual);
  }
}

void CalcForm::OnLoad() {
  if (!m_engine) {
    m_engine.emplace(static_cast<CalculatorOutput&>(*this));
  }
  m_engine->OnWindowOpened();
  ShowState();
  if (btnFocusEqual) {
    btnFocusEqual->grab_focus();
  }
}

void CalcForm::OnUnload() {
  lblOutput = nullptr;
  lblMem = nullptr;
  btnFocusEqual = nullptr;
}

void CalcForm::Beep() {
  m_beeper.Beep();
}

void CalcForm::RequestFocus() {
  if (btnFocusEqual) {
    btnFocusEqual->grab_focus();
  }
}

template <typename Action>
void CalcForm::Perform(Action action) {
  if (!m_engine) {
    return;
  }
  try {
    action(*m_engine);
  } catch (const std::exception& error) {
    g_warning("calculator action failed: %s", error.what());
  } catch (...) {
    g_warning("calculator action failed");
  }
  ShowState();
}

void CalcForm::ShowState() {
  if (!m_engine) {
    return;
  }
  if (lblOutput && lblOutput->get_text().raw() != m_engine->DisplayText()) {
    lblOutput->set_text(m_engine->DisplayText());
    FitOutputText();
  }
  if (lblMem && lblMem->get_text().raw() != m_engine->MemoryIndicator()) {
    lblMem->set_text(m_engine->MemoryIndicator());
    SpeakAs(*lblMem, MemorySpoken(m_engine->MemoryIndicator()));
  }
}

void CalcForm::FitOutputText() {
  // The display is one line: a number or message too long for it at the
  // dialog font is drawn at the largest size at which it fits, whole.
  const ui::ControlDef& output = ui::GetControl(ui::CalcWindowDef(), "lblOutput");
  const auto style = lblOutput->get_style_context();
  const Gtk::Border border = style->get_border();
  const Gtk::Border padding = style->get_padding();
  const int room = ui::PixelsFromTwips(output.width) - border.get_left() - border.get_right() -
                   padding.get_left() - padding.get_right();
  auto layout = lblOutput->create_pango_layout(lblOutput->get_text());
  const auto fitsAt = [&layout, room](double scale) {
    Pango::AttrList attributes = ScaledBy(scale);
    layout->set_attributes(attributes);
    int width = 0;
    int height = 0;
    layout->get_pixel_size(width, height);
    return width <= room;
  };
  double scale = 1.0;
  if (room > 0 && !fitsAt(scale)) {
    double fits = 0.0;
    double tooLarge = 1.0;
    while (tooLarge - fits > 0.002) {
      const double middle = (fits + tooLarge) / 2;
      (fitsAt(middle) ? fits : tooLarge) = middle;
    }
    scale = fits;
  }
  Pango::AttrList attributes = ScaledBy(scale);
  lblOutput->set_attributes(attributes);
}

void CalcForm::on_cmdNum_clicked(int digit) {
  Perform([digit](CalculatorEngine& engine) { engine.cmdNum(digit); });
}

void CalcForm::on_cmdOP_clicked(int op) {
  Perform([op](CalculatorEngine& engine) { engine.cmdOP(op); });
}

void CalcForm::on_cmdMEM_clicked(int key) {
  Perform([key](CalculatorEngine& engine) { engine.cmdMEM(key); });
}

void CalcForm::on_cmdDot_clicked() {
  Perform([](CalculatorEngine& engine) { engine.cmdDot(); });
}

void CalcForm::on_cmdBS_clicked() {
  Perform([](CalculatorEngine& engine) { engine.cmdBS(); });
}

void CalcForm::on_cmdPlusMinus_clicked() {
  Perform([](CalculatorEngine& engine) { engine.cmdPlusMinus(); });
}

void CalcForm::on_cmdCE_clicked() {
  Perform([](CalculatorEngine& engine) { engine.cmdCE(); });
}

void CalcForm::on_cmdC_clicked() {
  Perform([](CalculatorEngine& engine) { engine.cmdC(); });
}

void CalcForm::on_cmdEqual_clicked() {
  Perform([](CalculatorEngine& engine) { engine.cmdEqual(); });
}

void CalcForm::on_cmdPercent_clicked() {
  Perform([](CalculatorEngine& engine) { engine.cmdPercent(); });
}

void CalcForm::on_cmdSQRT_clicked() {
  Perform([](CalculatorEngine& engine) { engine.cmdSQRT(); });
}

void CalcForm::on_cmdOneDivideX_clicked() {
  Perform([](CalculatorEngine& engine) { engine.cmdOneDivideX(); });
}

bool CalcForm::on_frmCalc_key_pressed(guint keyval, guint, Gdk::ModifierType state) {
  // Keys that act wherever the focus is, with any modifier.
  switch (keyval) {
    case GDK_KEY_BackSpace:
      on_cmdBS_clicked();
      return false;
    case GDK_KEY_Escape:
      on_cmdC_clicked();
      return false;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete:
      on_cmdCE_clicked();
      return false;
    default:
      break;
  }
  // Characters: a key held with Ctrl or Alt types none.
  if ((state & (Gdk::ModifierType::CONTROL_MASK | Gdk::ModifierType::ALT_MASK)) !=
      Gdk::ModifierType{}) {
    return false;
  }
  // The keypad's keys type the same characters as the main keyboard's.
  const gunichar character = gdk_keyval_to_unicode(keyval);
  if (character >= '0' && character <= '9') {
    on_cmdNum_clicked(static_cast<int>(character - '0'));
    return false;
  }
  switch (character) {
    case '+':
      on_cmdOP_clicked(kOpAdd);
      break;
    case '-':
      on_cmdOP_clicked(kOpSubtract);
      break;
    case '*':
      on_cmdOP_clicked(kOpMultiply);
      break;
    case '/':
      on_cmdOP_clicked(kOpDivide);
      break;
    case '.':
      on_cmdDot_clicked();
      break;
    case '%':
      on_cmdPercent_clicked();
      break;
    default:
      break;
  }
  return false;
}

}  // namespace ticklark::calc
