#include "tests/capture/allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Kept out of the test files so that no allocation is inlined together with
// these replacements.

namespace {
std::atomic<std::size_t> allocated{0};
}  // namespace

void* operator new(std::size_t size) {
  allocated.fetch_add(size, std::memory_order_relaxed);
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

namespace lumivane::test_support {

std::size_t bytesAllocated() {
  return allocated.load(std::memory_order_relaxed);
}

}  // namespace lumivane::test_support
