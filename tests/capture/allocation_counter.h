#pragma once

#include <cstddef>

namespace lumivane::test_support {

// Bytes requested from the global operator new since the program started, for
// tests that show an operation copies a large buffer once, or not at all.
std::size_t bytesAllocated();

}  // namespace lumivane::test_support
