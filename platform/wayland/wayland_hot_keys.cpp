#include "platform/wayland/wayland_hot_keys.h"

#include <glib.h>

#include <algorithm>

#include "platform/gtk/glib_handles.h"
#include "platform/gtk/global_shortcuts_portal.h"
#include "platform/gtk/key_symbols.h"
#include "platform/wayland/sway_bindings.h"
#include "platform/wayland/sway_ipc.h"

namespace lumivane::platform::wayland {
namespace {

template <typename Ref, typename T>
Ref toRef(T* object) {
  return reinterpret_cast<Ref>(object);
}

// The shortcuts format's names of the modifiers, by role.
std::string portalTrigger(std::uint16_t modifiers, const std::string& key) {
  std::string trigger;
  if (modifiers & gtk::kControlMask)
    trigger += "CTRL+";
  if (modifiers & gtk::kMod1Mask)
    trigger += "ALT+";
  if (modifiers & gtk::kShiftMask)
    trigger += "SHIFT+";
  if (modifiers & gtk::kMod4Mask)
    trigger += "LOGO+";
  return trigger + key;
}

// A path sway's command line passes to the shell unchanged.
bool plainPath(const std::string& path) {
  return !path.empty() && std::all_of(path.begin(), path.end(), [](char c) {
    return g_ascii_isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '+';
  });
}

}  // namespace

struct WaylandHotKeys::Registration {
  std::uint32_t keyCode = 0;
  std::uint32_t carbonModifiers = 0;
  EventHotKeyID id{};
  // As sway writes it.
  std::string chord;
  bool byPortal = false;
};

WaylandHotKeys::WaylandHotKeys(Options options) : options_(std::move(options)) {
  portal_ = gtk::GlobalShortcutsPortal::offeredOn(options_.bus);
  if (portal_) {
    portal_->onActivated = [this](bool pressed) {
      const auto it = std::find_if(registrations_.begin(), registrations_.end(),
                                   [](const auto& registration) { return registration->byPortal; });
      if (it != registrations_.end())
        handlers_.deliver((*it)->id, pressed ? kEventHotKeyPressed : kEventHotKeyReleased);
    };
  }
}

WaylandHotKeys::~WaylandHotKeys() {
  while (!registrations_.empty())
    UnregisterEventHotKey(toRef<EventHotKeyRef>(registrations_.back().get()));
}

OSStatus WaylandHotKeys::RegisterEventHotKey(std::uint32_t keyCode,
                                             std::uint32_t modifiers,
                                             EventHotKeyID hotKeyID,
                                             EventTargetRef target,
                                             std::uint32_t /*options*/,
                                             EventHotKeyRef* outRef) {
  const auto wanted = chordToRegister(keyCode, modifiers, hotKeyID, target, outRef);
  const auto chord = wanted ? swayChordText(wanted->modifiers, wanted->keysym) : std::nullopt;
  if (!chord)
    return paramErr;
  for (const auto& registration : registrations_) {
    if (registration->chord == *chord || (portal_ && registration->byPortal))
      return eventHotKeyExistsErr;
  }

  auto registration = std::make_unique<Registration>(
      Registration{static_cast<std::uint32_t>(keyCode), modifiers, hotKeyID, *chord, false});
  if (portal_) {
    const std::string key = chord->substr(chord->rfind('+') + 1);
    if (!portal_->bind(portalTrigger(wanted->modifiers, key), "Capture the selection with Lumivane",
                       nullptr))
      return eventHotKeyExistsErr;
    registration->byPortal = true;
  } else if (const OSStatus status = bindWithSway(*registration); status != noErr) {
    return status;
  }
  *outRef = toRef<EventHotKeyRef>(registration.get());
  registrations_.push_back(std::move(registration));
  return noErr;
}

std::optional<std::string> WaylandHotKeys::commandToBind() const {
  if (portal_ || (options_.ipc && plainPath(options_.executable)))
    return std::nullopt;
  if (options_.executable.empty())
    return "lumivane --capture";
  // As a shell would take it, which is how desktops run a shortcut's command.
  gtk::GCharPtr quoted(g_shell_quote(options_.executable.c_str()));
  return (plainPath(options_.executable) ? options_.executable : std::string(quoted.get())) +
         " --capture";
}

std::string WaylandHotKeys::bindCommand(const Registration& registration) const {
  // One press is one capture, however long the keys are held.
  return "bindsym --no-repeat " + registration.chord + " exec " + options_.executable +
         " --capture";
}

OSStatus WaylandHotKeys::bindWithSway(const Registration& registration) {
  if (!options_.ipc || !plainPath(options_.executable))
    return eventHotKeyInvalidErr;
  // A chord of the user's own configuration stays the user's.
  const auto wanted = parseSwayChord(registration.chord);
  const auto configuration = options_.ipc->configuration();
  if (!configuration || !wanted)
    return eventHotKeyInvalidErr;
  const auto bound = chordsBoundIn(*configuration);
  if (std::find(bound.begin(), bound.end(), *wanted) != bound.end())
    return eventHotKeyExistsErr;
  const auto results = options_.ipc->runCommand(bindCommand(registration));
  if (!results || results->empty() || !results->front().success)
    return eventHotKeyInvalidErr;
  return noErr;
}

OSStatus WaylandHotKeys::UnregisterEventHotKey(EventHotKeyRef ref) {
  auto it = std::find_if(
      registrations_.begin(), registrations_.end(),
      [&](const auto& registration) { return toRef<EventHotKeyRef>(registration.get()) == ref; });
  if (it == registrations_.end())
    return eventHotKeyInvalidErr;
  if ((*it)->byPortal)
    portal_->unbind();
  else if (options_.ipc)
    options_.ipc->runCommand("unbindsym " + (*it)->chord);
  registrations_.erase(it);
  return noErr;
}

std::optional<EventHotKeyID> WaylandHotKeys::lastRegistered() const {
  if (registrations_.empty())
    return std::nullopt;
  return registrations_.back()->id;
}

void WaylandHotKeys::swayReloaded() {
  for (const auto& registration : registrations_) {
    if (!registration->byPortal && options_.ipc) {
      options_.ipc->runCommand(bindCommand(*registration));
    }
  }
}

}  // namespace lumivane::platform::wayland
