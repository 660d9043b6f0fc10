#pragma once

#include <gdk/gdk.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/gtk/glib_handles.h"
#include "platform/gtk/gtk_hot_keys.h"

namespace lumivane::platform::x11 {

// System-wide hot keys on X11: passive key grabs on the root window of GDK's
// display, so that presses arrive on the main thread through the GTK main
// loop, where the handlers are called. Main thread only.
//
// A grab matches modifiers exactly, so each chord is grabbed once for every
// combination of the lock modifiers (Caps Lock, Num Lock, Scroll Lock, as the
// live modifier map binds them) and presses are matched with those stripped.
// A chord grabbed by another client cannot be had at all: every variant
// already taken is given back and the registration is refused with
// eventHotKeyExistsErr. After a keyboard or modifier mapping change every
// chord is grabbed again on its new key.
//
// One physical press is one delivery: autorepeat presses, which come while
// the key is held, are not delivered.
class X11HotKeys final : public gtk::GtkHotKeys {
 public:
  // Presses of the same key within this time of the previous one, with no
  // release seen in between, are taken as repeats. It is longer than any
  // usual autorepeat delay, and it keeps a release that was never seen (the
  // grab broken by another client's) from silencing the chord for good.
  static constexpr std::uint32_t kRepeatGapMilliseconds = 2000;

  // `display`: GDK's X display, kept alive as long as this object.
  explicit X11HotKeys(GdkDisplay* display);
  ~X11HotKeys() override;
  X11HotKeys(const X11HotKeys&) = delete;
  X11HotKeys& operator=(const X11HotKeys&) = delete;

  // HotKeys.
  // paramErr for a virtual key with no X key, a modifier mask X cannot
  // express, or a key the current keyboard lacks; nothing is grabbed then.
  OSStatus RegisterEventHotKey(std::uint32_t keyCode,
                               std::uint32_t modifiers,
                               EventHotKeyID hotKeyID,
                               EventTargetRef target,
                               std::uint32_t options,
                               EventHotKeyRef* outRef) override;
  OSStatus UnregisterEventHotKey(EventHotKeyRef ref) override;

 private:
  std::optional<EventHotKeyID> lastRegistered() const override;
  struct Registration;

  static GdkFilterReturn filterEvent(GdkXEvent* xevent, GdkEvent* event, gpointer self);
  static void keysChanged(GdkKeymap* keymap, gpointer self);
  void regrab();
  GdkFilterReturn handle(const GdkXEvent* xevent);
  void scheduleRegrab();
  // Where a chord is to be grabbed on the current keyboard: its key (0 when
  // the keyboard lacks it) and the lock modifiers.
  struct Grab {
    xcb_keycode_t keycode = 0;
    std::uint16_t locks = 0;
  };
  Grab grabFor(const Registration& registration);
  // Grabs every lock variant of the registration's chord, or none.
  OSStatus grab(Registration& registration, const Grab& grab);
  void ungrab(Registration& registration);
  bool grabVariant(xcb_keycode_t keycode, unsigned int modifiers);

  gtk::GObjectPtr<GdkDisplay> display_;
  // GDK's Xlib connection and its root window. Xlib stays out of this
  // header: its macros (None, Bool, Status) would reach every includer.
  void* xdisplay_ = nullptr;
  unsigned long root_ = 0;
  // Whether the server reports held keys as presses without releases.
  bool detectableAutoRepeat_ = false;
  std::vector<std::unique_ptr<Registration>> registrations_;
  // The chord asked for last, registered or not.
  gulong keysChangedHandler_ = 0;
  gtk::GSourcePtr regrabSource_;
};

}  // namespace lumivane::platform::x11
