#pragma once

#include <functional>

namespace lumivane::test_support {

// Runs what GLib's default main context has ready, without waiting.
void pump();

// Turns GLib's default main context on the calling thread until `condition`
// holds, for at most `seconds`. The condition is checked after every turn and
// at least every few milliseconds, so one that another thread or process
// makes true is seen too. True when it held. What GTK, GDBus and the GLib
// dispatch's main queue do all happens inside these turns.
bool pumpUntil(const std::function<bool()>& condition, double seconds = 30);

// Turns the main loop until a marker of low priority has run: whatever was
// ready or queued before it (events received, main-queue blocks, GTK's idle
// work), and what that set off at once, has run by then. Where a test asserts
// that something did not happen, it waits for this rather than for a time.
bool pumpUntilSettled(double seconds = 30);

}  // namespace lumivane::test_support
