#pragma once

#include <cstdint>
#include <optional>

#include "platform/keyboard_events.h"

namespace lumivane::platform::gtk {

// The core modifier bits, the same in X11 events, GDK's modifier state and
// the real modifiers of an xkb keymap.
inline constexpr std::uint16_t kShiftMask = 1u << 0;
inline constexpr std::uint16_t kLockMask = 1u << 1;
inline constexpr std::uint16_t kControlMask = 1u << 2;
inline constexpr std::uint16_t kMod1Mask = 1u << 3;
inline constexpr std::uint16_t kMod4Mask = 1u << 6;
// All 8 (Shift .. Mod5), without the pointer buttons and keyboard group XKB
// adds to an event's state.
inline constexpr std::uint16_t kCoreModifierBits = 0xff;

// The host names keys by their macOS virtual key codes and modifiers by their
// Carbon and Core Graphics roles. Here they become keysyms (X11's, which GDK and xkb share) and
// core modifier masks: keys by the US layout (the layout the virtual codes are named after),
// modifiers by role, so that the host's Command chords are the Control chords Linux applications
// copy and paste with:
//   Command (cmdKey) -> Control, Shift -> Shift, Option -> Alt (Mod1),
//   Control (controlKey) -> Super (Mod4).

// The keysym of a virtual key; absent for keys with no X counterpart
// (Function, the JIS and ISO extra keys) and for codes that name no key.
std::optional<std::uint32_t> keysymForVirtualKey(CGKeyCode virtualKey);

// The virtual key whose key produces `keysym` unshifted on a US keyboard, the
// inverse of keysymForVirtualKey. Absent for every other keysym, shifted
// symbols and capital letters included: what a key produces with Shift is for
// the caller to take back to the key.
std::optional<CGKeyCode> virtualKeyForKeysym(std::uint32_t keysym);

// The X modifier mask of a Carbon hot-key mask; absent when the mask holds a
// bit with no X counterpart (Caps Lock, the right-hand modifier bits, ...), so
// that such a chord is refused rather than grabbed as a different one.
std::optional<std::uint16_t> modifiersForCarbonMask(std::uint32_t carbonModifiers);

// The Carbon hot-key mask of an X modifier mask, the inverse of the above.
// Modifiers with no role (Lock, Mod2, Mod3, Mod5) are left out.
std::uint32_t carbonMaskForModifiers(std::uint16_t modifiers);

// The X modifier mask of Core Graphics event flags. Flags that only describe
// an event (Caps Lock state, numeric pad, non-coalesced) have no key to press
// and are left out.
std::uint16_t modifiersForEventFlags(CGEventFlags flags);

// The Core Graphics flags of an X modifier mask, the inverse of the above.
CGEventFlags eventFlagsForModifiers(std::uint16_t modifiers);

}  // namespace lumivane::platform::gtk
