#pragma once

#include "platform/keyboard_events.h"

namespace lumivane {

// Posts Command+C (key down, then key up) to one process, frontmost or not.
// True when both events were posted; when either cannot be made nothing is
// posted. Any thread.
bool postCopyChord(platform::KeyboardEvents& events, platform::pid_t pid);

// Posts Command+V at the hardware-event tap, so it reaches whichever
// application is frontmost. Same guarantees as postCopyChord.
bool postPasteChord(platform::KeyboardEvents& events);

}  // namespace lumivane
