#pragma once

#include <cstdint>
#include <ostream>

#include "platform/flutter/standard_codec.h"

namespace lumivane::platform {

// Failure messages show a channel value as its kind and wire bytes, which is
// what the tests reason about anyway. Found by GoogleTest through ADL.
inline void PrintTo(const EncodableValue& value, std::ostream* os) {
  static const char* const hex = "0123456789ABCDEF";
  *os << "kind " << value.index() << ":";
  for (std::uint8_t b : StandardMessageCodec::sharedInstance().encodeMessage(value)) {
    *os << ' ' << hex[b >> 4] << hex[b & 15];
  }
}

}  // namespace lumivane::platform
