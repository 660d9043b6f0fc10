#pragma once

#include <gdk/gdk.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>

#include "platform/hot_keys.h"
#include "platform/keyboard_events.h"

namespace lumivane::interface {

// A global hot key as the host registers it: a macOS virtual key code and a
// Carbon modifier mask. Here the Command role is Control, Option is Alt and
// Control is Super.
struct HotKeyChord {
  std::uint32_t keyCode = 0;
  std::uint32_t modifiers = 0;

  friend bool operator==(const HotKeyChord&, const HotKeyChord&) = default;
};

// The chord the host registers when it starts: Control+Shift+T.
inline constexpr HotKeyChord kStartupHotKey{platform::kVK_ANSI_T,
                                            platform::cmdKey | platform::shiftKey};

// Why a key press makes no chord.
enum class ChordRefusal {
  // Only modifiers so far: the recorder waits for the key.
  incomplete,
  // Neither Control, Alt nor Super is held: a chord with Shift alone, or with
  // none, would take a key away from typing everywhere.
  noCommandModifier,
  // The key has no virtual key code the host can register.
  unusableKey,
};

// The chord a key press in the recorder makes, or why it makes none.
// `keysyms` are what the press may be read as, best first: the keysym the
// key gives alone in the keyboard's active layout, the one the press
// produced, the one the key gives alone in the first layout (0 for one not
// known). The first that names a key of a US keyboard decides, capitals and
// the symbols the US layout types with Shift taken back to their keys.
// `state` is the press's GDK modifier state; locks are ignored.
std::variant<HotKeyChord, ChordRefusal> chordForKeyPress(std::initializer_list<guint> keysyms,
                                                         GdkModifierType state);

// "Control+Shift+T": the chord as the user presses it here.
std::string chordName(const HotKeyChord& chord);

}  // namespace lumivane::interface
