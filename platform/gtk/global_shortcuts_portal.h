#pragma once

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/gtk/dbus_handles.h"

namespace lumivane::platform::gtk {

// The desktop portal's global shortcuts (org.freedesktop.portal.GlobalShortcuts),
// where the session offers them: the desktop binds a chord for the host and
// tells it when the chord is pressed, whatever window has the keyboard. The
// host binds one shortcut at a time; binding another replaces it (a portal
// session binds once, so each binding has a session of its own). Main thread
// only: the portal's signals arrive on the main loop.
class GlobalShortcutsPortal {
 public:
  // How long a binding waits for the portal, which may ask the user first.
  static constexpr std::chrono::seconds kAnswerBound{25};
  // How long the portal gets to say whether it offers global shortcuts.
  static constexpr std::chrono::seconds kProbeBound{3};

  // The portal on `bus` when it offers global shortcuts; null otherwise.
  static std::unique_ptr<GlobalShortcutsPortal> offeredOn(GDBusConnection* bus);

  explicit GlobalShortcutsPortal(GDBusConnection* bus);
  // Ends the binding's session.
  ~GlobalShortcutsPortal();
  GlobalShortcutsPortal(const GlobalShortcutsPortal&) = delete;
  GlobalShortcutsPortal& operator=(const GlobalShortcutsPortal&) = delete;

  // Asks the portal for `trigger` (as the shortcuts format writes chords:
  // "CTRL+SHIFT+t"), described to the user as `description`, in place of the
  // binding before. False with `error` set when the portal or the user
  // refused, or no answer came in time; no binding is left then.
  bool bind(const std::string& trigger, const std::string& description, std::string* error);
  // Ends the binding, if any.
  void unbind();

  // Called on the main thread when the bound chord is pressed (true) and
  // released (false).
  std::function<void(bool pressed)> onActivated;

 private:
  // A token no request or session of this object has had.
  std::string newToken();
  // Calls `method` of the portal with `parameters`, whose options carry
  // `token`, and waits for its request's answer; the answer's results, or
  // null with `error` set.
  GVariantPtr request(const char* method,
                      const std::string& token,
                      GVariant* parameters,
                      std::string* error);
  void closeSession();
  // A signal of the portal's, for the shortcut of this session or another.
  void delivered(GVariant* parameters, bool pressed);

  GObjectPtr<GDBusConnection> bus_;
  std::string session_;
  DBusHandle activated_;
  DBusHandle deactivated_;
  unsigned tokens_ = 0;
};

}  // namespace lumivane::platform::gtk
