#pragma once

#include <cstdint>

namespace lumivane::platform {

using OSStatus = std::int32_t;
using OSType = std::uint32_t;

inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus paramErr = -50;
// The hot key is already registered by this or another application.
inline constexpr OSStatus eventHotKeyExistsErr = -9878;
inline constexpr OSStatus eventHotKeyInvalidErr = -9879;

// Carbon modifier bits of a hot key.
inline constexpr std::uint32_t cmdKey = 0x100;
inline constexpr std::uint32_t shiftKey = 0x200;
inline constexpr std::uint32_t optionKey = 0x800;
inline constexpr std::uint32_t controlKey = 0x1000;

inline constexpr std::uint32_t kEventClassKeyboard = 0x6B657962;  // 'keyb'
inline constexpr std::uint32_t kEventHotKeyPressed = 5;
inline constexpr std::uint32_t kEventHotKeyReleased = 6;

// Opaque Carbon objects. An EventHotKeyRef lives until UnregisterEventHotKey.
struct OpaqueEventTargetRef;
struct OpaqueEventHandlerCallRef;
struct OpaqueEventRef;
struct OpaqueEventHandlerRef;
struct OpaqueEventHotKeyRef;
using EventTargetRef = OpaqueEventTargetRef*;
using EventHandlerCallRef = OpaqueEventHandlerCallRef*;
using EventRef = OpaqueEventRef*;
using EventHandlerRef = OpaqueEventHandlerRef*;
using EventHotKeyRef = OpaqueEventHotKeyRef*;

struct EventTypeSpec {
  std::uint32_t eventClass;
  std::uint32_t eventKind;
};

struct EventHotKeyID {
  OSType signature;
  std::uint32_t id;
};

// A four-character code, first character in the most significant byte.
constexpr OSType fourCharCode(const char (&code)[5]) {
  return (static_cast<OSType>(static_cast<unsigned char>(code[0])) << 24) |
         (static_cast<OSType>(static_cast<unsigned char>(code[1])) << 16) |
         (static_cast<OSType>(static_cast<unsigned char>(code[2])) << 8) |
         static_cast<OSType>(static_cast<unsigned char>(code[3]));
}

// A plain event handler: no captured context beyond `userData`.
using EventHandlerProcPtr = OSStatus (*)(EventHandlerCallRef nextHandler,
                                         EventRef event,
                                         void* userData);

// Carbon Event Manager hot keys. Main thread only; handlers are called on the
// main thread from the application's event loop.
class HotKeys {
 public:
  virtual ~HotKeys() = default;
  // The event target of the whole application.
  virtual EventTargetRef GetApplicationEventTarget() = 0;
  // From now on calls `handler` for each event of the listed types delivered to
  // `target`. `outRef` may be null.
  virtual OSStatus InstallEventHandler(EventTargetRef target,
                                       EventHandlerProcPtr handler,
                                       std::uint32_t numTypes,
                                       const EventTypeSpec* list,
                                       void* userData,
                                       EventHandlerRef* outRef) = 0;
  // Registers a system-wide hot key whose presses go to `target`. On success
  // `*outRef` holds the registration; on failure it is set to null and the
  // status says why (eventHotKeyExistsErr when the chord is taken).
  virtual OSStatus RegisterEventHotKey(std::uint32_t keyCode,
                                       std::uint32_t modifiers,
                                       EventHotKeyID hotKeyID,
                                       EventTargetRef target,
                                       std::uint32_t options,
                                       EventHotKeyRef* outRef) = 0;
  // Ends a registration; the reference is invalid afterwards.
  virtual OSStatus UnregisterEventHotKey(EventHotKeyRef ref) = 0;
};

}  // namespace lumivane::platform
