#include "platform/wayland/wayland_accessibility.h"

namespace lumivane::platform::wayland {

WaylandAccessibility::WaylandAccessibility(bool offersDataControl, bool offersVirtualKeyboard)
    : trusted_(offersDataControl && offersVirtualKeyboard),
      prompt_(nullptr, kPromptTitle, promptText(offersDataControl, offersVirtualKeyboard)) {}

std::string WaylandAccessibility::promptText(bool offersDataControl, bool offersVirtualKeyboard) {
  std::string missing;
  if (!offersDataControl)
    missing = "data-control (the clipboard of other applications)";
  if (!offersVirtualKeyboard) {
    missing += std::string(missing.empty() ? "" : " and ") +
               "the virtual keyboard (keys for other applications)";
  }
  return "This Wayland compositor does not offer " + missing +
         ". Copying the selection and pasting results will not work here; applications that run "
         "through XWayland can be reached with lumivane --desktop x11.";
}

bool WaylandAccessibility::AXIsProcessTrustedWithOptions(const AXTrustedCheckOptions& options) {
  if (trusted_)
    return true;
  auto it = options.find(kAXTrustedCheckOptionPrompt);
  if (it != options.end() && it->second)
    prompt_.showOnce();
  return false;
}

}  // namespace lumivane::platform::wayland
