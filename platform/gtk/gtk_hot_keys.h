#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/hot_keys.h"

namespace lumivane::platform::gtk {

// The handlers installed on the application's event target and the delivery
// of hot-key events to them, for the hot-key services. Main thread only.
class HotKeyHandlers {
 public:
  HotKeyHandlers();
  ~HotKeyHandlers();
  HotKeyHandlers(const HotKeyHandlers&) = delete;
  HotKeyHandlers& operator=(const HotKeyHandlers&) = delete;

  EventTargetRef applicationTarget();
  // InstallEventHandler, on the application's target only.
  OSStatus install(EventTargetRef target,
                   EventHandlerProcPtr handler,
                   std::uint32_t numTypes,
                   const EventTypeSpec* list,
                   void* userData,
                   EventHandlerRef* outRef);
  // Calls each handler of `kind` with the registration's identity. The
  // handlers may register and unregister chords, and install handlers, which
  // see only later events.
  void deliver(EventHotKeyID id, std::uint32_t kind);

 private:
  struct Target {};

  struct Handler;
  Target target_;
  std::vector<std::unique_ptr<Handler>> handlers_;
};

// A Linux hot-key service: the handlers on the application's event target
// are the same on every display; how chords are bound is the backend's.
// Besides the chords the display delivers, the user may press the host's hot
// key where the display cannot see it: a shortcut of the desktop's own (or
// one the user set up) runs `lumivane --capture`, which reaches the running
// host through the session bus (pressRunningHostHotKey).
class GtkHotKeys : public HotKeys {
 public:
  EventTargetRef GetApplicationEventTarget() final;
  OSStatus InstallEventHandler(EventTargetRef target,
                               EventHandlerProcPtr handler,
                               std::uint32_t numTypes,
                               const EventTypeSpec* list,
                               void* userData,
                               EventHandlerRef* outRef) final;

  // Delivers a press and a release of the host's hot key, as a key press
  // does: with the registration made last or, when none could be made (no
  // way to bind a chord on this desktop, so the user bound the command), the
  // one asked for last. Nothing before the first registration. Main thread.
  void pressFromOutside();

  // The command the user binds to a key in the desktop's own settings where
  // this desktop lets the host bind no chord; absent where the host binds its
  // own.
  virtual std::optional<std::string> commandToBind() const { return std::nullopt; }

 protected:
  // A chord as the Linux displays take it: a keysym and GDK modifiers.
  struct LinuxChord {
    std::uint32_t keysym = 0;
    std::uint16_t modifiers = 0;
  };
  // The checks every registration starts with: a reference to fill (cleared
  // here), the application's event target, and a key and modifiers Linux
  // has. Notes `hotKeyID` as asked for once the target is right. Absent when
  // a check fails, for which RegisterEventHotKey answers paramErr.
  std::optional<LinuxChord> chordToRegister(std::uint32_t keyCode,
                                            std::uint32_t modifiers,
                                            EventHotKeyID hotKeyID,
                                            EventTargetRef target,
                                            EventHotKeyRef* outRef);

  // The identity of the registration made last, while one stands.
  virtual std::optional<EventHotKeyID> lastRegistered() const = 0;

  HotKeyHandlers handlers_;
  // The identity the last registration asked for, made or not.
  std::optional<EventHotKeyID> lastAsked_;
};

}  // namespace lumivane::platform::gtk
