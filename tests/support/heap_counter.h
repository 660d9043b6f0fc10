#pragma once

#include <cstddef>

// What the global operator new and delete have done, counted by replacing
// them. A program gets these counts (and the replacements) by linking
// lumivane_heap_counter; tests and benchmarks use them to show that an
// operation copies a large buffer once or not at all, or that a decoder
// allocates only what the bytes in front of it justify.
namespace lumivane::test_support {

// Bytes requested since the program started.
std::size_t bytesAllocated();

// The largest single request since the last reset.
std::size_t largestAllocation();
void resetLargestAllocation();

// Bytes handed out and not yet taken back, and the highest that figure has
// reached since the last reset.
std::size_t liveHeap();
std::size_t peakHeap();
void resetPeakHeap();

}  // namespace lumivane::test_support
