#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <span>

namespace lumivane::platform::x11 {

// Which of an application's windows the host turns to, to copy its selection
// and to paste into it alike: the window the user used last, so that the
// application comes back as the user left it, or, when none of them has been
// used since the workspace started watching, the topmost. `stacked`: the
// application's windows, bottom to top. `lastUsed`: when windows were last
// active, as counts that grow with each activation. XCB_WINDOW_NONE when
// `stacked` is empty.
xcb_window_t windowToActivate(std::span<const xcb_window_t> stacked,
                              const std::map<xcb_window_t, std::uint64_t>& lastUsed);

// The order in which windows were last active: noted by the workspace on the
// main thread as the window manager announces each one, read by the
// synthetic keys on theirs. Any thread.
class ActivationOrder {
 public:
  void noteActive(xcb_window_t window);
  // A closed window; its number may come back for another window.
  void forget(xcb_window_t window);
  // windowToActivate, with this order.
  xcb_window_t windowToActivate(std::span<const xcb_window_t> stacked) const;

 private:
  mutable std::mutex mutex_;
  std::map<xcb_window_t, std::uint64_t> lastUsed_;
  std::uint64_t activations_ = 0;
};

}  // namespace lumivane::platform::x11
