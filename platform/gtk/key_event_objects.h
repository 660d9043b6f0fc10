#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/keyboard_events.h"

namespace lumivane::platform::gtk {

// A keyboard event as a Linux keyboard-events service keeps it until it is
// posted.
struct SyntheticKey {
  CGKeyCode virtualKey = 0;
  bool keyDown = false;
  CGEventFlags flags = 0;
};

// The event sources and keyboard events a Linux keyboard-events service
// hands out: owned here, found again by the reference the host holds, gone
// at CFRelease. A reference not made here finds nothing. Any thread.
class KeyEventObjects {
 public:
  CGEventSourceRef makeSource(CGEventSourceStateID state);
  std::optional<CGEventSourceStateID> stateOf(CGEventSourceRef source) const;
  CGEventRef makeEvent(SyntheticKey key);
  void setFlags(CGEventRef event, CGEventFlags flags);
  std::optional<SyntheticKey> find(CGEventRef event) const;
  void release(CGEventSourceRef source);
  void release(CGEventRef event);
  // How many sources and events are made and not yet released.
  std::size_t held() const;

 private:
  mutable std::mutex mutex_;
  std::map<const void*, std::unique_ptr<CGEventSourceStateID>> sources_;
  std::map<const void*, std::unique_ptr<SyntheticKey>> events_;
};

}  // namespace lumivane::platform::gtk
