#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/notification.h"

namespace lumivane::platform {

using pid_t = std::int32_t;

// NSApplicationActivationOptions bits.
inline constexpr std::uint32_t NSApplicationActivateAllWindows = 1u << 0;
inline constexpr std::uint32_t NSApplicationActivateIgnoringOtherApps = 1u << 1;

// The workspace notification that another application became active, and the
// user-info key under which it carries that application.
inline constexpr const char* NSWorkspaceDidActivateApplicationNotification =
    "NSWorkspaceDidActivateApplicationNotification";
inline constexpr const char* NSWorkspaceApplicationKey = "NSWorkspaceApplicationKey";

// An application process, running or since exited (NSRunningApplication).
// Handles may be read on any thread; the answers are those of the moment.
class RunningApplication {
 public:
  virtual ~RunningApplication() = default;
  // Absent for processes without a bundle identifier.
  virtual std::optional<std::string> bundleIdentifier() const = 0;
  // Stays the same after the process exits.
  virtual pid_t processIdentifier() const = 0;
  // Asks the platform to bring the application to the front
  // (activateWithOptions:). False when the platform refused (it has quit, for
  // example). Main thread.
  virtual bool activateWithOptions(std::uint32_t options) = 0;
};

// A notification centre (NSNotificationCenter). Delivers on the main thread.
class NotificationCenter {
 public:
  virtual ~NotificationCenter() = default;
  // From now on calls `callback` for every notification named `name` from any
  // sender, for as long as the process lives (addObserver:selector:name:object:
  // with no object). The callback owns what it captures.
  virtual void addObserver(const std::string& name,
                           std::function<void(const Notification&)> callback) = 0;
};

// The shared workspace (NSWorkspace sharedWorkspace).
class Workspace {
 public:
  virtual ~Workspace() = default;
  // The workspace's own notification centre, distinct from the process's
  // default centre.
  virtual NotificationCenter& notificationCenter() = 0;
  // The application in front at this moment (the one receiving key events), or
  // absent. Main thread.
  virtual std::shared_ptr<RunningApplication> frontmostApplication() = 0;
};

// The application's own bundle (NSBundle mainBundle).
class Bundle {
 public:
  virtual ~Bundle() = default;
  // Absent when the application runs without a bundle identifier.
  virtual std::optional<std::string> bundleIdentifier() const = 0;
};

}  // namespace lumivane::platform
