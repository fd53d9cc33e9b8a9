// SPDX-License-Identifier: MIT
#pragma once

namespace ticklark::web {

// Asked before a pane loads an address, and again at every navigation to
// one: whether the address may be asked now. The program's own endpoint is
// looked after here: on a listener that it does not hold itself, the owner
// can change while the program runs.
class LoadGuard {
 public:
  virtual bool MayLoad(const char* address) = 0;

 protected:
  ~LoadGuard() = default;
};

}  // namespace ticklark::web
