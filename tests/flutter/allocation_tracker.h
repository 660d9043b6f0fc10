#pragma once

#include <cstddef>

namespace lumivane::platform::testing {

// The largest single allocation made through the global operator new since
// the last reset, for tests that show a decoder allocates only what the bytes
// present justify.
std::size_t largestAllocation();
void resetLargestAllocation();

}  // namespace lumivane::platform::testing
