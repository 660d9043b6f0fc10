#pragma once

#include <gio/gio.h>
#include <glib.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/gtk/glib_handles.h"

namespace lumivane::platform::gtk {

class GtkWindowList;
class WindowSystem;

// The host's identity on the desktop: WM_CLASS "lumivane", "Lumivane".
inline constexpr const char* kProgramName = "lumivane";
inline constexpr const char* kProgramClass = "Lumivane";

// Gives the process the host's identity and opens GTK's display with the GDK
// backend `gdkBackend` ("x11", "wayland"). Every GTK part of a desktop
// backend needs it first; calling it again does nothing. False with `error`
// set when no display can be opened.
bool initializeGtk(const char* gdkBackend, std::string* error);

// Whether a session bus can be reached without starting one: GLib would
// otherwise launch a bus of its own for the display.
bool sessionBusAvailable();

// The running host's action that a press of its hot key outside the
// display's sight activates (see pressRunningHostHotKey).
inline constexpr const char* kCaptureAction = "capture";

// Asks the host running under `applicationId` on the session bus to act as
// if its hot key had been pressed: `lumivane --capture`, for a shortcut of
// the desktop's own to run where the host cannot bind one. Waits for the
// host's answer, within a bound. False with `error` saying why when no host
// runs or the bus cannot be reached.
bool pressRunningHostHotKey(const std::string& applicationId, std::string* error);

// The modifier keys of a GDK event's state (GdkModifierType bits) by role:
// Control is the key of the host's chords.
std::uint64_t modifierFlagsOfGdkState(guint state);

struct GtkApplicationOptions {
  // The name the running host is known by on the session bus.
  std::string applicationId = "com.lumivane.Lumivane";
  // Whether starting the host while it runs asks the running one to reopen
  // instead. Without a session bus the application runs without it.
  bool unique = true;
  // What the host's windows ask the display system; GTK's own view of it
  // when null.
  std::shared_ptr<WindowSystem> windowSystem;
};

// NSApp on the GTK main loop. Main thread only; GTK must be initialized.
//
// run() registers the application on the session bus. When another process
// already runs under the same id, that one is asked to reopen (its delegate's
// applicationShouldHandleReopen) and run() returns 0 at once, having launched
// nothing. Otherwise the delegate hears that launching finished on the loop's
// first turn, and the loop runs until terminate(), which SIGTERM, SIGINT and
// SIGHUP (the session ending) also call while the loop runs.
class GtkHostApplication final : public Application {
 public:
  explicit GtkHostApplication(GtkApplicationOptions options = {});
  ~GtkHostApplication() override;
  GtkHostApplication(const GtkHostApplication&) = delete;
  GtkHostApplication& operator=(const GtkHostApplication&) = delete;

  void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) override;
  std::shared_ptr<ApplicationDelegate> delegate() const override;
  // The event set by the innermost HandlingEvent, else the GDK event GTK is
  // dispatching (a button, motion or key event); absent outside both.
  std::optional<Event> currentEvent() const override;
  // Brings the host's window that was last made key (or any visible one)
  // forward and gives it the keyboard. Nothing when no window is visible.
  void activateIgnoringOtherApps(bool flag) override;
  // Tells the delegate that the application will terminate, then runs the
  // termination hooks, once each; then stops the loop after the current
  // event. Called before run(), run() returns at once.
  void terminate() override;
  int run() override;

  // Whether terminate() has been called.
  bool isTerminating() const { return terminating_; }

  // Calls `handler` on the main thread each time another process asks for
  // kCaptureAction (pressRunningHostHotKey) while run() runs as the one
  // host on the bus. Replaces the handler before.
  void onCaptureAsked(std::function<void()> handler) { captureAsked_ = std::move(handler); }

  // Sends `selector` down the responder chain: `target`, the delegate, then
  // the application itself, which handles "terminate:". True when one of
  // them handled it.
  bool sendAction(const std::string& selector, const std::shared_ptr<Responder>& target);

  // Work the backend must do when the host ends (the clipboard handing its
  // contents on). A registered hook runs once, on the main thread, in
  // registration order, inside terminate() and so before the loop stops. The
  // returned registration removes the hook when it goes.
  class TerminationHook {
   public:
    TerminationHook() = default;
    TerminationHook(TerminationHook&& other) noexcept;
    TerminationHook& operator=(TerminationHook&& other) noexcept;
    ~TerminationHook();

   private:
    friend class GtkHostApplication;
    TerminationHook(std::weak_ptr<GtkHostApplication*> owner, std::uint64_t id)
        : owner_(std::move(owner)), id_(id) {}
    std::weak_ptr<GtkHostApplication*> owner_;
    std::uint64_t id_ = 0;
  };
  [[nodiscard]] TerminationHook addTerminationHook(std::function<void()> hook);

  // Makes currentEvent() answer `event` while it lives, for events the
  // backend synthesizes (the status icon's clicks). Scopes nest.
  class HandlingEvent {
   public:
    HandlingEvent(GtkHostApplication& application, const Event& event);
    ~HandlingEvent();
    HandlingEvent(const HandlingEvent&) = delete;
    HandlingEvent& operator=(const HandlingEvent&) = delete;

   private:
    GtkHostApplication& application_;
  };

  // The host's windows, shared with the window factory.
  const std::shared_ptr<GtkWindowList>& windows() const { return windows_; }

 private:
  bool registerUniquely();
  void launch();
  void reopen();
  void lastWindowClosed();

  GtkApplicationOptions options_;
  std::weak_ptr<ApplicationDelegate> delegate_;
  std::shared_ptr<GtkWindowList> windows_;
  std::vector<Event> handling_;
  std::map<std::uint64_t, std::function<void()>> hooks_;
  std::function<void()> captureAsked_;
  std::uint64_t nextHookId_ = 1;
  // What termination-hook registrations find this object through.
  std::shared_ptr<GtkHostApplication*> self_;
  GObjectPtr<GApplication> gapplication_;
  GMainLoop* loop_ = nullptr;  // While run() runs.
  bool terminating_ = false;
};

}  // namespace lumivane::platform::gtk
