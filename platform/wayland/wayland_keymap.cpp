#include "platform/wayland/wayland_keymap.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace lumivane::platform::wayland {
namespace {

// xkb's key codes are evdev's plus 8, the offset X11 gave them.
constexpr xkb_keycode_t kEvdevOffset = 8;

// The core modifiers in bit order, by the names every xkb map gives them.
constexpr const char* kCoreModifierNames[] = {XKB_MOD_NAME_SHIFT, XKB_MOD_NAME_CAPS,
                                              XKB_MOD_NAME_CTRL,  XKB_MOD_NAME_ALT,
                                              XKB_MOD_NAME_NUM,   "Mod3",
                                              XKB_MOD_NAME_LOGO,  "Mod5"};

}  // namespace

std::unique_ptr<WaylandKeymap> WaylandKeymap::fromEnvironment() {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (!context)
    return nullptr;
  // Names left empty are taken from XKB_DEFAULT_* by xkbcommon, and default
  // to evdev, pc105, us.
  const xkb_rule_names names{};
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
  if (!text) {
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return nullptr;
  }
  std::string copy(text, std::char_traits<char>::length(text) + 1);
  std::free(text);
  return std::unique_ptr<WaylandKeymap>(new WaylandKeymap(context, keymap, std::move(copy)));
}

WaylandKeymap::WaylandKeymap(xkb_context* context, xkb_keymap* keymap, std::string text)
    : context_(context), keymap_(keymap), text_(std::move(text)) {}

WaylandKeymap::~WaylandKeymap() {
  xkb_keymap_unref(keymap_);
  xkb_context_unref(context_);
}

std::optional<WaylandKeymap::Key> WaylandKeymap::keyFor(std::uint32_t keysym) const {
  const xkb_keycode_t first = std::max(xkb_keymap_min_keycode(keymap_), kEvdevOffset);
  const xkb_keycode_t last = xkb_keymap_max_keycode(keymap_);
  // The lowest level anywhere first: a keysym on a key of its own beats the
  // same keysym behind Shift on another.
  const xkb_level_index_t levels = 8;
  for (xkb_level_index_t level = 0; level < levels; ++level) {
    for (xkb_keycode_t code = first; code <= last; ++code) {
      if (level >= xkb_keymap_num_levels_for_key(keymap_, code, 0))
        continue;
      const xkb_keysym_t* syms = nullptr;
      const int count = xkb_keymap_key_get_syms_by_level(keymap_, code, 0, level, &syms);
      if (count != 1 || syms[0] != keysym)
        continue;
      xkb_mod_mask_t masks[4] = {};
      const std::size_t found =
          xkb_keymap_key_get_mods_for_level(keymap_, code, 0, level, masks, std::size(masks));
      if (level > 0 && found == 0)
        continue;
      return Key{code - kEvdevOffset, found > 0 ? masks[0] : 0};
    }
  }
  return std::nullopt;
}

std::uint32_t WaylandKeymap::maskOf(std::uint16_t coreModifiers) const {
  std::uint32_t mask = 0;
  for (unsigned bit = 0; bit < std::size(kCoreModifierNames); ++bit) {
    if (!(coreModifiers & (1u << bit)))
      continue;
    const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap_, kCoreModifierNames[bit]);
    if (index != XKB_MOD_INVALID)
      mask |= 1u << index;
  }
  return mask;
}

}  // namespace lumivane::platform::wayland
