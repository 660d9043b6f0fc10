#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Wire-format bytes as the codec tests write them out.
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
