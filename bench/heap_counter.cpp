#include "bench/heap_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

// Kept out of the benchmark files so that no allocation is inlined together
// with these replacements.

namespace {

std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

void noteAllocated(std::size_t bytes) {
  const std::size_t live = liveBytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  std::size_t peak = peakBytes.load(std::memory_order_relaxed);
  while (live > peak && !peakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
  }
}

}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (!p)
    throw std::bad_alloc();
  noteAllocated(malloc_usable_size(p));
  return p;
}

void operator delete(void* p) noexcept {
  if (!p)
    return;
  liveBytes.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
  std::free(p);
}

void operator delete(void* p, std::size_t /*size*/) noexcept {
  operator delete(p);
}

namespace lumivane::bench {

std::size_t liveHeap() {
  return liveBytes.load(std::memory_order_relaxed);
}

std::size_t peakHeap() {
  return peakBytes.load(std::memory_order_relaxed);
}

void resetPeakHeap() {
  peakBytes.store(liveBytes.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

}  // namespace lumivane::bench
