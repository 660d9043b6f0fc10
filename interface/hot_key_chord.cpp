#include "interface/hot_key_chord.h"

#include <gdk/gdkkeysyms.h>

#include <optional>
#include <utility>

#include "platform/gtk/panel_embedding.h"

namespace lumivane::interface {
namespace {

// What each symbol the US layout types with Shift is typed on.
constexpr std::pair<guint, guint> kUsShiftedSymbols[] = {
    {GDK_KEY_exclam, GDK_KEY_1},
    {GDK_KEY_at, GDK_KEY_2},
    {GDK_KEY_numbersign, GDK_KEY_3},
    {GDK_KEY_dollar, GDK_KEY_4},
    {GDK_KEY_percent, GDK_KEY_5},
    {GDK_KEY_asciicircum, GDK_KEY_6},
    {GDK_KEY_ampersand, GDK_KEY_7},
    {GDK_KEY_asterisk, GDK_KEY_8},
    {GDK_KEY_parenleft, GDK_KEY_9},
    {GDK_KEY_parenright, GDK_KEY_0},
    {GDK_KEY_underscore, GDK_KEY_minus},
    {GDK_KEY_plus, GDK_KEY_equal},
    {GDK_KEY_braceleft, GDK_KEY_bracketleft},
    {GDK_KEY_braceright, GDK_KEY_bracketright},
    {GDK_KEY_bar, GDK_KEY_backslash},
    {GDK_KEY_colon, GDK_KEY_semicolon},
    {GDK_KEY_quotedbl, GDK_KEY_apostrophe},
    {GDK_KEY_less, GDK_KEY_comma},
    {GDK_KEY_greater, GDK_KEY_period},
    {GDK_KEY_question, GDK_KEY_slash},
    {GDK_KEY_asciitilde, GDK_KEY_grave},
    {GDK_KEY_ISO_Left_Tab, GDK_KEY_Tab},
};

bool isModifierKeysym(guint keysym) {
  return (keysym >= GDK_KEY_Shift_L && keysym <= GDK_KEY_Hyper_R) ||
         (keysym >= GDK_KEY_ISO_Lock && keysym <= GDK_KEY_ISO_Level5_Lock) ||
         keysym == GDK_KEY_Mode_switch || keysym == GDK_KEY_Num_Lock ||
         keysym == GDK_KEY_Scroll_Lock;
}

std::optional<std::uint32_t> usKeyOf(guint keysym) {
  if (keysym >= GDK_KEY_A && keysym <= GDK_KEY_Z)
    keysym += GDK_KEY_a - GDK_KEY_A;
  for (const auto& [shifted, plain] : kUsShiftedSymbols) {
    if (keysym == shifted) {
      keysym = plain;
      break;
    }
  }
  if (auto code = platform::gtk::virtualKeyForKeysym(keysym))
    return *code;
  return std::nullopt;
}

struct KeyName {
  guint keysym;
  const char* name;
};

constexpr KeyName kKeyNames[] = {
    {GDK_KEY_space, "Space"},
    {GDK_KEY_Return, "Enter"},
    {GDK_KEY_Tab, "Tab"},
    {GDK_KEY_BackSpace, "Backspace"},
    {GDK_KEY_Escape, "Escape"},
    {GDK_KEY_Delete, "Delete"},
    {GDK_KEY_Insert, "Insert"},
    {GDK_KEY_Home, "Home"},
    {GDK_KEY_End, "End"},
    {GDK_KEY_Prior, "Page Up"},
    {GDK_KEY_Next, "Page Down"},
    {GDK_KEY_Left, "Left"},
    {GDK_KEY_Right, "Right"},
    {GDK_KEY_Up, "Up"},
    {GDK_KEY_Down, "Down"},
    {GDK_KEY_Clear, "Clear"},
    {GDK_KEY_KP_Enter, "Keypad Enter"},
    {GDK_KEY_KP_Decimal, "Keypad ."},
    {GDK_KEY_KP_Multiply, "Keypad *"},
    {GDK_KEY_KP_Add, "Keypad +"},
    {GDK_KEY_KP_Subtract, "Keypad -"},
    {GDK_KEY_KP_Divide, "Keypad /"},
    {GDK_KEY_KP_Equal, "Keypad ="},
};

std::string keyName(std::uint32_t keyCode) {
  const auto keysym = platform::gtk::keysymForVirtualKey(static_cast<platform::CGKeyCode>(keyCode));
  if (!keysym) {
    char code[32];
    g_snprintf(code, sizeof code, "key %u", keyCode);
    return code;
  }
  for (const auto& [sym, name] : kKeyNames) {
    if (sym == *keysym)
      return name;
  }
  if (*keysym >= GDK_KEY_a && *keysym <= GDK_KEY_z)
    return std::string(1, static_cast<char>('A' + (*keysym - GDK_KEY_a)));
  if (*keysym > GDK_KEY_space && *keysym <= GDK_KEY_asciitilde)
    return std::string(1, static_cast<char>(*keysym));
  if (*keysym >= GDK_KEY_F1 && *keysym <= GDK_KEY_F35)
    return "F" + std::to_string(*keysym - GDK_KEY_F1 + 1);
  if (*keysym >= GDK_KEY_KP_0 && *keysym <= GDK_KEY_KP_9)
    return "Keypad " + std::to_string(*keysym - GDK_KEY_KP_0);
  // The rest (volume keys and the like) by their X names.
  const char* name = gdk_keyval_name(*keysym);
  return name ? name : "key " + std::to_string(keyCode);
}

}  // namespace

std::variant<HotKeyChord, ChordRefusal> chordForKeyPress(std::initializer_list<guint> keysyms,
                                                         GdkModifierType state) {
  std::optional<std::uint32_t> keyCode;
  bool sawKey = false;
  bool sawModifier = false;
  for (guint keysym : keysyms) {
    if (keysym == 0 || keyCode)
      continue;
    if (isModifierKeysym(keysym)) {
      sawModifier = true;
      continue;
    }
    sawKey = true;
    keyCode = usKeyOf(keysym);
  }
  if (!keyCode)
    return sawModifier && !sawKey ? ChordRefusal::incomplete : ChordRefusal::unusableKey;
  // GDK reports Super as a virtual modifier besides the real one it is bound
  // to; the host's Control role is Super on Mod4.
  auto xModifiers = static_cast<std::uint16_t>(state & platform::gtk::kCoreModifierBits);
  if (state & GDK_SUPER_MASK)
    xModifiers |= GDK_MOD4_MASK;
  const std::uint32_t modifiers = platform::gtk::carbonMaskForModifiers(xModifiers);
  if (!(modifiers & (platform::cmdKey | platform::optionKey | platform::controlKey)))
    return ChordRefusal::noCommandModifier;
  return HotKeyChord{*keyCode, modifiers};
}

std::string chordName(const HotKeyChord& chord) {
  std::string name;
  for (const auto& [bit, word] :
       {std::pair{platform::cmdKey, "Control"}, std::pair{platform::optionKey, "Alt"},
        std::pair{platform::shiftKey, "Shift"}, std::pair{platform::controlKey, "Super"}}) {
    if (chord.modifiers & bit)
      name += std::string(word) + "+";
  }
  return name + keyName(chord.keyCode);
}

}  // namespace lumivane::interface
