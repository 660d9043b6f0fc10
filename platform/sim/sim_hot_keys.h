#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/hot_keys.h"
#include "platform/sim/sim_common.h"

namespace lumivane::platform::sim {

class SimClock;

struct HotKeyChord {
  std::uint32_t keyCode = 0;
  std::uint32_t modifiers = 0;
  friend bool operator==(const HotKeyChord&, const HotKeyChord&) = default;
  friend bool operator<(const HotKeyChord& a, const HotKeyChord& b) {
    return a.keyCode != b.keyCode ? a.keyCode < b.keyCode : a.modifiers < b.modifiers;
  }
};

struct HotKeyRegistration {
  HotKeyChord chord;
  EventHotKeyID id{};
  EventHotKeyRef ref = nullptr;
};

struct InstalledHandler {
  EventHandlerProcPtr handler = nullptr;
  std::vector<EventTypeSpec> types;
  void* userData = nullptr;
};

// A key press as the sim delivered it.
struct HotKeyPress {
  double time = 0;
  HotKeyChord chord;
  // False when the chord was not one of the host's registrations.
  bool delivered = false;
  // What each called handler returned, in call order.
  std::vector<OSStatus> handlerResults;
};

// The Carbon Event Manager's hot keys: system-wide chords, some of which other
// applications hold, and the host's own registrations and handlers.
class SimHotKeys final : public HotKeys {
 public:
  SimHotKeys(SimClock& clock, SimTrace& trace, MisuseLog& misuse);
  ~SimHotKeys() override;

  // HotKeys.
  EventTargetRef GetApplicationEventTarget() override;
  OSStatus InstallEventHandler(EventTargetRef target,
                               EventHandlerProcPtr handler,
                               std::uint32_t numTypes,
                               const EventTypeSpec* list,
                               void* userData,
                               EventHandlerRef* outRef) override;
  OSStatus RegisterEventHotKey(std::uint32_t keyCode,
                               std::uint32_t modifiers,
                               EventHotKeyID hotKeyID,
                               EventTargetRef target,
                               std::uint32_t options,
                               EventHotKeyRef* outRef) override;
  OSStatus UnregisterEventHotKey(EventHotKeyRef ref) override;

  // Scripting. Another application holds (or lets go of) a chord.
  void takeHotKey(std::uint32_t keyCode, std::uint32_t modifiers);
  void releaseHotKey(std::uint32_t keyCode, std::uint32_t modifiers);
  // The user presses a chord: delivered on the main thread at the current
  // time to the handlers of a matching registration of the host.
  void pressKey(std::uint32_t keyCode, std::uint32_t modifiers);

  // Inspection.
  std::vector<HotKeyRegistration> registrations() const;
  std::vector<InstalledHandler> handlers() const;
  std::vector<HotKeyPress> presses() const;

 private:
  struct Target {};
  struct Registration;
  struct Handler;
  void deliver(HotKeyChord chord);

  void traceChord(TraceKind kind,
                  HotKeyChord chord,
                  std::pair<std::string, std::string> outcome = {});

  SimClock& clock_;
  SimTrace& trace_;
  MisuseLog& misuse_;
  Target applicationTarget_;
  std::set<HotKeyChord> heldElsewhere_;
  std::map<const void*, std::unique_ptr<Registration>> registrations_;
  std::uint64_t nextOrder_ = 0;
  std::vector<std::unique_ptr<Handler>> handlers_;
  std::vector<HotKeyPress> presses_;
  // Stand-ins for the call reference and event a Carbon handler receives.
  std::uint8_t fakeCallRef_ = 0;
  std::uint8_t fakeEvent_ = 0;
};

}  // namespace lumivane::platform::sim
