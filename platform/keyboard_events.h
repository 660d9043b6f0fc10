#pragma once

#include <cstdint>

#include "platform/workspace.h"

namespace lumivane::platform {

// Opaque Core Graphics objects. Each one created through KeyboardEvents is
// owned by its creator and must be given back with CFRelease exactly once.
struct CGEventSourceOpaque;
struct CGEventOpaque;
using CGEventSourceRef = CGEventSourceOpaque*;
using CGEventRef = CGEventOpaque*;

using CGKeyCode = std::uint16_t;
using CGEventFlags = std::uint64_t;

// CGEventSourceStateID.
enum class CGEventSourceStateID : std::int32_t {
  privateState = -1,
  combinedSessionState = 0,
  hidSystemState = 1,
};

// CGEventTapLocation.
enum class CGEventTapLocation : std::uint32_t {
  hidEventTap = 0,
  sessionEventTap = 1,
  annotatedSessionEventTap = 2,
};

inline constexpr CGEventFlags kCGEventFlagMaskShift = 0x20000;
inline constexpr CGEventFlags kCGEventFlagMaskControl = 0x40000;
inline constexpr CGEventFlags kCGEventFlagMaskAlternate = 0x80000;
inline constexpr CGEventFlags kCGEventFlagMaskCommand = 0x100000;

// Virtual key codes (kVK_*).
inline constexpr CGKeyCode kVK_ANSI_C = 8;
inline constexpr CGKeyCode kVK_ANSI_V = 9;
inline constexpr CGKeyCode kVK_ANSI_T = 17;

// Synthetic keyboard input (Core Graphics). Callable on any thread.
class KeyboardEvents {
 public:
  virtual ~KeyboardEvents() = default;
  // A new event source; null when none can be made.
  virtual CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID state) = 0;
  // A new key event with the modifier flags currently held, taken from
  // `source` (may be null); null when none can be made.
  virtual CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source,
                                                CGKeyCode virtualKey,
                                                bool keyDown) = 0;
  // Replaces the event's modifier flags.
  virtual void CGEventSetFlags(CGEventRef event, CGEventFlags flags) = 0;
  // Delivers the event to one process's event queue, frontmost or not.
  virtual void CGEventPostToPid(pid_t pid, CGEventRef event) = 0;
  // Injects the event at `tap`; from the HID tap it reaches the frontmost
  // application as a hardware event would.
  virtual void CGEventPost(CGEventTapLocation tap, CGEventRef event) = 0;
  // Gives back an object created above. Null is ignored.
  virtual void CFRelease(CGEventSourceRef source) = 0;
  virtual void CFRelease(CGEventRef event) = 0;
};

}  // namespace lumivane::platform
