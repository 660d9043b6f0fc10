#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/event.h"
#include "platform/notification.h"

namespace lumivane::platform {

// Something that answers target/action messages (an NSResponder as a control's
// target, or the end of the responder chain). Main thread only.
class Responder {
 public:
  virtual ~Responder() = default;
  // Performs the action named by `selector` (for example "terminate:"). False
  // when this responder does not implement it, so the message travels on.
  virtual bool performAction(const std::string& selector) = 0;
};

// The application's delegate (NSApplicationDelegate). Called on the main thread.
class ApplicationDelegate : public Responder {
 public:
  virtual void applicationDidFinishLaunching(const Notification& notification) = 0;
  virtual bool applicationShouldTerminateAfterLastWindowClosed() = 0;
  virtual bool applicationShouldHandleReopen(bool hasVisibleWindows) = 0;
  virtual bool applicationSupportsSecureRestorableState() = 0;
  // The application is about to end (terminate:), before the platform lets
  // go of anything: the last moment to give back what the application has
  // borrowed, since work it deferred will never run. Called once; nothing by
  // default.
  virtual void applicationWillTerminate(const Notification& /*notification*/) {}
};

// The one application object (NSApp). Main thread only.
class Application {
 public:
  virtual ~Application() = default;

  // The delegate is held weakly, as Cocoa does; whoever created it owns it.
  virtual void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) = 0;
  // Absent when none was set or it has been released.
  virtual std::shared_ptr<ApplicationDelegate> delegate() const = 0;

  // The event being handled right now, or absent outside event handling.
  virtual std::optional<Event> currentEvent() const = 0;

  // Makes this application the active one (activateIgnoringOtherApps:).
  virtual void activateIgnoringOtherApps(bool flag) = 0;

  // Ends the application (terminate:): the main loop stops after the current
  // event and NSApplicationMain's caller exits. Never returns to a later event.
  virtual void terminate() = 0;

  // The main loop (the part of NSApplicationMain after the main user-interface
  // file has loaded): tells the delegate that launching finished, then handles
  // events until terminate. Returns the process's exit status.
  virtual int run() = 0;
};

}  // namespace lumivane::platform
