#include "platform/x11/x11_keys.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <algorithm>
#include <utility>

#include "platform/hot_keys.h"
#include "platform/x11/x11_connection.h"

namespace lumivane::platform::x11 {
namespace {

// kVK_* codes and the keysym each key has on a US keyboard. The modifier keys
// follow the same roles as the modifier masks.
constexpr std::pair<CGKeyCode, xcb_keysym_t> kVirtualKeys[] = {
    {0x00, XK_a},
    {0x01, XK_s},
    {0x02, XK_d},
    {0x03, XK_f},
    {0x04, XK_h},
    {0x05, XK_g},
    {0x06, XK_z},
    {0x07, XK_x},
    {0x08, XK_c},
    {0x09, XK_v},
    {0x0B, XK_b},
    {0x0C, XK_q},
    {0x0D, XK_w},
    {0x0E, XK_e},
    {0x0F, XK_r},
    {0x10, XK_y},
    {0x11, XK_t},
    {0x12, XK_1},
    {0x13, XK_2},
    {0x14, XK_3},
    {0x15, XK_4},
    {0x16, XK_6},
    {0x17, XK_5},
    {0x18, XK_equal},
    {0x19, XK_9},
    {0x1A, XK_7},
    {0x1B, XK_minus},
    {0x1C, XK_8},
    {0x1D, XK_0},
    {0x1E, XK_bracketright},
    {0x1F, XK_o},
    {0x20, XK_u},
    {0x21, XK_bracketleft},
    {0x22, XK_i},
    {0x23, XK_p},
    {0x24, XK_Return},
    {0x25, XK_l},
    {0x26, XK_j},
    {0x27, XK_apostrophe},
    {0x28, XK_k},
    {0x29, XK_semicolon},
    {0x2A, XK_backslash},
    {0x2B, XK_comma},
    {0x2C, XK_slash},
    {0x2D, XK_n},
    {0x2E, XK_m},
    {0x2F, XK_period},
    {0x30, XK_Tab},
    {0x31, XK_space},
    {0x32, XK_grave},
    {0x33, XK_BackSpace},  // "Delete" deletes backwards.
    {0x35, XK_Escape},
    {0x36, XK_Control_R},  // Right Command.
    {0x37, XK_Control_L},  // Command.
    {0x38, XK_Shift_L},
    {0x39, XK_Caps_Lock},
    {0x3A, XK_Alt_L},    // Option.
    {0x3B, XK_Super_L},  // Control.
    {0x3C, XK_Shift_R},
    {0x3D, XK_Alt_R},
    {0x3E, XK_Super_R},
    {0x40, XK_F17},
    {0x41, XK_KP_Decimal},
    {0x43, XK_KP_Multiply},
    {0x45, XK_KP_Add},
    {0x47, XK_Clear},
    {0x48, XF86XK_AudioRaiseVolume},
    {0x49, XF86XK_AudioLowerVolume},
    {0x4A, XF86XK_AudioMute},
    {0x4B, XK_KP_Divide},
    {0x4C, XK_KP_Enter},
    {0x4E, XK_KP_Subtract},
    {0x4F, XK_F18},
    {0x50, XK_F19},
    {0x51, XK_KP_Equal},
    {0x52, XK_KP_0},
    {0x53, XK_KP_1},
    {0x54, XK_KP_2},
    {0x55, XK_KP_3},
    {0x56, XK_KP_4},
    {0x57, XK_KP_5},
    {0x58, XK_KP_6},
    {0x59, XK_KP_7},
    {0x5A, XK_F20},
    {0x5B, XK_KP_8},
    {0x5C, XK_KP_9},
    {0x60, XK_F5},
    {0x61, XK_F6},
    {0x62, XK_F7},
    {0x63, XK_F3},
    {0x64, XK_F8},
    {0x65, XK_F9},
    {0x67, XK_F11},
    {0x69, XK_F13},
    {0x6A, XK_F16},
    {0x6B, XK_F14},
    {0x6D, XK_F10},
    {0x6F, XK_F12},
    {0x71, XK_F15},
    {0x72, XK_Insert},  // "Help" sits where PC keyboards have Insert.
    {0x73, XK_Home},
    {0x74, XK_Prior},
    {0x75, XK_Delete},  // Forward delete.
    {0x76, XK_F4},
    {0x77, XK_End},
    {0x78, XK_F2},
    {0x79, XK_Next},
    {0x7A, XK_F1},
    {0x7B, XK_Left},
    {0x7C, XK_Right},
    {0x7D, XK_Down},
    {0x7E, XK_Up},
};

struct ModifierRole {
  CGEventFlags flag;
  std::uint32_t carbon;
  std::uint16_t x;
};

constexpr ModifierRole kModifierRoles[] = {
    {kCGEventFlagMaskCommand, cmdKey, XCB_MOD_MASK_CONTROL},
    {kCGEventFlagMaskShift, shiftKey, XCB_MOD_MASK_SHIFT},
    {kCGEventFlagMaskAlternate, optionKey, XCB_MOD_MASK_1},
    {kCGEventFlagMaskControl, controlKey, XCB_MOD_MASK_4},
};

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

std::optional<xcb_keysym_t> keysymForVirtualKey(CGKeyCode virtualKey) {
  for (const auto& [code, keysym] : kVirtualKeys) {
    if (code == virtualKey)
      return keysym;
  }
  return std::nullopt;
}

std::optional<CGKeyCode> virtualKeyForKeysym(xcb_keysym_t keysym) {
  for (const auto& [code, sym] : kVirtualKeys) {
    if (sym == keysym)
      return code;
  }
  return std::nullopt;
}

std::optional<std::uint16_t> modifiersForCarbonMask(std::uint32_t carbonModifiers) {
  std::uint16_t mask = 0;
  for (const auto& role : kModifierRoles) {
    if (carbonModifiers & role.carbon) {
      mask |= role.x;
      carbonModifiers &= ~role.carbon;
    }
  }
  if (carbonModifiers != 0)
    return std::nullopt;
  return mask;
}

std::uint32_t carbonMaskForModifiers(std::uint16_t modifiers) {
  std::uint32_t mask = 0;
  for (const auto& role : kModifierRoles) {
    if (modifiers & role.x)
      mask |= role.carbon;
  }
  return mask;
}

std::uint16_t modifiersForEventFlags(CGEventFlags flags) {
  std::uint16_t mask = 0;
  for (const auto& role : kModifierRoles) {
    if (flags & role.flag)
      mask |= role.x;
  }
  return mask;
}

CGEventFlags eventFlagsForModifiers(std::uint16_t modifiers) {
  CGEventFlags flags = 0;
  for (const auto& role : kModifierRoles) {
    if (modifiers & role.x)
      flags |= role.flag;
  }
  return flags;
}

// KeyboardMapping --------------------------------------------------------------

KeyboardMapping::KeyboardMapping(xcb_keycode_t minKeycode,
                                 std::uint8_t keysymsPerKeycode,
                                 std::vector<xcb_keysym_t> keysyms)
    : minKeycode_(minKeycode), perKeycode_(keysymsPerKeycode), keysyms_(std::move(keysyms)) {
  if (perKeycode_ == 0)
    keysyms_.clear();
}

KeyboardMapping KeyboardMapping::query(xcb_connection_t* connection) {
  const xcb_setup_t* setup = xcb_get_setup(connection);
  if (!setup || setup->max_keycode < setup->min_keycode)
    return {};
  const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
  XcbReply<xcb_get_keyboard_mapping_reply_t> reply(xcb_get_keyboard_mapping_reply(
      connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr));
  if (!reply)
    return {};
  const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
  const int length = xcb_get_keyboard_mapping_keysyms_length(reply.get());
  return KeyboardMapping(setup->min_keycode, reply->keysyms_per_keycode,
                         std::vector<xcb_keysym_t>(keysyms, keysyms + length));
}

std::optional<xcb_keycode_t> KeyboardMapping::keycodeOf(xcb_keysym_t keysym) const {
  if (keysym == XCB_NO_SYMBOL || empty())
    return std::nullopt;
  const std::size_t rows = keysyms_.size() / perKeycode_;
  for (std::size_t column = 0; column < perKeycode_; ++column) {
    for (std::size_t row = 0; row < rows; ++row) {
      if (keysyms_[row * perKeycode_ + column] == keysym)
        return static_cast<xcb_keycode_t>(minKeycode_ + row);
    }
  }
  return std::nullopt;
}

xcb_keysym_t KeyboardMapping::keysymOf(xcb_keycode_t keycode, int column) const {
  if (empty() || keycode < minKeycode_ || column < 0 || column >= perKeycode_)
    return XCB_NO_SYMBOL;
  const std::size_t index = static_cast<std::size_t>(keycode - minKeycode_) * perKeycode_ +
                            static_cast<std::size_t>(column);
  return index < keysyms_.size() ? keysyms_[index] : XCB_NO_SYMBOL;
}

bool KeyboardMapping::produces(xcb_keycode_t keycode, xcb_keysym_t keysym) const {
  for (int column = 0; column < perKeycode_; ++column) {
    if (keysymOf(keycode, column) == keysym)
      return true;
  }
  return false;
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
