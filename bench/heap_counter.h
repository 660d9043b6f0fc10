#pragma once

#include <cstddef>

namespace lumivane::bench {

// Bytes the global operator new has handed out and not yet taken back, and
// the highest that figure has reached since the last resetPeakHeap().
std::size_t liveHeap();
std::size_t peakHeap();
void resetPeakHeap();

}  // namespace lumivane::bench
