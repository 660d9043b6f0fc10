#pragma once

#include <functional>

namespace lumivane::test_support {

// Waits for `condition` to hold, checking it every few milliseconds, for at
// most `seconds`. True when it held. Tests that involve real threads or
// another process wait for conditions this way, never for a fixed time.
bool waitUntil(const std::function<bool()>& condition, double seconds = 20);

}  // namespace lumivane::test_support
