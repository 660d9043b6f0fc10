#include "platform/gtk/key_symbols.h"

#include <gdk/gdkkeysyms.h>

#include <utility>

#include "platform/hot_keys.h"

namespace lumivane::platform::gtk {
namespace {

// kVK_* codes and the keysym each key has on a US keyboard. The modifier keys
// follow the same roles as the modifier masks.
constexpr std::pair<CGKeyCode, std::uint32_t> kVirtualKeys[] = {
    {0x00, GDK_KEY_a},
    {0x01, GDK_KEY_s},
    {0x02, GDK_KEY_d},
    {0x03, GDK_KEY_f},
    {0x04, GDK_KEY_h},
    {0x05, GDK_KEY_g},
    {0x06, GDK_KEY_z},
    {0x07, GDK_KEY_x},
    {0x08, GDK_KEY_c},
    {0x09, GDK_KEY_v},
    {0x0B, GDK_KEY_b},
    {0x0C, GDK_KEY_q},
    {0x0D, GDK_KEY_w},
    {0x0E, GDK_KEY_e},
    {0x0F, GDK_KEY_r},
    {0x10, GDK_KEY_y},
    {0x11, GDK_KEY_t},
    {0x12, GDK_KEY_1},
    {0x13, GDK_KEY_2},
    {0x14, GDK_KEY_3},
    {0x15, GDK_KEY_4},
    {0x16, GDK_KEY_6},
    {0x17, GDK_KEY_5},
    {0x18, GDK_KEY_equal},
    {0x19, GDK_KEY_9},
    {0x1A, GDK_KEY_7},
    {0x1B, GDK_KEY_minus},
    {0x1C, GDK_KEY_8},
    {0x1D, GDK_KEY_0},
    {0x1E, GDK_KEY_bracketright},
    {0x1F, GDK_KEY_o},
    {0x20, GDK_KEY_u},
    {0x21, GDK_KEY_bracketleft},
    {0x22, GDK_KEY_i},
    {0x23, GDK_KEY_p},
    {0x24, GDK_KEY_Return},
    {0x25, GDK_KEY_l},
    {0x26, GDK_KEY_j},
    {0x27, GDK_KEY_apostrophe},
    {0x28, GDK_KEY_k},
    {0x29, GDK_KEY_semicolon},
    {0x2A, GDK_KEY_backslash},
    {0x2B, GDK_KEY_comma},
    {0x2C, GDK_KEY_slash},
    {0x2D, GDK_KEY_n},
    {0x2E, GDK_KEY_m},
    {0x2F, GDK_KEY_period},
    {0x30, GDK_KEY_Tab},
    {0x31, GDK_KEY_space},
    {0x32, GDK_KEY_grave},
    {0x33, GDK_KEY_BackSpace},  // "Delete" deletes backwards.
    {0x35, GDK_KEY_Escape},
    {0x36, GDK_KEY_Control_R},  // Right Command.
    {0x37, GDK_KEY_Control_L},  // Command.
    {0x38, GDK_KEY_Shift_L},
    {0x39, GDK_KEY_Caps_Lock},
    {0x3A, GDK_KEY_Alt_L},    // Option.
    {0x3B, GDK_KEY_Super_L},  // Control.
    {0x3C, GDK_KEY_Shift_R},
    {0x3D, GDK_KEY_Alt_R},
    {0x3E, GDK_KEY_Super_R},
    {0x40, GDK_KEY_F17},
    {0x41, GDK_KEY_KP_Decimal},
    {0x43, GDK_KEY_KP_Multiply},
    {0x45, GDK_KEY_KP_Add},
    {0x47, GDK_KEY_Clear},
    {0x48, GDK_KEY_AudioRaiseVolume},
    {0x49, GDK_KEY_AudioLowerVolume},
    {0x4A, GDK_KEY_AudioMute},
    {0x4B, GDK_KEY_KP_Divide},
    {0x4C, GDK_KEY_KP_Enter},
    {0x4E, GDK_KEY_KP_Subtract},
    {0x4F, GDK_KEY_F18},
    {0x50, GDK_KEY_F19},
    {0x51, GDK_KEY_KP_Equal},
    {0x52, GDK_KEY_KP_0},
    {0x53, GDK_KEY_KP_1},
    {0x54, GDK_KEY_KP_2},
    {0x55, GDK_KEY_KP_3},
    {0x56, GDK_KEY_KP_4},
    {0x57, GDK_KEY_KP_5},
    {0x58, GDK_KEY_KP_6},
    {0x59, GDK_KEY_KP_7},
    {0x5A, GDK_KEY_F20},
    {0x5B, GDK_KEY_KP_8},
    {0x5C, GDK_KEY_KP_9},
    {0x60, GDK_KEY_F5},
    {0x61, GDK_KEY_F6},
    {0x62, GDK_KEY_F7},
    {0x63, GDK_KEY_F3},
    {0x64, GDK_KEY_F8},
    {0x65, GDK_KEY_F9},
    {0x67, GDK_KEY_F11},
    {0x69, GDK_KEY_F13},
    {0x6A, GDK_KEY_F16},
    {0x6B, GDK_KEY_F14},
    {0x6D, GDK_KEY_F10},
    {0x6F, GDK_KEY_F12},
    {0x71, GDK_KEY_F15},
    {0x72, GDK_KEY_Insert},  // "Help" sits where PC keyboards have Insert.
    {0x73, GDK_KEY_Home},
    {0x74, GDK_KEY_Prior},
    {0x75, GDK_KEY_Delete},  // Forward delete.
    {0x76, GDK_KEY_F4},
    {0x77, GDK_KEY_End},
    {0x78, GDK_KEY_F2},
    {0x79, GDK_KEY_Next},
    {0x7A, GDK_KEY_F1},
    {0x7B, GDK_KEY_Left},
    {0x7C, GDK_KEY_Right},
    {0x7D, GDK_KEY_Down},
    {0x7E, GDK_KEY_Up},
};

struct ModifierRole {
  CGEventFlags flag;
  std::uint32_t carbon;
  std::uint16_t mask;
};

constexpr ModifierRole kModifierRoles[] = {
    {kCGEventFlagMaskCommand, cmdKey, kControlMask},
    {kCGEventFlagMaskShift, shiftKey, kShiftMask},
    {kCGEventFlagMaskAlternate, optionKey, kMod1Mask},
    {kCGEventFlagMaskControl, controlKey, kMod4Mask},
};

}  // namespace

std::optional<std::uint32_t> keysymForVirtualKey(CGKeyCode virtualKey) {
  for (const auto& [code, keysym] : kVirtualKeys) {
    if (code == virtualKey)
      return keysym;
  }
  return std::nullopt;
}

std::optional<CGKeyCode> virtualKeyForKeysym(std::uint32_t keysym) {
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
      mask |= role.mask;
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
    if (modifiers & role.mask)
      mask |= role.carbon;
  }
  return mask;
}

std::uint16_t modifiersForEventFlags(CGEventFlags flags) {
  std::uint16_t mask = 0;
  for (const auto& role : kModifierRoles) {
    if (flags & role.flag)
      mask |= role.mask;
  }
  return mask;
}

CGEventFlags eventFlagsForModifiers(std::uint16_t modifiers) {
  CGEventFlags flags = 0;
  for (const auto& role : kModifierRoles) {
    if (modifiers & role.mask)
      flags |= role.flag;
  }
  return flags;
}

}  // namespace lumivane::platform::gtk
