#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/glib_handles.h"
#include "platform/gtk/gtk_hot_keys.h"

namespace lumivane::platform::gtk {
class GlobalShortcutsPortal;
}

namespace lumivane::platform::wayland {

class SwayIpc;

// System-wide hot keys on Wayland, which has no protocol for them: a client
// sees the keys typed into its own windows only. Main thread only; handlers
// are called from the main loop. A chord is bound, in this order of
// preference:
//   - by the desktop portal's global shortcuts, where the session offers them
//     (Plasma): the portal tells the host of presses on the session bus;
//   - by sway, through its IPC: a binding that runs `lumivane --capture`,
//     which reaches the running host as a press from outside
//     (GtkHotKeys::pressFromOutside). A chord the user's configuration binds
//     already is refused with eventHotKeyExistsErr rather than taken from
//     the user; a chord sway refuses with eventHotKeyInvalidErr. Bindings go
//     with their registrations and with this object, and are made again
//     after sway reloads its configuration (which drops them);
//   - nowhere: registration fails with eventHotKeyInvalidErr, and the user
//     binds `lumivane --capture` in the desktop's own settings.
class WaylandHotKeys final : public gtk::GtkHotKeys {
 public:
  struct Options {
    // sway's IPC; none: no sway binding.
    std::shared_ptr<SwayIpc> ipc = nullptr;
    // The lumivane executable, which a sway binding runs with --capture.
    // Only plain paths are taken, which sway's command line passes on
    // unchanged.
    std::string executable = {};
    // The session bus, where the portal is looked for; null: no portal.
    GDBusConnection* bus = nullptr;
  };

  explicit WaylandHotKeys(Options options);
  ~WaylandHotKeys() override;
  WaylandHotKeys(const WaylandHotKeys&) = delete;
  WaylandHotKeys& operator=(const WaylandHotKeys&) = delete;

  // HotKeys.
  // paramErr for a virtual key or modifier mask with no Linux counterpart.
  // The portal binds one chord at a time: a second registration beside one
  // is refused there with eventHotKeyExistsErr.
  OSStatus RegisterEventHotKey(std::uint32_t keyCode,
                               std::uint32_t modifiers,
                               EventHotKeyID hotKeyID,
                               EventTargetRef target,
                               std::uint32_t options,
                               EventHotKeyRef* outRef) override;
  OSStatus UnregisterEventHotKey(EventHotKeyRef ref) override;

  // sway has reloaded its configuration, which drops the bindings made at
  // run time: they are made again.
  void swayReloaded();

  // `lumivane --capture` (this executable's path) without a portal or sway.
  std::optional<std::string> commandToBind() const override;

 private:
  std::optional<EventHotKeyID> lastRegistered() const override;
  struct Registration;

  OSStatus bindWithSway(const Registration& registration);
  std::string bindCommand(const Registration& registration) const;

  const Options options_;
  std::unique_ptr<gtk::GlobalShortcutsPortal> portal_;
  std::vector<std::unique_ptr<Registration>> registrations_;
  // The chord asked for last, registered or not.
};

}  // namespace lumivane::platform::wayland
