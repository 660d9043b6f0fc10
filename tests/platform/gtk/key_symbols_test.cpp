#include "platform/gtk/key_symbols.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include <set>

#include "platform/hot_keys.h"

namespace lumivane::platform::gtk {
namespace {

constexpr std::uint16_t kMod2 = 1u << 4;
constexpr std::uint16_t kMod3 = 1u << 5;

// A slip in the table (two codes for one key, a letter left out) would type
// the wrong key without any other sign.
TEST(VirtualKeyTest, EveryLetterAndDigitHasExactlyOneCode) {
  std::set<std::uint32_t> seen;
  int letters = 0;
  int digits = 0;
  for (int code = 0; code < 0x80; ++code) {
    auto keysym = keysymForVirtualKey(static_cast<CGKeyCode>(code));
    if (!keysym)
      continue;
    EXPECT_TRUE(seen.insert(*keysym).second) << "keysym 0x" << std::hex << *keysym << " twice";
    letters += *keysym >= GDK_KEY_a && *keysym <= GDK_KEY_z;
    digits += *keysym >= GDK_KEY_0 && *keysym <= GDK_KEY_9;
  }
  EXPECT_EQ(letters, 26);
  EXPECT_EQ(digits, 10);
  EXPECT_EQ(keysymForVirtualKey(kVK_ANSI_C), GDK_KEY_c);
  EXPECT_EQ(keysymForVirtualKey(0x3F), std::nullopt);  // Function has no key here.
}

// Every key of the table reads back to its own code; what a key types only
// with Shift, or a key the codes do not name, has none.
TEST(VirtualKeyTest, KeysymsReadBackToTheirKeysUnshiftedOnly) {
  for (int code = 0; code < 0x80; ++code) {
    if (auto keysym = keysymForVirtualKey(static_cast<CGKeyCode>(code))) {
      EXPECT_EQ(virtualKeyForKeysym(*keysym), code) << "keysym 0x" << std::hex << *keysym;
    }
  }
  EXPECT_EQ(virtualKeyForKeysym(GDK_KEY_T), std::nullopt);
  EXPECT_EQ(virtualKeyForKeysym(GDK_KEY_exclam), std::nullopt);
  EXPECT_EQ(virtualKeyForKeysym(0), std::nullopt);
}

TEST(ModifierRoleTest, CarbonMasksMapByRoleAndRefuseWhatCannotBeExpressed) {
  EXPECT_EQ(modifiersForCarbonMask(cmdKey | shiftKey | optionKey | controlKey),
            kControlMask | kShiftMask | kMod1Mask | kMod4Mask);
  // Caps Lock, the right-hand modifier bits and unused bits name no chord
  // that can be grabbed here.
  EXPECT_EQ(modifiersForCarbonMask(0x0400), std::nullopt);
  EXPECT_EQ(modifiersForCarbonMask(cmdKey | 0x2000), std::nullopt);
  EXPECT_EQ(modifiersForCarbonMask(0x0001), std::nullopt);
  // Locks and modifiers with no role are no part of a chord.
  EXPECT_EQ(carbonMaskForModifiers(kControlMask | kShiftMask | kLockMask | kMod2 | kMod3),
            cmdKey | shiftKey);
  for (std::uint32_t mask : {cmdKey | shiftKey, optionKey | controlKey, cmdKey | optionKey})
    EXPECT_EQ(carbonMaskForModifiers(*modifiersForCarbonMask(mask)), mask);
}

TEST(ModifierRoleTest, EventFlagsMapByRoleBothWays) {
  EXPECT_EQ(modifiersForEventFlags(kCGEventFlagMaskCommand), kControlMask);
  EXPECT_EQ(modifiersForEventFlags(kCGEventFlagMaskControl), kMod4Mask);
  // Caps Lock state and the numeric-pad mark describe an event; no key to press.
  EXPECT_EQ(modifiersForEventFlags(0x10000 | 0x200000 | kCGEventFlagMaskCommand), kControlMask);
  const CGEventFlags all = kCGEventFlagMaskCommand | kCGEventFlagMaskShift |
                           kCGEventFlagMaskAlternate | kCGEventFlagMaskControl;
  EXPECT_EQ(eventFlagsForModifiers(modifiersForEventFlags(all)), all);
  EXPECT_EQ(eventFlagsForModifiers(kControlMask | kLockMask | kMod2), kCGEventFlagMaskCommand);
}

}  // namespace
}  // namespace lumivane::platform::gtk
