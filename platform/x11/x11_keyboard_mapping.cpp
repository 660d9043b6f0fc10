#include "platform/x11/x11_keyboard_mapping.h"

#include <X11/keysym.h>

#include <algorithm>
#include <utility>

#include "platform/hot_keys.h"
#include "platform/x11/x11_connection.h"

namespace lumivane::platform::x11 {
namespace {

// The key a modifier is named after, pressed in preference to others bound
// to the same modifier (Mod4 may also hold Hyper keys, Mod1 Meta keys).
xcb_keysym_t canonicalKeysymOf(std::uint16_t bit) {
  switch (bit) {
    case XCB_MOD_MASK_SHIFT:
      return XK_Shift_L;
    case XCB_MOD_MASK_LOCK:
      return XK_Caps_Lock;
    case XCB_MOD_MASK_CONTROL:
      return XK_Control_L;
    case XCB_MOD_MASK_1:
      return XK_Alt_L;
    case XCB_MOD_MASK_4:
      return XK_Super_L;
    default:
      return XCB_NO_SYMBOL;
  }
}

}  // namespace

// KeyboardMapping --------------------------------------------------------------

KeyboardMapping KeyboardMapping::query(xcb_connection_t* connection) {
  return KeyboardMapping(xcb_key_symbols_alloc(connection));
}

std::vector<xcb_keycode_t> KeyboardMapping::keycodesOf(xcb_keysym_t keysym) const {
  std::vector<xcb_keycode_t> keycodes;
  if (!symbols_ || keysym == XCB_NO_SYMBOL)
    return keycodes;
  // Column by column, so that a key producing the keysym unshifted comes
  // first; 0-terminated.
  std::unique_ptr<xcb_keycode_t, XcbFree> found(
      xcb_key_symbols_get_keycode(symbols_.get(), keysym));
  for (const xcb_keycode_t* k = found.get(); k && *k != 0; ++k)
    keycodes.push_back(*k);
  return keycodes;
}

std::optional<xcb_keycode_t> KeyboardMapping::keycodeOf(xcb_keysym_t keysym) const {
  const auto keycodes = keycodesOf(keysym);
  if (keycodes.empty())
    return std::nullopt;
  return keycodes.front();
}

std::optional<KeyboardMapping::TypingKey> KeyboardMapping::typingKeyOf(xcb_keysym_t keysym) const {
  for (xcb_keycode_t keycode : keycodesOf(keysym)) {
    for (int level = 0; level < 2; ++level) {
      if (keysymOf(keycode, level) == keysym)
        return TypingKey{keycode, level == 1};
    }
  }
  return std::nullopt;
}

xcb_keysym_t KeyboardMapping::keysymOf(xcb_keycode_t keycode, int column) const {
  if (!symbols_ || column < 0)
    return XCB_NO_SYMBOL;
  return xcb_key_symbols_get_keysym(symbols_.get(), keycode, column);
}

bool KeyboardMapping::produces(xcb_keycode_t keycode, xcb_keysym_t keysym) const {
  const auto keycodes = keycodesOf(keysym);
  return std::find(keycodes.begin(), keycodes.end(), keycode) != keycodes.end();
}

// ModifierMapping --------------------------------------------------------------

ModifierMapping::ModifierMapping(std::uint8_t keycodesPerModifier,
                                 std::vector<xcb_keycode_t> keycodes)
    : perModifier_(keycodesPerModifier), keycodes_(std::move(keycodes)) {
  if (perModifier_ == 0 || keycodes_.size() < static_cast<std::size_t>(perModifier_) * 8)
    keycodes_.clear();
}

ModifierMapping ModifierMapping::query(xcb_connection_t* connection) {
  XcbReply<xcb_get_modifier_mapping_reply_t> reply(
      xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
  if (!reply)
    return {};
  const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(reply.get());
  const int length = xcb_get_modifier_mapping_keycodes_length(reply.get());
  return ModifierMapping(reply->keycodes_per_modifier,
                         std::vector<xcb_keycode_t>(keycodes, keycodes + length));
}

std::span<const xcb_keycode_t> ModifierMapping::keycodesOf(int index) const {
  if (empty() || index < 0 || index >= 8)
    return {};
  return std::span<const xcb_keycode_t>(keycodes_).subspan(
      static_cast<std::size_t>(index) * perModifier_, perModifier_);
}

std::uint16_t ModifierMapping::modifierOf(xcb_keycode_t keycode) const {
  if (keycode == 0)
    return 0;
  std::uint16_t mask = 0;
  for (int index = 0; index < 8; ++index) {
    const auto keys = keycodesOf(index);
    if (std::find(keys.begin(), keys.end(), keycode) != keys.end())
      mask |= static_cast<std::uint16_t>(1u << index);
  }
  return mask;
}

std::uint16_t ModifierMapping::maskOf(xcb_keysym_t keysym, const KeyboardMapping& keyboard) const {
  std::uint16_t mask = 0;
  for (int index = 0; index < 8; ++index) {
    for (xcb_keycode_t keycode : keycodesOf(index)) {
      if (keycode != 0 && keyboard.produces(keycode, keysym))
        mask |= static_cast<std::uint16_t>(1u << index);
    }
  }
  return mask;
}

std::optional<xcb_keycode_t> ModifierMapping::keycodeFor(std::uint16_t bit,
                                                         const KeyboardMapping& keyboard) const {
  int index = 0;
  while (index < 8 && bit != (1u << index))
    ++index;
  if (index == 8)
    return std::nullopt;
  const xcb_keysym_t canonical = canonicalKeysymOf(bit);
  std::optional<xcb_keycode_t> any;
  for (xcb_keycode_t keycode : keycodesOf(index)) {
    if (keycode == 0)
      continue;
    if (canonical != XCB_NO_SYMBOL && keyboard.keysymOf(keycode) == canonical)
      return keycode;
    if (!any)
      any = keycode;
  }
  return any;
}

// Locks ------------------------------------------------------------------------

std::uint16_t lockModifiers(const ModifierMapping& modifiers, const KeyboardMapping& keyboard) {
  return static_cast<std::uint16_t>(XCB_MOD_MASK_LOCK | modifiers.maskOf(XK_Num_Lock, keyboard) |
                                    modifiers.maskOf(XK_Scroll_Lock, keyboard));
}

std::vector<std::uint16_t> lockVariants(std::uint16_t locks) {
  std::vector<std::uint16_t> variants{0};
  for (int bit = 0; bit < 16; ++bit) {
    const auto lock = static_cast<std::uint16_t>(1u << bit);
    if (!(locks & lock))
      continue;
    const std::size_t before = variants.size();
    for (std::size_t i = 0; i < before; ++i)
      variants.push_back(static_cast<std::uint16_t>(variants[i] | lock));
  }
  return variants;
}

std::vector<xcb_keycode_t> keysDown(std::span<const std::uint8_t, 32> keymap) {
  std::vector<xcb_keycode_t> down;
  for (int keycode = 0; keycode < 256; ++keycode) {
    if (keymap[static_cast<std::size_t>(keycode / 8)] & (1u << (keycode % 8)))
      down.push_back(static_cast<xcb_keycode_t>(keycode));
  }
  return down;
}

}  // namespace lumivane::platform::x11
