#include "platform/x11/x11_hot_keys.h"

#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <gdk/gdkx.h>

#include <algorithm>

#include "platform/x11/x11_keyboard_mapping.h"

namespace lumivane::platform::x11 {

struct X11HotKeys::Registration {
  std::uint32_t keyCode = 0;
  std::uint32_t carbonModifiers = 0;
  EventHotKeyID id{};
  xcb_keysym_t keysym = XCB_NO_SYMBOL;
  std::uint16_t modifiers = 0;
  // What is grabbed now: the key, and the lock combinations on top of
  // `modifiers`. No key while the chord cannot be had.
  xcb_keycode_t keycode = 0;
  std::uint16_t locks = 0;
  std::vector<std::uint16_t> grabbed;
  // The physical press under way, to tell repeats from new presses.
  bool down = false;
  Time lastPress = 0;
  Time lastRelease = 0;
};

namespace {

template <typename Ref, typename T>
Ref toRef(T* object) {
  return reinterpret_cast<Ref>(object);
}

Display* xlib(void* display) {
  return static_cast<Display*>(display);
}

}  // namespace

X11HotKeys::X11HotKeys(GdkDisplay* display)
    : display_(GDK_IS_X11_DISPLAY(display) ? GDK_DISPLAY(g_object_ref(display)) : nullptr) {
  if (!display_)
    return;
  xdisplay_ = gdk_x11_display_get_xdisplay(display_.get());
  root_ = DefaultRootWindow(xlib(xdisplay_));
  Bool supported = False;
  detectableAutoRepeat_ = XkbGetDetectableAutoRepeat(xlib(xdisplay_), &supported) && supported;
  gdk_window_add_filter(nullptr, &X11HotKeys::filterEvent, this);
  keysChangedHandler_ = g_signal_connect(gdk_keymap_get_for_display(display_.get()), "keys-changed",
                                         G_CALLBACK(&X11HotKeys::keysChanged), this);
}

X11HotKeys::~X11HotKeys() {
  if (!display_)
    return;
  regrabSource_.reset();
  g_signal_handler_disconnect(gdk_keymap_get_for_display(display_.get()), keysChangedHandler_);
  gdk_window_remove_filter(nullptr, &X11HotKeys::filterEvent, this);
  if (!gdk_display_is_closed(display_.get())) {
    for (auto& registration : registrations_)
      ungrab(*registration);
    XFlush(xlib(xdisplay_));
  }
}

OSStatus X11HotKeys::RegisterEventHotKey(std::uint32_t keyCode,
                                         std::uint32_t modifiers,
                                         EventHotKeyID hotKeyID,
                                         EventTargetRef target,
                                         std::uint32_t /*options*/,
                                         EventHotKeyRef* outRef) {
  const auto chord = chordToRegister(keyCode, modifiers, hotKeyID, target, outRef);
  if (!chord)
    return paramErr;
  // X lets a client grab its own chord twice without complaint; the chord is
  // taken all the same.
  for (const auto& registration : registrations_) {
    if (registration->keyCode == keyCode && registration->carbonModifiers == modifiers)
      return eventHotKeyExistsErr;
  }
  if (!xdisplay_ || gdk_display_is_closed(display_.get()))
    return eventHotKeyExistsErr;

  auto registration = std::make_unique<Registration>();
  registration->keyCode = keyCode;
  registration->carbonModifiers = modifiers;
  registration->id = hotKeyID;
  registration->keysym = chord->keysym;
  registration->modifiers = chord->modifiers;
  const OSStatus status = grab(*registration, grabFor(*registration));
  if (status != noErr)
    return status;
  *outRef = toRef<EventHotKeyRef>(registration.get());
  registrations_.push_back(std::move(registration));
  return noErr;
}

OSStatus X11HotKeys::UnregisterEventHotKey(EventHotKeyRef ref) {
  auto it = std::find_if(
      registrations_.begin(), registrations_.end(),
      [&](const auto& registration) { return toRef<EventHotKeyRef>(registration.get()) == ref; });
  if (it == registrations_.end())
    return eventHotKeyInvalidErr;
  if (!gdk_display_is_closed(display_.get())) {
    ungrab(**it);
    XFlush(xlib(xdisplay_));
  }
  registrations_.erase(it);
  return noErr;
}

// Grabs ----------------------------------------------------------------------------

X11HotKeys::Grab X11HotKeys::grabFor(const Registration& registration) {
  xcb_connection_t* connection = XGetXCBConnection(xlib(xdisplay_));
  const KeyboardMapping keyboard = KeyboardMapping::query(connection);
  const ModifierMapping modifierMap = ModifierMapping::query(connection);
  Grab grab;
  grab.keycode = keyboard.keycodeOf(registration.keysym).value_or(0);
  // A lock that is also one of the chord's own modifiers is no lock here.
  grab.locks =
      static_cast<std::uint16_t>(lockModifiers(modifierMap, keyboard) & ~registration.modifiers);
  return grab;
}

OSStatus X11HotKeys::grab(Registration& registration, const Grab& grab) {
  if (grab.keycode == 0)
    return paramErr;
  std::vector<std::uint16_t> grabbed;
  for (std::uint16_t variant : lockVariants(grab.locks)) {
    if (!grabVariant(grab.keycode, registration.modifiers | variant)) {
      // Half a chord would work with some locks and not others; give back
      // what was taken.
      gdk_x11_display_error_trap_push(display_.get());
      for (std::uint16_t taken : grabbed)
        XUngrabKey(xlib(xdisplay_), grab.keycode, registration.modifiers | taken, root_);
      gdk_x11_display_error_trap_pop_ignored(display_.get());
      XFlush(xlib(xdisplay_));
      return eventHotKeyExistsErr;
    }
    grabbed.push_back(variant);
  }
  registration.keycode = grab.keycode;
  registration.locks = grab.locks;
  registration.grabbed = std::move(grabbed);
  registration.down = false;
  return noErr;
}

bool X11HotKeys::grabVariant(xcb_keycode_t keycode, unsigned int modifiers) {
  // Another client's grab of the same chord answers BadAccess, which Xlib's
  // default handler would turn into the end of the process. The trap syncs,
  // so the answer belongs to this one request.
  gdk_x11_display_error_trap_push(display_.get());
  XGrabKey(xlib(xdisplay_), keycode, modifiers, root_, False, GrabModeAsync, GrabModeAsync);
  return gdk_x11_display_error_trap_pop(display_.get()) == 0;
}

void X11HotKeys::ungrab(Registration& registration) {
  gdk_x11_display_error_trap_push(display_.get());
  for (std::uint16_t variant : registration.grabbed)
    XUngrabKey(xlib(xdisplay_), registration.keycode, registration.modifiers | variant, root_);
  gdk_x11_display_error_trap_pop_ignored(display_.get());
  registration.grabbed.clear();
  registration.keycode = 0;
  registration.locks = 0;
  registration.down = false;
}

void X11HotKeys::keysChanged(GdkKeymap* /*keymap*/, gpointer self) {
  static_cast<X11HotKeys*>(self)->scheduleRegrab();
}

void X11HotKeys::scheduleRegrab() {
  // Both the core notice and GDK's own may announce one change; grab once,
  // after the event that announced it has been handled.
  if (regrabSource_ && !g_source_is_destroyed(regrabSource_.get()))
    return;
  regrabSource_ = gtk::addMainTimeout(
      0,
      [this] {
        regrab();
        return false;
      },
      G_PRIORITY_DEFAULT_IDLE);
}

void X11HotKeys::regrab() {
  if (gdk_display_is_closed(display_.get()))
    return;
  for (auto& registration : registrations_) {
    // GDK announces changes that change nothing here (the first key from a
    // new device among them); a chord held right now must stay held, and
    // must not be let go of even for a moment.
    const Grab grab = grabFor(*registration);
    if (!registration->grabbed.empty() && grab.keycode == registration->keycode &&
        grab.locks == registration->locks) {
      continue;
    }
    ungrab(*registration);
    // A chord whose key is gone, or that another client took meanwhile,
    // waits for the next change.
    this->grab(*registration, grab);
  }
  XFlush(xlib(xdisplay_));
}

// Presses ----------------------------------------------------------------------------

GdkFilterReturn X11HotKeys::filterEvent(GdkXEvent* xevent, GdkEvent* /*event*/, gpointer self) {
  return static_cast<X11HotKeys*>(self)->handle(xevent);
}

GdkFilterReturn X11HotKeys::handle(const GdkXEvent* xevent) {
  const XEvent& event = *static_cast<const XEvent*>(xevent);
  if (event.xany.display != xlib(xdisplay_))
    return GDK_FILTER_CONTINUE;
  if (event.type == MappingNotify) {
    scheduleRegrab();
    return GDK_FILTER_CONTINUE;
  }
  if (event.type != KeyPress && event.type != KeyRelease)
    return GDK_FILTER_CONTINUE;
  const XKeyEvent& key = event.xkey;
  // Grabbed keys are reported on the root window; keys typed into the host's
  // own windows are not hot keys.
  if (key.window != root_)
    return GDK_FILTER_CONTINUE;

  for (auto& entry : registrations_) {
    Registration& registration = *entry;
    if (registration.keycode == 0 || registration.keycode != key.keycode)
      continue;
    if (event.type == KeyRelease) {
      if (!registration.down)
        continue;
      registration.down = false;
      registration.lastRelease = key.time;
      handlers_.deliver(registration.id, kEventHotKeyReleased);
      return GDK_FILTER_REMOVE;
    }
    // Repeats of a held key: with detectable autorepeat (GDK asks for it)
    // presses without releases, otherwise a release and a press with one
    // timestamp.
    const bool repeat =
        (registration.down && key.time - registration.lastPress < kRepeatGapMilliseconds) ||
        (!detectableAutoRepeat_ && !registration.down && registration.lastRelease != 0 &&
         key.time == registration.lastRelease);
    if (repeat) {
      registration.down = true;
      registration.lastPress = key.time;
      return GDK_FILTER_REMOVE;
    }
    const auto modifiers =
        static_cast<std::uint16_t>(key.state & kCoreModifierBits & ~registration.locks);
    if (modifiers != registration.modifiers)
      continue;
    registration.down = true;
    registration.lastPress = key.time;
    // The handlers may register or unregister chords: nothing here is
    // touched after the call.
    handlers_.deliver(registration.id, kEventHotKeyPressed);
    return GDK_FILTER_REMOVE;
  }
  return GDK_FILTER_CONTINUE;
}

std::optional<EventHotKeyID> X11HotKeys::lastRegistered() const {
  if (registrations_.empty())
    return std::nullopt;
  return registrations_.back()->id;
}

}  // namespace lumivane::platform::x11
