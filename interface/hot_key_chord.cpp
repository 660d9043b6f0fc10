#include "interface/hot_key_chord.h"

#include <X11/keysym.h>
#include <gdk/gdkkeysyms.h>

#include <optional>
#include <utility>

#include "platform/x11/x11_keys.h"

namespace lumivane::interface {
namespace {

// What each symbol the US layout types with Shift is typed on.
constexpr std::pair<guint, guint> kUsShiftedSymbols[] = {
    {XK_exclam, XK_1},
    {XK_at, XK_2},
    {XK_numbersign, XK_3},
    {XK_dollar, XK_4},
    {XK_percent, XK_5},
    {XK_asciicircum, XK_6},
    {XK_ampersand, XK_7},
    {XK_asterisk, XK_8},
    {XK_parenleft, XK_9},
    {XK_parenright, XK_0},
    {XK_underscore, XK_minus},
    {XK_plus, XK_equal},
    {XK_braceleft, XK_bracketleft},
    {XK_braceright, XK_bracketright},
    {XK_bar, XK_backslash},
    {XK_colon, XK_semicolon},
    {XK_quotedbl, XK_apostrophe},
    {XK_less, XK_comma},
    {XK_greater, XK_period},
    {XK_question, XK_slash},
    {XK_asciitilde, XK_grave},
    {XK_ISO_Left_Tab, XK_Tab},
};

bool isModifierKeysym(guint keysym) {
  return (keysym >= XK_Shift_L && keysym <= XK_Hyper_R) ||
         (keysym >= XK_ISO_Lock && keysym <= XK_ISO_Level5_Lock) || keysym == XK_Mode_switch ||
         keysym == XK_Num_Lock || keysym == XK_Scroll_Lock;
}

std::optional<std::uint32_t> usKeyOf(guint keysym) {
  if (keysym >= XK_A && keysym <= XK_Z)
    keysym += XK_a - XK_A;
  for (const auto& [shifted, plain] : kUsShiftedSymbols) {
    if (keysym == shifted) {
      keysym = plain;
      break;
    }
  }
  if (auto code = platform::x11::virtualKeyForKeysym(keysym))
    return *code;
  return std::nullopt;
}

struct KeyName {
  guint keysym;
  const char* name;
};

constexpr KeyName kKeyNames[] = {
    {XK_space, "Space"},
    {XK_Return, "Enter"},
    {XK_Tab, "Tab"},
    {XK_BackSpace, "Backspace"},
    {XK_Escape, "Escape"},
    {XK_Delete, "Delete"},
    {XK_Insert, "Insert"},
    {XK_Home, "Home"},
    {XK_End, "End"},
    {XK_Prior, "Page Up"},
    {XK_Next, "Page Down"},
    {XK_Left, "Left"},
    {XK_Right, "Right"},
    {XK_Up, "Up"},
    {XK_Down, "Down"},
    {XK_Clear, "Clear"},
    {XK_KP_Enter, "Keypad Enter"},
    {XK_KP_Decimal, "Keypad ."},
    {XK_KP_Multiply, "Keypad *"},
    {XK_KP_Add, "Keypad +"},
    {XK_KP_Subtract, "Keypad -"},
    {XK_KP_Divide, "Keypad /"},
    {XK_KP_Equal, "Keypad ="},
};

std::string keyName(std::uint32_t keyCode) {
  const auto keysym = platform::x11::keysymForVirtualKey(static_cast<platform::CGKeyCode>(keyCode));
  if (!keysym) {
    char code[32];
    g_snprintf(code, sizeof code, "key %u", keyCode);
    return code;
  }
  for (const auto& [sym, name] : kKeyNames) {
    if (sym == *keysym)
      return name;
  }
  if (*keysym >= XK_a && *keysym <= XK_z)
    return std::string(1, static_cast<char>('A' + (*keysym - XK_a)));
  if (*keysym > XK_space && *keysym <= XK_asciitilde)
    return std::string(1, static_cast<char>(*keysym));
  if (*keysym >= XK_F1 && *keysym <= XK_F35)
    return "F" + std::to_string(*keysym - XK_F1 + 1);
  if (*keysym >= XK_KP_0 && *keysym <= XK_KP_9)
    return "Keypad " + std::to_string(*keysym - XK_KP_0);
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
  auto xModifiers = static_cast<std::uint16_t>(state & platform::x11::kCoreModifierBits);
  if (state & GDK_SUPER_MASK)
    xModifiers |= GDK_MOD4_MASK;
  const std::uint32_t modifiers = platform::x11::carbonMaskForModifiers(xModifiers);
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
