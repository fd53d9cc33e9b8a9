// SPDX-License-Identifier: MIT
#pragma once

namespace ticklark::platform {

// The desktop's default warning sound.
class Beeper {
 public:
  virtual ~Beeper() = default;
  virtual void Beep() = 0;
};

// Beeps through the default GDK display.
class DisplayBeeper : public Beeper {
 public:
  void Beep() override;
};

}  // namespace ticklark::platform
