#include "platform/sim/sim_hot_keys.h"

#include <algorithm>

#include "platform/sim/sim_clock.h"

namespace lumivane::platform::sim {

struct SimHotKeys::Registration {
  HotKeyChord chord;
  EventHotKeyID id;
  std::uint64_t order;
};

struct SimHotKeys::Handler {
  InstalledHandler installed;
};

namespace {
template <typename Ref, typename T>
Ref toRef(T* object) {
  return reinterpret_cast<Ref>(object);
}
}  // namespace

SimHotKeys::SimHotKeys(SimClock& clock, SimTrace& trace, MisuseLog& misuse)
    : clock_(clock), trace_(trace), misuse_(misuse) {}

SimHotKeys::~SimHotKeys() = default;

EventTargetRef SimHotKeys::GetApplicationEventTarget() {
  return toRef<EventTargetRef>(&applicationTarget_);
}

OSStatus SimHotKeys::InstallEventHandler(EventTargetRef target,
                                         EventHandlerProcPtr handler,
                                         std::uint32_t numTypes,
                                         const EventTypeSpec* list,
                                         void* userData,
                                         EventHandlerRef* outRef) {
  misuse_.requireMainThread("InstallEventHandler");
  if (target != GetApplicationEventTarget() || !handler || (numTypes > 0 && !list)) {
    if (outRef) {
      *outRef = nullptr;
    }
    return paramErr;
  }
  auto installed = std::make_unique<Handler>();
  installed->installed = InstalledHandler{handler, {list, list + numTypes}, userData};
  if (outRef) {
    *outRef = toRef<EventHandlerRef>(installed.get());
  }
  handlers_.push_back(std::move(installed));
  return noErr;
}

OSStatus SimHotKeys::RegisterEventHotKey(std::uint32_t keyCode,
                                         std::uint32_t modifiers,
                                         EventHotKeyID hotKeyID,
                                         EventTargetRef target,
                                         std::uint32_t /*options*/,
                                         EventHotKeyRef* outRef) {
  misuse_.requireMainThread("RegisterEventHotKey");
  if (!outRef) {
    return paramErr;
  }
  *outRef = nullptr;
  if (target != GetApplicationEventTarget()) {
    return paramErr;
  }
  const HotKeyChord chord{keyCode, modifiers};
  const bool heldByHost =
      std::any_of(registrations_.begin(), registrations_.end(),
                  [&](const auto& entry) { return entry.second->chord == chord; });
  if (heldElsewhere_.count(chord) || heldByHost) {
    traceChord(TraceKind::hotKeyRegistered, chord,
               {"status", std::to_string(eventHotKeyExistsErr)});
    return eventHotKeyExistsErr;
  }
  auto registration = std::make_unique<Registration>(Registration{chord, hotKeyID, ++nextOrder_});
  const void* key = registration.get();
  registrations_.emplace(key, std::move(registration));
  *outRef = toRef<EventHotKeyRef>(const_cast<void*>(key));
  traceChord(TraceKind::hotKeyRegistered, chord, {"status", std::to_string(noErr)});
  return noErr;
}

OSStatus SimHotKeys::UnregisterEventHotKey(EventHotKeyRef ref) {
  misuse_.requireMainThread("UnregisterEventHotKey");
  auto it = registrations_.find(ref);
  if (it == registrations_.end()) {
    return eventHotKeyInvalidErr;
  }
  const HotKeyChord chord = it->second->chord;
  registrations_.erase(it);
  traceChord(TraceKind::hotKeyUnregistered, chord);
  return noErr;
}

void SimHotKeys::takeHotKey(std::uint32_t keyCode, std::uint32_t modifiers) {
  heldElsewhere_.insert({keyCode, modifiers});
}

void SimHotKeys::releaseHotKey(std::uint32_t keyCode, std::uint32_t modifiers) {
  heldElsewhere_.erase({keyCode, modifiers});
}

void SimHotKeys::pressKey(std::uint32_t keyCode, std::uint32_t modifiers) {
  const HotKeyChord chord{keyCode, modifiers};
  clock_.scheduleOnMain(clock_.now(), [this, chord] { deliver(chord); });
}

void SimHotKeys::deliver(HotKeyChord chord) {
  HotKeyPress press{clock_.now(), chord, false, {}};
  const bool registered =
      std::any_of(registrations_.begin(), registrations_.end(),
                  [&](const auto& entry) { return entry.second->chord == chord; });
  traceChord(TraceKind::hotKeyPressed, chord, {"delivered", formatBool(registered)});
  if (registered) {
    press.delivered = true;
    // Handlers installed while this press is delivered see only later ones.
    std::vector<InstalledHandler> targets;
    for (const auto& handler : handlers_) {
      const auto& types = handler->installed.types;
      if (std::any_of(types.begin(), types.end(), [](const EventTypeSpec& type) {
            return type.eventClass == kEventClassKeyboard && type.eventKind == kEventHotKeyPressed;
          })) {
        targets.push_back(handler->installed);
      }
    }
    for (const auto& target : targets) {
      press.handlerResults.push_back(target.handler(toRef<EventHandlerCallRef>(&fakeCallRef_),
                                                    toRef<EventRef>(&fakeEvent_), target.userData));
    }
  }
  presses_.push_back(std::move(press));
}

void SimHotKeys::traceChord(TraceKind kind,
                            HotKeyChord chord,
                            std::pair<std::string, std::string> outcome) {
  std::vector<std::pair<std::string, std::string>> fields{
      {"keyCode", std::to_string(chord.keyCode)}, {"modifiers", formatHex(chord.modifiers)}};
  if (!outcome.first.empty()) {
    fields.push_back(std::move(outcome));
  }
  trace_.emit(kind, std::move(fields));
}

std::vector<HotKeyRegistration> SimHotKeys::registrations() const {
  std::vector<std::pair<std::uint64_t, HotKeyRegistration>> ordered;
  for (const auto& [key, registration] : registrations_) {
    ordered.emplace_back(registration->order,
                         HotKeyRegistration{registration->chord, registration->id,
                                            toRef<EventHotKeyRef>(const_cast<void*>(key))});
  }
  std::sort(ordered.begin(), ordered.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<HotKeyRegistration> result;
  result.reserve(ordered.size());
  for (auto& entry : ordered) {
    result.push_back(entry.second);
  }
  return result;
}

std::vector<InstalledHandler> SimHotKeys::handlers() const {
  std::vector<InstalledHandler> result;
  for (const auto& handler : handlers_) {
    result.push_back(handler->installed);
  }
  return result;
}

std::vector<HotKeyPress> SimHotKeys::presses() const {
  return presses_;
}

}  // namespace lumivane::platform::sim
