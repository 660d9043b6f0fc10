// What the shortcut recorder makes of a key press, without a display: the
// key by the US layout, the modifiers by role.
#include "interface/hot_key_chord.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

namespace lumivane::interface {
namespace {

constexpr auto kControl = GDK_CONTROL_MASK;
constexpr auto kShift = GDK_SHIFT_MASK;
constexpr auto kAlt = GDK_MOD1_MASK;

GdkModifierType operator|(GdkModifierType a, GdkModifierType b) {
  return static_cast<GdkModifierType>(static_cast<guint>(a) | static_cast<guint>(b));
}

// The press as the recorder sees it when the keyboard's layout is not known:
// only what the press produced.
std::variant<HotKeyChord, ChordRefusal> press(guint keyval, GdkModifierType state) {
  return chordForKeyPress({0, keyval, 0}, state);
}

HotKeyChord chord(std::uint32_t keyCode, std::uint32_t modifiers) {
  return HotKeyChord{keyCode, modifiers};
}

// Letters are their US keys whatever their case; digits and punctuation
// typed with Shift come back to the key they are on.
TEST(HotKeyChordTest, ShiftedSymbolsAreTheKeysTheyAreTypedOn) {
  EXPECT_EQ(std::get<HotKeyChord>(press(XK_t, kControl | kShift)), kStartupHotKey);
  EXPECT_EQ(std::get<HotKeyChord>(press(XK_T, kControl | kShift)), kStartupHotKey);
  EXPECT_EQ(std::get<HotKeyChord>(press(XK_l, kControl | kAlt)), chord(0x25, 0x900));
  EXPECT_EQ(std::get<HotKeyChord>(press(XK_exclam, kControl | kShift)), chord(0x12, 0x300));
  EXPECT_EQ(std::get<HotKeyChord>(press(XK_question, kControl | kShift)).keyCode, 0x2Cu);
  EXPECT_EQ(std::get<HotKeyChord>(press(XK_ISO_Left_Tab, kControl | kShift)).keyCode, 0x30u);
}

// In another layout the key is what it types alone: Shift+7 types "/" on a
// German keyboard, and the chord is still the 7 key's. A key whose active
// layout types no US symbol is read in the first layout: the Russian layout's
// "е" is on the T key of a Latin first layout.
TEST(HotKeyChordTest, TheKeysOwnSymbolDecidesOverWhatShiftOrTheLayoutMadeOfIt) {
  EXPECT_EQ(std::get<HotKeyChord>(chordForKeyPress({XK_7, XK_slash, XK_7}, kControl | kShift)),
            chord(0x1A, 0x300));
  EXPECT_EQ(std::get<HotKeyChord>(
                chordForKeyPress({XK_Cyrillic_ie, XK_Cyrillic_IE, XK_t}, kControl | kShift)),
            kStartupHotKey);
  // A letter that no US key types is no key the host can register.
  EXPECT_EQ(std::get<ChordRefusal>(
                chordForKeyPress({XK_odiaeresis, XK_odiaeresis, XK_odiaeresis}, kControl)),
            ChordRefusal::unusableKey);
}

// Control, Shift, Alt and Super by role; Super also when GDK reports only its
// virtual bit. Locks and modifiers without a role are no part of the chord.
TEST(HotKeyChordTest, ModifiersMapByRoleAndLocksAreLeftOut) {
  EXPECT_EQ(std::get<HotKeyChord>(press(XK_k, GDK_MOD4_MASK)).modifiers, platform::controlKey);
  EXPECT_EQ(std::get<HotKeyChord>(press(XK_k, GDK_SUPER_MASK)).modifiers, platform::controlKey);
  EXPECT_EQ(
      std::get<HotKeyChord>(press(XK_k, kControl | kAlt | kShift | GDK_MOD4_MASK | GDK_SUPER_MASK))
          .modifiers,
      platform::cmdKey | platform::optionKey | platform::shiftKey | platform::controlKey);
  EXPECT_EQ(std::get<HotKeyChord>(press(XK_k, kControl | GDK_LOCK_MASK | GDK_MOD2_MASK |
                                                  GDK_MOD5_MASK | GDK_BUTTON1_MASK))
                .modifiers,
            platform::cmdKey);
}

// Chords without Control, Alt or Super are refused; modifiers alone are a chord
// still being pressed; keys the host has no code for (Print, Menu, a key only
// other layouts have) make none.
TEST(HotKeyChordTest, IncompleteAndUnusableChordsAreRefused) {
  EXPECT_EQ(std::get<ChordRefusal>(press(XK_T, kShift)), ChordRefusal::noCommandModifier);
  EXPECT_EQ(std::get<ChordRefusal>(press(XK_F5, kShift | GDK_LOCK_MASK | GDK_MOD2_MASK)),
            ChordRefusal::noCommandModifier);
  for (guint modifier :
       {XK_Control_L, XK_Control_R, XK_Shift_L, XK_Alt_L, XK_Super_L, XK_ISO_Level3_Shift}) {
    EXPECT_EQ(std::get<ChordRefusal>(press(modifier, kControl)), ChordRefusal::incomplete)
        << modifier;
  }
  EXPECT_EQ(std::get<ChordRefusal>(press(XK_Print, kControl)), ChordRefusal::unusableKey);
  EXPECT_EQ(std::get<ChordRefusal>(press(XK_Menu, kAlt)), ChordRefusal::unusableKey);
  EXPECT_EQ(std::get<ChordRefusal>(press(0, kControl)), ChordRefusal::unusableKey);
}

TEST(HotKeyChordTest, ChordsAreNamedAsTheUserPressesThem) {
  EXPECT_EQ(chordName(kStartupHotKey), "Control+Shift+T");
  EXPECT_EQ(chordName(chord(0x12, platform::controlKey | platform::shiftKey)), "Shift+Super+1");
  EXPECT_EQ(chordName(chord(0x60, platform::optionKey)), "Alt+F5");
  EXPECT_EQ(chordName(chord(0x74, platform::cmdKey)), "Control+Page Up");
  EXPECT_EQ(chordName(chord(0x5B, platform::cmdKey)), "Control+Keypad 8");
  EXPECT_EQ(chordName(chord(0x0A, platform::cmdKey)), "Control+key 10");
}

}  // namespace
}  // namespace lumivane::interface
