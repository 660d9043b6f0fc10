#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivane::platform::wayland {

// A chord of sway's `bindsym`: its modifiers as core modifier bits
// (gtk/key_symbols.h) and the keysyms of its keys, in ascending order.
struct SwayChord {
  std::uint16_t modifiers = 0;
  std::vector<std::uint32_t> keysyms;

  bool operator==(const SwayChord&) const = default;
};

// A chord as `bindsym` writes it ("Ctrl+Shift+t", "Mod4+Return"), read as sway
// reads it: modifier names (Shift, Lock, Control or Ctrl, Mod1 or Alt, Mod2,
// Mod3, Mod4 or Super, Mod5) and keysym names in any case. Absent when a part
// names no modifier and no key (a mouse button among them).
std::optional<SwayChord> parseSwayChord(std::string_view text);

// What `bindsym` writes for `modifiers` and `keysym`: "Ctrl+Shift+t". Absent
// when the keysym has no name.
std::optional<std::string> swayChordText(std::uint16_t modifiers, std::uint32_t keysym);

// The chords a sway configuration binds to key presses in the default mode:
// its `bindsym` lines (variables set with `set` put in, lines continued with
// a backslash joined, blocks of other modes and of other things passed over)
// and those of the files it includes. Relative includes are taken from
// $XDG_CONFIG_HOME/sway (~/.config/sway), where a user's configuration is.
std::vector<SwayChord> chordsBoundIn(const std::string& configuration);

}  // namespace lumivane::platform::wayland
