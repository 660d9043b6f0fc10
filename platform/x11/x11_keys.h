#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/keyboard_events.h"

namespace lumivane::platform::x11 {

// The host names keys by their macOS virtual key codes and modifiers by their
// Carbon and Core Graphics roles. Here they become X keysyms and modifier
// masks: keys by the US layout (the layout the virtual codes are named
// after), modifiers by role, so that the host's Command chords are the
// Control chords Linux applications copy and paste with:
//   Command (cmdKey) -> Control, Shift -> Shift, Option -> Alt (Mod1),
//   Control (controlKey) -> Super (Mod4).

// The keysym of a virtual key; absent for keys with no X counterpart
// (Function, the JIS and ISO extra keys) and for codes that name no key.
std::optional<xcb_keysym_t> keysymForVirtualKey(CGKeyCode virtualKey);

// The virtual key whose key produces `keysym` unshifted on a US keyboard, the
// inverse of keysymForVirtualKey. Absent for every other keysym, shifted
// symbols and capital letters included: what a key produces with Shift is for
// the caller to take back to the key.
std::optional<CGKeyCode> virtualKeyForKeysym(xcb_keysym_t keysym);

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

// The 8 core modifier bits (Shift .. Mod5) of an event's state, without the
// pointer buttons and keyboard group XKB adds there.
inline constexpr std::uint16_t kCoreModifierBits = 0xff;

// The server's keycode -> keysyms table, as read at one moment. The keysym a
// key produces in each group and shift level is one column of its row.
class KeyboardMapping {
 public:
  KeyboardMapping() = default;
  KeyboardMapping(xcb_keycode_t minKeycode,
                  std::uint8_t keysymsPerKeycode,
                  std::vector<xcb_keysym_t> keysyms);

  // The live mapping of `connection`'s server; empty when it cannot be read.
  static KeyboardMapping query(xcb_connection_t* connection);

  bool empty() const { return keysyms_.empty(); }

  // A key that produces `keysym`. A key producing it unshifted is preferred to
  // one needing Shift or another group, then the lowest keycode. Absent when
  // no key of this keyboard produces it.
  std::optional<xcb_keycode_t> keycodeOf(xcb_keysym_t keysym) const;

  // The keysym in `column` of `keycode`'s row; 0 (NoSymbol) outside the table.
  xcb_keysym_t keysymOf(xcb_keycode_t keycode, int column = 0) const;

  // Whether any column of `keycode`'s row holds `keysym`.
  bool produces(xcb_keycode_t keycode, xcb_keysym_t keysym) const;

 private:
  xcb_keycode_t minKeycode_ = 0;
  std::uint8_t perKeycode_ = 0;
  std::vector<xcb_keysym_t> keysyms_;
};

// The server's modifier map: for each of the 8 modifiers, the keys that set
// it.
class ModifierMapping {
 public:
  ModifierMapping() = default;
  ModifierMapping(std::uint8_t keycodesPerModifier, std::vector<xcb_keycode_t> keycodes);

  static ModifierMapping query(xcb_connection_t* connection);

  bool empty() const { return keycodes_.empty(); }

  // The keys bound to the modifier of `index` (0 Shift .. 7 Mod5); zero
  // entries are unused slots.
  std::span<const xcb_keycode_t> keycodesOf(int index) const;

  // The mask of the modifier `keycode` is bound to; 0 for ordinary keys.
  std::uint16_t modifierOf(xcb_keycode_t keycode) const;

  // The mask of the modifier a key producing `keysym` is bound to (Num_Lock
  // is usually Mod2); 0 when no such key is a modifier.
  std::uint16_t maskOf(xcb_keysym_t keysym, const KeyboardMapping& keyboard) const;

  // A key that sets the single modifier bit `bit`: the one of its canonical
  // key (Control_L for Control, Alt_L for Mod1, Super_L for Mod4, Shift_L for
  // Shift) when that key is bound to it, any other bound key otherwise.
  // Absent when no key sets it.
  std::optional<xcb_keycode_t> keycodeFor(std::uint16_t bit, const KeyboardMapping& keyboard) const;

 private:
  std::uint8_t perModifier_ = 0;
  std::vector<xcb_keycode_t> keycodes_;
};

// The lock modifiers a press may carry without being a different chord: Lock
// (Caps Lock) and whichever modifiers Num_Lock and Scroll_Lock are bound to.
std::uint16_t lockModifiers(const ModifierMapping& modifiers, const KeyboardMapping& keyboard);

// Every combination of the bits of `locks`, none first: the variants one
// chord has to be grabbed with so that it works whichever locks are on.
std::vector<std::uint16_t> lockVariants(std::uint16_t locks);

// The keys down in a QueryKeymap answer (32 bytes, one bit per keycode).
std::vector<xcb_keycode_t> keysDown(std::span<const std::uint8_t, 32> keymap);

}  // namespace lumivane::platform::x11
