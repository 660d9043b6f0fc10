#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct xkb_context;
struct xkb_keymap;

namespace lumivane::platform::wayland {

// The keymap of the backend's virtual keyboard: a complete one, compiled by
// xkbcommon from the names the session's environment gives
// (XKB_DEFAULT_RULES, _MODEL, _LAYOUT, _VARIANT, _OPTIONS; evdev, pc105, us
// where unset), so that its key codes mean to every client what the user's
// own keyboard's mean. XWayland keeps reading codes with the map it had, and
// every change of map between keyboards reaches the focused client anew; a
// map of only the keys typed would do neither any good. Immutable: any
// thread.
class WaylandKeymap {
 public:
  // Null when xkbcommon cannot compile the map.
  static std::unique_ptr<WaylandKeymap> fromEnvironment();
  ~WaylandKeymap();
  WaylandKeymap(const WaylandKeymap&) = delete;
  WaylandKeymap& operator=(const WaylandKeymap&) = delete;

  // The map in the text format the compositor takes, ending in a NUL.
  const std::string& text() const { return text_; }

  // A key that produces a keysym: its evdev code (what the virtual keyboard
  // sends) and the modifiers (an xkb mask of this map) that select the level
  // the keysym is on.
  struct Key {
    std::uint32_t code = 0;
    std::uint32_t modifiers = 0;
  };
  // The key for `keysym` in the first layout, on its lowest level; absent
  // when no key produces it.
  std::optional<Key> keyFor(std::uint32_t keysym) const;

  // The xkb mask of core modifier bits (gtk/key_symbols.h): Shift, Lock,
  // Control, Mod1 ... Mod5, as this map names them.
  std::uint32_t maskOf(std::uint16_t coreModifiers) const;

 private:
  WaylandKeymap(xkb_context* context, xkb_keymap* keymap, std::string text);

  xkb_context* const context_;
  xkb_keymap* const keymap_;
  const std::string text_;
};

}  // namespace lumivane::platform::wayland
