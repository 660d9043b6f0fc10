#include "tests/flutter/allocation_tracker.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Kept out of the test files so that no allocation is inlined together with
// these replacements.

namespace {
std::atomic<std::size_t> largest{0};
}  // namespace

void* operator new(std::size_t size) {
  std::size_t seen = largest.load(std::memory_order_relaxed);
  while (size > seen && !largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
  std::free(p);
}

void operator delete(void* p, std::size_t /*size*/) noexcept {
  std::free(p);
}

namespace lumivane::platform::testing {

std::size_t largestAllocation() {
  return largest.load(std::memory_order_relaxed);
}

void resetLargestAllocation() {
  largest.store(0, std::memory_order_relaxed);
}

}  // namespace lumivane::platform::testing
