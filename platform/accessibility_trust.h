#pragma once

#include <map>
#include <string>

namespace lumivane::platform {

// The options key that asks the platform to prompt the user when untrusted.
inline constexpr const char* kAXTrustedCheckOptionPrompt = "AXTrustedCheckOptionPrompt";

// The options dictionary of a trust query.
using AXTrustedCheckOptions = std::map<std::string, bool>;

// The Accessibility permission (Application Services). Any thread.
class Accessibility {
 public:
  virtual ~Accessibility() = default;
  // Whether this process may post events to and control other applications,
  // asked anew every time. With the prompt option true and the process
  // untrusted, the platform shows its own prompt (once per process) and still
  // answers false.
  virtual bool AXIsProcessTrustedWithOptions(const AXTrustedCheckOptions& options) = 0;
};

}  // namespace lumivane::platform
