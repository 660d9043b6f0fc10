#pragma once

#include <string>

namespace lumivane::platform {

// The process's standard output. Main thread.
class StandardOutput {
 public:
  virtual ~StandardOutput() = default;
  // Writes `text` as it stands; the caller supplies any line break.
  virtual void write(const std::string& text) = 0;
};

}  // namespace lumivane::platform
