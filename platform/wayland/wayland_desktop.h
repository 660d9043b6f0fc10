#pragma once

#include <memory>
#include <string>

#include "platform/desktop.h"

namespace lumivane::platform::wayland {

// Why the Wayland desktop cannot open in this process; empty when it can: a
// Wayland display is set and answers, and its compositor offers what the
// host needs to reach other applications (data-control, the virtual
// keyboard).
std::string unavailableReason();

// The Wayland desktop of $WAYLAND_DISPLAY, opened on the calling thread,
// which becomes the main thread: GTK's display and main loop on Wayland, a
// connection of the backend's own to the compositor, and every service of
// the backend wired together. Null with `*error` set when it cannot open.
std::unique_ptr<Desktop> openWaylandDesktop(std::string* error);

}  // namespace lumivane::platform::wayland
