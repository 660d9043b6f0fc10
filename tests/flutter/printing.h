#pragma once

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "platform/flutter/standard_codec.h"

namespace lumivane::platform {

// Failure messages show a value as its kind and wire bytes, which is what
// these tests reason about anyway. Found by GoogleTest through ADL.
inline void PrintTo(const EncodableValue& value, std::ostream* os) {
  static const char* const hex = "0123456789ABCDEF";
  *os << "kind " << value.index() << ":";
  for (std::uint8_t b : StandardMessageCodec::sharedInstance().encodeMessage(value)) {
    *os << ' ' << hex[b >> 4] << hex[b & 15];
  }
}

}  // namespace lumivane::platform

namespace lumivane::platform::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) {
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return out;
}

inline Bytes operator+(Bytes lhs, const Bytes& rhs) {
  lhs.insert(lhs.end(), rhs.begin(), rhs.end());
  return lhs;
}

inline Bytes ascii(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

}  // namespace lumivane::platform::testing
