#include "platform/x11/x11_keys.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <array>
#include <set>

#include "platform/hot_keys.h"

namespace lumivane::platform::x11 {
namespace {

constexpr std::uint16_t kShift = XCB_MOD_MASK_SHIFT;
constexpr std::uint16_t kLock = XCB_MOD_MASK_LOCK;
constexpr std::uint16_t kControl = XCB_MOD_MASK_CONTROL;
constexpr std::uint16_t kMod1 = XCB_MOD_MASK_1;
constexpr std::uint16_t kMod2 = XCB_MOD_MASK_2;
constexpr std::uint16_t kMod3 = XCB_MOD_MASK_3;
constexpr std::uint16_t kMod4 = XCB_MOD_MASK_4;

// The host's own keys, and those whose names differ between the systems.
TEST(VirtualKeyTest, NamesTheKeysOfAUsKeyboard) {
  EXPECT_EQ(keysymForVirtualKey(kVK_ANSI_C), XK_c);
  EXPECT_EQ(keysymForVirtualKey(kVK_ANSI_V), XK_v);
  EXPECT_EQ(keysymForVirtualKey(kVK_ANSI_T), XK_t);
  // Backspace is "Delete" there; the forward delete key is Delete here.
  EXPECT_EQ(keysymForVirtualKey(0x33), XK_BackSpace);
  EXPECT_EQ(keysymForVirtualKey(0x75), XK_Delete);
  // Modifier keys by role, like the modifier masks.
  EXPECT_EQ(keysymForVirtualKey(0x37), XK_Control_L);
  EXPECT_EQ(keysymForVirtualKey(0x3B), XK_Super_L);
  EXPECT_EQ(keysymForVirtualKey(0x3A), XK_Alt_L);
}

TEST(VirtualKeyTest, CodesWithoutAnXKeyHaveNoKeysym) {
  EXPECT_EQ(keysymForVirtualKey(0x0A), std::nullopt);  // The ISO section key.
  EXPECT_EQ(keysymForVirtualKey(0x3F), std::nullopt);  // Function.
  EXPECT_EQ(keysymForVirtualKey(0x34), std::nullopt);
  EXPECT_EQ(keysymForVirtualKey(0x7F), std::nullopt);
  EXPECT_EQ(keysymForVirtualKey(0xFFFF), std::nullopt);
}

// A slip in the table (two codes for one key, a letter left out) would type
// the wrong key without any other sign.
TEST(VirtualKeyTest, EveryLetterAndDigitHasExactlyOneCode) {
  std::set<xcb_keysym_t> seen;
  int letters = 0;
  int digits = 0;
  for (int code = 0; code < 0x80; ++code) {
    auto keysym = keysymForVirtualKey(static_cast<CGKeyCode>(code));
    if (!keysym)
      continue;
    EXPECT_TRUE(seen.insert(*keysym).second) << "keysym 0x" << std::hex << *keysym << " twice";
    letters += *keysym >= XK_a && *keysym <= XK_z;
    digits += *keysym >= XK_0 && *keysym <= XK_9;
  }
  EXPECT_EQ(letters, 26);
  EXPECT_EQ(digits, 10);
}

// Every key of the table reads back to its own code; what a key types only
// with Shift, or a key the codes do not name, has none.
TEST(VirtualKeyTest, KeysymsReadBackToTheirKeysUnshiftedOnly) {
  for (int code = 0; code < 0x80; ++code) {
    if (auto keysym = keysymForVirtualKey(static_cast<CGKeyCode>(code))) {
      EXPECT_EQ(virtualKeyForKeysym(*keysym), code) << "keysym 0x" << std::hex << *keysym;
    }
  }
  EXPECT_EQ(virtualKeyForKeysym(XK_T), std::nullopt);
  EXPECT_EQ(virtualKeyForKeysym(XK_exclam), std::nullopt);
  EXPECT_EQ(virtualKeyForKeysym(XK_Print), std::nullopt);
  EXPECT_EQ(virtualKeyForKeysym(XCB_NO_SYMBOL), std::nullopt);
}

TEST(ModifierRoleTest, CarbonMasksMapByRoleAndRefuseWhatXCannotExpress) {
  EXPECT_EQ(modifiersForCarbonMask(0), 0);
  EXPECT_EQ(modifiersForCarbonMask(cmdKey), kControl);
  EXPECT_EQ(modifiersForCarbonMask(shiftKey), kShift);
  EXPECT_EQ(modifiersForCarbonMask(optionKey), kMod1);
  EXPECT_EQ(modifiersForCarbonMask(controlKey), kMod4);
  EXPECT_EQ(modifiersForCarbonMask(cmdKey | shiftKey), kControl | kShift);
  EXPECT_EQ(modifiersForCarbonMask(cmdKey | shiftKey | optionKey | controlKey),
            kControl | kShift | kMod1 | kMod4);
  // Caps Lock, the right-hand modifier bits and unused bits name no chord
  // that can be grabbed here.
  EXPECT_EQ(modifiersForCarbonMask(0x0400), std::nullopt);
  EXPECT_EQ(modifiersForCarbonMask(cmdKey | 0x2000), std::nullopt);
  EXPECT_EQ(modifiersForCarbonMask(cmdKey | 0x8000), std::nullopt);
  EXPECT_EQ(modifiersForCarbonMask(0x0001), std::nullopt);
}

TEST(ModifierRoleTest, XModifiersReadBackToCarbonMasksByRole) {
  EXPECT_EQ(carbonMaskForModifiers(kControl), cmdKey);
  EXPECT_EQ(carbonMaskForModifiers(kShift), shiftKey);
  EXPECT_EQ(carbonMaskForModifiers(kMod1), optionKey);
  EXPECT_EQ(carbonMaskForModifiers(kMod4), controlKey);
  // Locks and modifiers with no role are no part of a chord.
  EXPECT_EQ(carbonMaskForModifiers(kControl | kShift | kLock | kMod2 | kMod3), cmdKey | shiftKey);
  for (std::uint32_t mask : {cmdKey | shiftKey, optionKey | controlKey, cmdKey | optionKey})
    EXPECT_EQ(carbonMaskForModifiers(*modifiersForCarbonMask(mask)), mask);
}

TEST(ModifierRoleTest, EventFlagsMapByRoleBothWays) {
  EXPECT_EQ(modifiersForEventFlags(kCGEventFlagMaskCommand), kControl);
  EXPECT_EQ(modifiersForEventFlags(kCGEventFlagMaskShift), kShift);
  EXPECT_EQ(modifiersForEventFlags(kCGEventFlagMaskAlternate), kMod1);
  EXPECT_EQ(modifiersForEventFlags(kCGEventFlagMaskControl), kMod4);
  // Caps Lock state and the numeric-pad mark describe an event; no key to press.
  EXPECT_EQ(modifiersForEventFlags(0x10000 | 0x200000 | kCGEventFlagMaskCommand), kControl);
  const CGEventFlags all = kCGEventFlagMaskCommand | kCGEventFlagMaskShift |
                           kCGEventFlagMaskAlternate | kCGEventFlagMaskControl;
  EXPECT_EQ(eventFlagsForModifiers(modifiersForEventFlags(all)), all);
  // Locks held on the X side are no flags of a chord.
  EXPECT_EQ(eventFlagsForModifiers(kControl | kLock | kMod2), kCGEventFlagMaskCommand);
}

// Keycodes 8.. with two columns each: (unshifted, shifted).
KeyboardMapping keyboard() {
  std::vector<xcb_keysym_t> table(2 * 200, XCB_NO_SYMBOL);
  auto set = [&](int keycode, xcb_keysym_t plain, xcb_keysym_t shifted) {
    table[static_cast<std::size_t>(keycode - 8) * 2] = plain;
    table[static_cast<std::size_t>(keycode - 8) * 2 + 1] = shifted;
  };
  set(30, XK_x, XK_c);  // A key that gives c only shifted.
  set(54, XK_c, XK_C);
  set(60, XK_c, XK_C);  // A second c key.
  set(37, XK_Control_L, XCB_NO_SYMBOL);
  set(105, XK_Control_R, XCB_NO_SYMBOL);
  set(50, XK_Shift_L, XCB_NO_SYMBOL);
  set(66, XK_Caps_Lock, XCB_NO_SYMBOL);
  set(64, XK_Alt_L, XK_Meta_L);
  set(77, XK_Num_Lock, XCB_NO_SYMBOL);
  set(78, XK_Scroll_Lock, XCB_NO_SYMBOL);
  set(133, XK_Super_L, XCB_NO_SYMBOL);
  set(207, XK_Hyper_L, XCB_NO_SYMBOL);
  return KeyboardMapping(8, 2, std::move(table));
}

// Two keys per modifier: Shift, Lock, Control, Mod1 .. Mod5.
ModifierMapping modifiers(xcb_keycode_t numLockAt = 4, xcb_keycode_t scrollLockAt = 0) {
  std::vector<xcb_keycode_t> keys(16, 0);
  keys[0] = 50;
  keys[2] = 66;
  keys[4] = 37;
  keys[5] = 105;
  keys[6] = 64;
  keys[numLockAt * 2] = 77;
  if (scrollLockAt)
    keys[scrollLockAt * 2] = 78;
  keys[12] = 207;  // Mod4 holds Hyper first, then Super.
  keys[13] = 133;
  return ModifierMapping(2, std::move(keys));
}

TEST(KeyboardMappingTest, FindsTheKeyThatTypesAKeysymUnshifted) {
  const KeyboardMapping map = keyboard();
  EXPECT_EQ(map.keycodeOf(XK_c), 54);
  EXPECT_EQ(map.keycodeOf(XK_C), 54);
  EXPECT_EQ(map.keycodeOf(XK_x), 30);
  EXPECT_EQ(map.keycodeOf(XK_v), std::nullopt);
  EXPECT_EQ(map.keycodeOf(XCB_NO_SYMBOL), std::nullopt);
  EXPECT_EQ(map.keysymOf(54), XK_c);
  EXPECT_EQ(map.keysymOf(54, 1), XK_C);
  EXPECT_EQ(map.keysymOf(7), XCB_NO_SYMBOL);
  EXPECT_EQ(map.keysymOf(54, 2), XCB_NO_SYMBOL);
  EXPECT_EQ(map.keysymOf(255), XCB_NO_SYMBOL);
  EXPECT_EQ(KeyboardMapping().keycodeOf(XK_c), std::nullopt);
}

TEST(ModifierMappingTest, PressesTheKeyAModifierIsNamedAfter) {
  const KeyboardMapping map = keyboard();
  const ModifierMapping mods = modifiers();
  EXPECT_EQ(mods.keycodeFor(kControl, map), 37);
  EXPECT_EQ(mods.keycodeFor(kShift, map), 50);
  EXPECT_EQ(mods.keycodeFor(kMod1, map), 64);
  EXPECT_EQ(mods.keycodeFor(kMod4, map), 133) << "Super, not the Hyper key bound first";
  EXPECT_EQ(mods.keycodeFor(kMod3, map), std::nullopt);
  EXPECT_EQ(mods.keycodeFor(kControl | kShift, map), std::nullopt);
  EXPECT_EQ(mods.modifierOf(105), kControl);
  EXPECT_EQ(mods.modifierOf(54), 0);
  EXPECT_EQ(mods.modifierOf(0), 0);
}

TEST(ModifierMappingTest, LockModifiersFollowTheLiveMap) {
  const KeyboardMapping map = keyboard();
  EXPECT_EQ(lockModifiers(modifiers(), map), kLock | kMod2);
  EXPECT_EQ(lockModifiers(modifiers(/*numLockAt=*/5), map), kLock | kMod3);
  EXPECT_EQ(lockModifiers(modifiers(4, /*scrollLockAt=*/5), map), kLock | kMod2 | kMod3);
  EXPECT_EQ(lockModifiers(ModifierMapping(), map), kLock);
}

TEST(ModifierMappingTest, EveryCombinationOfLocksIsAVariant) {
  EXPECT_EQ(lockVariants(0), std::vector<std::uint16_t>{0});
  EXPECT_EQ(lockVariants(kLock | kMod2),
            (std::vector<std::uint16_t>{0, kLock, kMod2, kLock | kMod2}));
  const auto three = lockVariants(kLock | kMod2 | kMod3);
  EXPECT_EQ(three.size(), 8u);
  EXPECT_EQ(std::set<std::uint16_t>(three.begin(), three.end()).size(), 8u);
}

TEST(ModifierMappingTest, ReadsTheKeysDownFromAKeymap) {
  std::array<std::uint8_t, 32> keymap{};
  keymap[37 / 8] |= 1u << (37 % 8);
  keymap[255 / 8] |= 1u << (255 % 8);
  keymap[8 / 8] |= 1u;
  EXPECT_EQ(keysDown(keymap), (std::vector<xcb_keycode_t>{8, 37, 255}));
}

}  // namespace
}  // namespace lumivane::platform::x11
