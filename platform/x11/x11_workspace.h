#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/gtk/notification_center.h"
#include "platform/workspace.h"
#include "platform/x11/x11_activation_order.h"

namespace lumivane::platform::x11 {

// X has no application bundles. The nearest thing to a bundle identifier is
// the class part of a window's WM_CLASS ("L3afpad", "FeatherPad"): the program
// chooses it itself, every window of the program carries the same one
// whatever the program was started as (unlike the instance part, which follows
// the command's name and `-name`), and it is the name desktops use to group a
// program's windows and to match them with the program's desktop entry. The
// host's own windows carry the class "Lumivane" (the window part of this
// backend sets it before GTK opens its display), and this is the host's own
// bundle identifier, so the host can tell its windows from every other
// application's.
inline constexpr const char* kHostBundleIdentifier = "Lumivane";

class WorkspaceCore;

// What tells one application from another on X: its process where the
// process is known (a program is one process on the desktop, whatever number
// of windows it opens), its class besides, so that a process id reused after
// its first owner exited does not bring the first one back; and where no
// process is known, the window group the program put its windows in.
struct ApplicationKey {
  pid_t pid = 0;
  std::optional<std::string> bundleIdentifier;
  // Only where `pid` is 0: the window group's leader (the window itself when
  // it names none).
  unsigned long groupLeader = 0;

  bool operator==(const ApplicationKey&) const = default;
};

// An application on the X desktop: the programs that own the windows the
// window manager lists. Identifier and process are read once, when the handle
// is made, and never change, so a handle may be read on any thread.
class X11RunningApplication final : public RunningApplication {
 public:
  X11RunningApplication(ApplicationKey key, std::weak_ptr<WorkspaceCore> workspace);

  std::optional<std::string> bundleIdentifier() const override { return key_.bundleIdentifier; }
  pid_t processIdentifier() const override { return key_.pid; }
  // Asks the window manager to activate the application's window that
  // windowToActivate chooses (the one the user used last, else its topmost;
  // the synthetic keys type into the same one), stamped with the server's
  // current time. The window manager decides how the rest of the desktop is
  // stacked, so the options change nothing here. False when the application
  // has no window left (it quit), when no window manager runs, or when the
  // workspace is gone. Main thread.
  bool activateWithOptions(std::uint32_t options) override;

 private:
  const ApplicationKey key_;
  const std::weak_ptr<WorkspaceCore> workspace_;
};

// The X desktop's applications on GDK's default display: which one is in
// front, and an announcement each time another one comes to the front.
// libwnck tells when the active window changes and which class a window
// belongs to; the window manager's own properties are read through GDK's
// connection (this runs on the main thread, as GDK does). Made, used and
// destroyed on the main thread, after GDK has opened its display; without one
// (or on a display that is not X) it knows no applications and announces
// nothing.
class X11Workspace final : public Workspace {
 public:
  struct Options {
    // The host's bundle identifier. Every window of this process reports it,
    // whatever class the window carries, so that a window of the host made
    // before its class was set (or by a library with ideas of its own) is
    // never taken for another application. Absent: this process's windows
    // are treated like any other program's (tests run the workspace as if it
    // belonged to another program this way).
    std::optional<std::string> hostBundleIdentifier = kHostBundleIdentifier;
    // Where the windows the user makes active are noted, for the synthetic
    // keys to turn to the same window of an application; a record of its
    // own when absent.
    std::shared_ptr<ActivationOrder> activationOrder;
  };

  X11Workspace();
  explicit X11Workspace(Options options);
  ~X11Workspace() override;
  X11Workspace(const X11Workspace&) = delete;
  X11Workspace& operator=(const X11Workspace&) = delete;

  // Announces NSWorkspaceDidActivateApplicationNotification when the active
  // window passes to another application, as a main-loop task of its own.
  // Moving between windows of one application is not a new activation; a
  // moment with no active window in between is not either, but coming back
  // to an application after another one is.
  NotificationCenter& notificationCenter() override;
  // The application of the window manager's active window; absent when no
  // window is active or no window manager runs.
  std::shared_ptr<RunningApplication> frontmostApplication() override;

  // False when there was no X display to watch.
  bool connected() const;

 private:
  std::shared_ptr<WorkspaceCore> core_;
};

}  // namespace lumivane::platform::x11
