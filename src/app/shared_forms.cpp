// SPDX-License-Identifier: MIT
#include "app/shared_forms.hpp"

namespace ticklark::app {

void SharedForms::SetFactory(SecondaryWindow window, Factory factory) {
  m_factories.at(static_cast<std::size_t>(window)) = std::move(factory);
}

ui::Form* SharedForms::Get(SecondaryWindow window) {
  const auto slot = static_cast<std::size_t>(window);
  if (!m_forms.at(slot) && m_factories.at(slot)) {
    m_forms.at(slot) = m_factories.at(slot)();
  }
  return m_forms.at(slot).get();
}

ui::Form* SharedForms::Existing(SecondaryWindow window) const {
  return m_forms.at(static_cast<std::size_t>(window)).get();
}

}  // namespace ticklark::app
