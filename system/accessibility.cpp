#include "system/accessibility.h"

namespace lumivane {

bool checkAccessibility(platform::Accessibility& accessibility, bool prompt) {
  const platform::AXTrustedCheckOptions options{{platform::kAXTrustedCheckOptionPrompt, prompt}};
  return accessibility.AXIsProcessTrustedWithOptions(options);
}

}  // namespace lumivane
