#pragma once

// What the key recorders of the X11 and Wayland tests print, in the host's
// terms.

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/contract/keyboard_contract.h"

namespace lumivane::contract {

// A recorder's line ("press c Control+Shift": the key's unshifted keysym and
// the modifiers held) as the application received the key; absent for a
// modifier key's own line: what the host cares about is the state each key
// came with. A key the host never names is 0xffff; a modifier with no role
// in the host's flags (a lock) is a bit no chord has.
inline std::optional<ReceivedKey> receivedKeyOf(const std::string& line) {
  static const std::set<std::string> kModifierKeys = {
      "Shift_L", "Shift_R", "Control_L", "Control_R", "Alt_L",    "Alt_R",           "Meta_L",
      "Meta_R",  "Super_L", "Super_R",   "Caps_Lock", "Num_Lock", "ISO_Level3_Shift"};
  struct Named {
    const char* name;
    std::uint64_t value;
  };
  static constexpr Named kKeys[] = {
      {"c", platform::kVK_ANSI_C}, {"v", platform::kVK_ANSI_V}, {"t", platform::kVK_ANSI_T}};
  // The host's roles: Command is the Control key on Linux, its Control is
  // Super (Mod4).
  static constexpr Named kRoles[] = {{"Control", platform::kCGEventFlagMaskCommand},
                                     {"Shift", platform::kCGEventFlagMaskShift},
                                     {"Mod1", platform::kCGEventFlagMaskAlternate},
                                     {"Mod4", platform::kCGEventFlagMaskControl}};
  std::istringstream words(line);
  std::string kind, name, state;
  words >> kind >> name >> state;
  if (kModifierKeys.contains(name))
    return std::nullopt;
  ReceivedKey key;
  key.down = kind == "press";
  const auto* known = std::find_if(std::begin(kKeys), std::end(kKeys),
                                   [&](const Named& k) { return name == k.name; });
  key.keyCode = known != std::end(kKeys) ? static_cast<platform::CGKeyCode>(known->value) : 0xffff;
  std::istringstream names(state);
  for (std::string modifier; std::getline(names, modifier, '+');) {
    if (modifier == "none")
      continue;
    const auto* role = std::find_if(std::begin(kRoles), std::end(kRoles),
                                    [&](const Named& r) { return modifier == r.name; });
    key.flags |= role != std::end(kRoles) ? role->value : 1u;
  }
  return key;
}

// `keys` with the keys `recorder` has printed since it was last asked added;
// as they were, with a failure, once the recorder stops answering.
template <typename Recorder>
std::vector<ReceivedKey>& addReceivedKeys(Recorder& recorder, std::vector<ReceivedKey>& keys) {
  auto lines = recorder.linesUpToNow();
  if (!lines) {
    ADD_FAILURE() << "a key recorder stopped answering";
    return keys;
  }
  for (const auto& line : *lines) {
    if (auto key = receivedKeyOf(line))
      keys.push_back(*key);
  }
  return keys;
}

}  // namespace lumivane::contract
