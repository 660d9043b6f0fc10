#include "tests/support/heap_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

// Kept out of the files that use the counts so that no allocation is inlined
// together with these replacements.

namespace {

std::atomic<std::size_t> requested{0};
std::atomic<std::size_t> largest{0};
std::atomic<std::size_t> live{0};
std::atomic<std::size_t> peak{0};

void raiseTo(std::atomic<std::size_t>& highest, std::size_t value) {
  std::size_t seen = highest.load(std::memory_order_relaxed);
  while (value > seen && !highest.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
  }
}

}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (!p)
    throw std::bad_alloc();
  requested.fetch_add(size, std::memory_order_relaxed);
  raiseTo(largest, size);
  const std::size_t usable = malloc_usable_size(p);
  raiseTo(peak, live.fetch_add(usable, std::memory_order_relaxed) + usable);
  return p;
}

void operator delete(void* p) noexcept {
  if (!p)
    return;
  live.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
  std::free(p);
}

void operator delete(void* p, std::size_t /*size*/) noexcept {
  operator delete(p);
}

namespace lumivane::test_support {

std::size_t bytesAllocated() {
  return requested.load(std::memory_order_relaxed);
}

std::size_t largestAllocation() {
  return largest.load(std::memory_order_relaxed);
}

void resetLargestAllocation() {
  largest.store(0, std::memory_order_relaxed);
}

std::size_t liveHeap() {
  return live.load(std::memory_order_relaxed);
}

std::size_t peakHeap() {
  return peak.load(std::memory_order_relaxed);
}

void resetPeakHeap() {
  peak.store(live.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

}  // namespace lumivane::test_support
