#pragma once

#include <cstdint>

#include "platform/geometry.h"

namespace lumivane::platform {

// NSEventType, with the platform's raw values.
enum class EventType : std::uint32_t {
  leftMouseDown = 1,
  leftMouseUp = 2,
  rightMouseDown = 3,
  rightMouseUp = 4,
  mouseMoved = 5,
  leftMouseDragged = 6,
  keyDown = 10,
  keyUp = 11,
  flagsChanged = 12,
};

// NSEventMask bits: one bit per event type (1 << type).
inline constexpr std::uint64_t NSEventMaskLeftMouseUp = 1ull << 2;
inline constexpr std::uint64_t NSEventMaskRightMouseUp = 1ull << 4;

// NSEventModifierFlags bits (the same values as Core Graphics' event flags).
inline constexpr std::uint64_t NSEventModifierFlagShift = 0x20000;
inline constexpr std::uint64_t NSEventModifierFlagControl = 0x40000;
inline constexpr std::uint64_t NSEventModifierFlagOption = 0x80000;
inline constexpr std::uint64_t NSEventModifierFlagCommand = 0x100000;

// An input event the application is handling (NSEvent). A value.
struct Event {
  EventType type = EventType::leftMouseUp;
  std::uint64_t modifierFlags = 0;
  CGPoint locationInWindow;
  double timestamp = 0;
};

}  // namespace lumivane::platform
