#pragma once

#include <memory>
#include <string>

#include "platform/desktop.h"

namespace lumivane::platform::x11 {

// Why the X11 desktop cannot open in this process; empty when it can: an X
// display is set and answers.
std::string unavailableReason();

// The X11 desktop of $DISPLAY, opened on the calling thread, which becomes
// the main thread: GTK's display and main loop, and every service of the
// backend wired together. Null with `*error` set when it cannot open.
std::unique_ptr<Desktop> openX11Desktop(std::string* error);

}  // namespace lumivane::platform::x11
