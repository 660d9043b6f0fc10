#pragma once

#include <chrono>
#include <memory>

namespace lumivane::platform::wayland {

// PRIMARY as XWayland's X server sees it. When the host lends the primary
// selection for a paste into an X application, the compositor's X bridge
// takes PRIMARY over on the X side a moment later; an X application asked to
// paste before that pastes the selection it still holds itself. This watches
// PRIMARY's owner on the X server so that the keys wait for the change.
//
// One thread at a time.
class XWaylandPrimary {
 public:
  // Connects to XWayland ($DISPLAY); null when there is none, or when the
  // host was built without X11.
  static std::unique_ptr<XWaylandPrimary> open();
  virtual ~XWaylandPrimary() = default;

  // False once the connection has gone (XWayland restarted, say).
  virtual bool alive() const = 0;
  // From now on, each new owner of PRIMARY counts.
  virtual void mark() = 0;
  // Waits at most `bound` until a client has claimed PRIMARY since mark();
  // false when none has (an owner merely going away does not count).
  virtual bool waitForNewOwner(std::chrono::milliseconds bound) = 0;
};

}  // namespace lumivane::platform::wayland
