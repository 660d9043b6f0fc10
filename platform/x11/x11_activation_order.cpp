#include "platform/x11/x11_activation_order.h"

namespace lumivane::platform::x11 {

xcb_window_t windowToActivate(std::span<const xcb_window_t> stacked,
                              const std::map<xcb_window_t, std::uint64_t>& lastUsed) {
  xcb_window_t chosen = XCB_WINDOW_NONE;
  std::uint64_t chosenUse = 0;
  // From the top down, so that among windows never used the topmost stays.
  for (auto it = stacked.rbegin(); it != stacked.rend(); ++it) {
    const auto used = lastUsed.find(*it);
    const std::uint64_t use = used == lastUsed.end() ? 0 : used->second;
    if (chosen == XCB_WINDOW_NONE || use > chosenUse) {
      chosen = *it;
      chosenUse = use;
    }
  }
  return chosen;
}

void ActivationOrder::noteActive(xcb_window_t window) {
  std::lock_guard lock(mutex_);
  lastUsed_[window] = ++activations_;
}

void ActivationOrder::forget(xcb_window_t window) {
  std::lock_guard lock(mutex_);
  lastUsed_.erase(window);
}

xcb_window_t ActivationOrder::windowToActivate(std::span<const xcb_window_t> stacked) const {
  std::lock_guard lock(mutex_);
  return x11::windowToActivate(stacked, lastUsed_);
}

}  // namespace lumivane::platform::x11
