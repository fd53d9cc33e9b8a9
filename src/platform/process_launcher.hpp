// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace ticklark::platform {

// Starts other programs.
class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;

  // Starts the program file at |path| as a process of its own, with no
  // arguments. |path| is the program, whole: no shell sees it and nothing
  // splits it at spaces. Returns once the program has been started, without
  // waiting for it and without keeping any hold on it; false when it could not
  // be started.
  virtual bool Start(const std::string& path) = 0;
};

// Over GLib's spawning: the new process is handed to init at once, so that it
// never lingers as a zombie child of ours; its standard input is /dev/null and
// it inherits no descriptor beyond the standard three.
class SpawnProcessLauncher final : public ProcessLauncher {
 public:
  bool Start(const std::string& path) override;
};

}  // namespace ticklark::platform
