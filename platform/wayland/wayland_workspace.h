#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/gtk/notification_center.h"
#include "platform/workspace.h"

namespace lumivane::platform::wayland {

class SwayIpc;
class WaylandToplevels;
class WaylandWorkspaceCore;

// A Wayland window's app id is the nearest thing to a bundle identifier: the
// program chooses it, all its windows carry it, and desktops match it with
// the program's desktop entry (XWayland windows carry their WM_CLASS class
// instead). GTK takes it from the program name, which the backend sets to
// "lumivane": that is the host's own bundle identifier here.
inline constexpr const char* kHostBundleIdentifier = "lumivane";

// What tells one application from another: its app id, and its process
// where sway's tree tells it (the protocol does not).
struct WaylandApplicationKey {
  std::string appId;
  pid_t pid = 0;

  bool operator==(const WaylandApplicationKey&) const = default;
};

// An application on the Wayland desktop. Its identifier and process are
// fixed when the handle is made, so a handle may be read on any thread.
class WaylandRunningApplication final : public RunningApplication {
 public:
  WaylandRunningApplication(WaylandApplicationKey key,
                            std::weak_ptr<WaylandWorkspaceCore> workspace);

  // The app id; absent for a window without one.
  std::optional<std::string> bundleIdentifier() const override;
  // 0 when sway's tree is not at hand (another compositor).
  pid_t processIdentifier() const override { return key_.pid; }
  // Asks the compositor to activate the application's window it used last
  // (else its first). False when it has no window left (it quit) or the
  // workspace has gone. Main thread.
  bool activateWithOptions(std::uint32_t options) override;

 private:
  const WaylandApplicationKey key_;
  const std::weak_ptr<WaylandWorkspaceCore> workspace_;
};

// The applications of the Wayland desktop, from the compositor's list of
// windows (foreign-toplevel management): which one is in front, and an
// announcement each time another one comes to the front. Processes come from
// sway's tree when the compositor is sway, matched by app id and title; 0
// elsewhere. Made, used and destroyed on the main thread; without a window
// list it knows no applications and announces nothing.
class WaylandWorkspace final : public Workspace {
 public:
  struct Options {
    // The list of windows, shared with the synthetic keys; none: nothing is
    // known.
    std::shared_ptr<WaylandToplevels> toplevels = nullptr;
    // sway's IPC for the windows' processes; none: every process is 0.
    std::shared_ptr<SwayIpc> ipc = nullptr;
    // The host's bundle identifier, which every window of this process
    // reports whatever its app id; absent: this process's windows are
    // treated like any other program's (tests run the workspace so).
    std::optional<std::string> hostBundleIdentifier = kHostBundleIdentifier;
  };

  explicit WaylandWorkspace(Options options);
  ~WaylandWorkspace() override;
  WaylandWorkspace(const WaylandWorkspace&) = delete;
  WaylandWorkspace& operator=(const WaylandWorkspace&) = delete;

  // Announces NSWorkspaceDidActivateApplicationNotification, as a main-loop
  // task of its own, when the activated window passes to another
  // application; a moment with no window activated in between is no change.
  NotificationCenter& notificationCenter() override;
  // The application of the activated window; absent when none is.
  std::shared_ptr<RunningApplication> frontmostApplication() override;

 private:
  std::shared_ptr<WaylandWorkspaceCore> core_;
};

}  // namespace lumivane::platform::wayland
