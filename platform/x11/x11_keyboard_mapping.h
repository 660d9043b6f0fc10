#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/gtk/key_symbols.h"

namespace lumivane::platform::x11 {

using gtk::carbonMaskForModifiers;
using gtk::eventFlagsForModifiers;
using gtk::kCoreModifierBits;
using gtk::keysymForVirtualKey;
using gtk::modifiersForCarbonMask;
using gtk::modifiersForEventFlags;
using gtk::virtualKeyForKeysym;

// The server's keycode -> keysyms table, through xcb-keysyms: the keysym a
// key produces in each group and shift level is one column of its row. Read
// when first asked, and kept: query it again after a mapping change.
class KeyboardMapping {
 public:
  // The live mapping of `connection`'s server.
  static KeyboardMapping query(xcb_connection_t* connection);

  // A key that produces `keysym`. A key producing it unshifted is preferred to
  // one needing Shift or another group, then the lowest keycode. Absent when
  // no key of this keyboard produces it.
  std::optional<xcb_keycode_t> keycodeOf(xcb_keysym_t keysym) const;

  // A key that types `keysym` on its first shift level, else on its second,
  // and whether it takes Shift (the second). Absent when no key has it on
  // either: another group's would take switching groups.
  struct TypingKey {
    xcb_keycode_t keycode = 0;
    bool shift = false;
  };
  std::optional<TypingKey> typingKeyOf(xcb_keysym_t keysym) const;

  // The keysym in `column` of `keycode`'s row; 0 (NoSymbol) outside the table.
  xcb_keysym_t keysymOf(xcb_keycode_t keycode, int column = 0) const;

  // Whether any column of `keycode`'s row holds `keysym`.
  bool produces(xcb_keycode_t keycode, xcb_keysym_t keysym) const;

 private:
  struct Free {
    void operator()(xcb_key_symbols_t* symbols) const { xcb_key_symbols_free(symbols); }
  };
  explicit KeyboardMapping(xcb_key_symbols_t* symbols) : symbols_(symbols) {}
  // The keys producing `keysym`, best first.
  std::vector<xcb_keycode_t> keycodesOf(xcb_keysym_t keysym) const;

  std::unique_ptr<xcb_key_symbols_t, Free> symbols_;
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
