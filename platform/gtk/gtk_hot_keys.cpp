#include "platform/gtk/gtk_hot_keys.h"

#include <algorithm>

#include "platform/gtk/key_symbols.h"
#include "platform/gtk/panel_embedding.h"

namespace lumivane::platform::gtk {
namespace {

// What a handler receives as its event: the registration's identity and the
// kind, for as long as the call lasts.
struct HotKeyEvent {
  EventHotKeyID id;
  std::uint32_t kind;
};

template <typename Ref, typename T>
Ref toRef(T* object) {
  return reinterpret_cast<Ref>(object);
}

}  // namespace

struct HotKeyHandlers::Handler {
  EventHandlerProcPtr handler = nullptr;
  std::vector<EventTypeSpec> types;
  void* userData = nullptr;

  bool wants(std::uint32_t kind) const {
    return std::any_of(types.begin(), types.end(), [&](const EventTypeSpec& type) {
      return type.eventClass == kEventClassKeyboard && type.eventKind == kind;
    });
  }
};

EventTargetRef GtkHotKeys::GetApplicationEventTarget() {
  return handlers_.applicationTarget();
}

OSStatus GtkHotKeys::InstallEventHandler(EventTargetRef target,
                                         EventHandlerProcPtr handler,
                                         std::uint32_t numTypes,
                                         const EventTypeSpec* list,
                                         void* userData,
                                         EventHandlerRef* outRef) {
  return handlers_.install(target, handler, numTypes, list, userData, outRef);
}

std::optional<GtkHotKeys::LinuxChord> GtkHotKeys::chordToRegister(std::uint32_t keyCode,
                                                                  std::uint32_t modifiers,
                                                                  EventHotKeyID hotKeyID,
                                                                  EventTargetRef target,
                                                                  EventHotKeyRef* outRef) {
  if (!outRef)
    return std::nullopt;
  *outRef = nullptr;
  if (target != GetApplicationEventTarget() || keyCode > 0xffff)
    return std::nullopt;
  lastAsked_ = hotKeyID;
  const auto keysym = keysymForVirtualKey(static_cast<CGKeyCode>(keyCode));
  const auto mask = modifiersForCarbonMask(modifiers);
  if (!keysym || !mask)
    return std::nullopt;
  return LinuxChord{*keysym, *mask};
}

void GtkHotKeys::pressFromOutside() {
  const std::optional<EventHotKeyID> id = lastRegistered() ? lastRegistered() : lastAsked_;
  if (!id)
    return;
  handlers_.deliver(*id, kEventHotKeyPressed);
  handlers_.deliver(*id, kEventHotKeyReleased);
}

HotKeyHandlers::HotKeyHandlers() = default;
HotKeyHandlers::~HotKeyHandlers() = default;

EventTargetRef HotKeyHandlers::applicationTarget() {
  return toRef<EventTargetRef>(&target_);
}

OSStatus HotKeyHandlers::install(EventTargetRef target,
                                 EventHandlerProcPtr handler,
                                 std::uint32_t numTypes,
                                 const EventTypeSpec* list,
                                 void* userData,
                                 EventHandlerRef* outRef) {
  if (outRef)
    *outRef = nullptr;
  if (target != applicationTarget() || !handler || (numTypes > 0 && !list))
    return paramErr;
  auto installed = std::make_unique<Handler>();
  installed->handler = handler;
  installed->types.assign(list, list + numTypes);
  installed->userData = userData;
  if (outRef)
    *outRef = toRef<EventHandlerRef>(installed.get());
  handlers_.push_back(std::move(installed));
  return noErr;
}

void HotKeyHandlers::deliver(EventHotKeyID id, std::uint32_t kind) {
  std::vector<Handler> targets;
  for (const auto& handler : handlers_) {
    if (handler->wants(kind))
      targets.push_back(*handler);
  }
  HotKeyEvent event{id, kind};
  std::uint8_t callRef = 0;
  for (const auto& target : targets) {
    target.handler(toRef<EventHandlerCallRef>(&callRef), toRef<EventRef>(&event), target.userData);
  }
}

std::optional<std::string> hotKeyCommandToBind(HotKeys& hotKeys) {
  const auto* ours = dynamic_cast<const GtkHotKeys*>(&hotKeys);
  return ours ? ours->commandToBind() : std::nullopt;
}

}  // namespace lumivane::platform::gtk
