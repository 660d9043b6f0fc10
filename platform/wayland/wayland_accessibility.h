#pragma once

#include <string>

#include "platform/accessibility_trust.h"
#include "platform/gtk/trust_prompt.h"

namespace lumivane::platform::wayland {

// Whether the host may copy from and paste into other applications on
// Wayland: whether the compositor offers the protocols that let a client do
// what Wayland otherwise keeps from it, data-control (the clipboard without a
// window in front) and the virtual keyboard (keys for other windows).
// Compositors decide that once, for every client; the answer is fixed when
// this object is made. Made on the main thread; asked on any.
class WaylandAccessibility final : public Accessibility {
 public:
  static constexpr const char* kPromptTitle = "Lumivane cannot reach other applications here";

  // What the compositor offers. The prompt appears on GDK's default display.
  WaylandAccessibility(bool offersDataControl, bool offersVirtualKeyboard);

  // With the prompt option and a protocol missing, a message dialog says
  // which, on the main loop's next turn; once for this object.
  bool AXIsProcessTrustedWithOptions(const AXTrustedCheckOptions& options) override;

  // What the prompt says: which protocols are missing, and what to do.
  static std::string promptText(bool offersDataControl, bool offersVirtualKeyboard);

 private:
  const bool trusted_;
  gtk::TrustPrompt prompt_;
};

}  // namespace lumivane::platform::wayland
