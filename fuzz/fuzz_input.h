#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/flutter/encodable_value.h"

namespace lumivane::fuzz {

// Reads the input front to back; past the end every read yields zeros.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data, size) {}

  bool done() const { return position_ >= data_.size(); }

  std::uint8_t byte() { return done() ? 0 : data_[position_++]; }

  template <typename T>
  T scalar() {
    std::uint8_t raw[sizeof(T)] = {};
    for (auto& b : raw) {
      b = byte();
    }
    T out;
    std::memcpy(&out, raw, sizeof out);
    return out;
  }

  std::vector<std::uint8_t> bytes(std::size_t n) {
    n = std::min(n, data_.size() - std::min(position_, data_.size()));
    std::vector<std::uint8_t> out(data_.begin() + position_, data_.begin() + position_ + n);
    position_ += n;
    return out;
  }

  // A length byte, then that many bytes: not necessarily UTF-8.
  std::string text() {
    auto raw = bytes(byte());
    return std::string(raw.begin(), raw.end());
  }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t position_ = 0;
};

template <typename T>
std::vector<T> listOf(Input& in, std::size_t count) {
  std::vector<T> list;
  for (std::size_t i = 0; i < count; ++i) {
    list.push_back(in.scalar<T>());
  }
  return list;
}

// A value of any kind and shape, from the input: strings are arbitrary bytes
// (not necessarily UTF-8), numbers arbitrary bits (NaNs included), and lists
// and maps nest a few levels.
inline platform::EncodableValue anyValue(Input& in, int depth = 0) {
  using platform::EncodableList;
  using platform::EncodableMap;
  using platform::EncodableValue;
  switch (in.byte() % 14) {
    case 0:
      return EncodableValue();
    case 1:
      return EncodableValue(true);
    case 2:
      return EncodableValue(false);
    case 3:
      return EncodableValue(in.scalar<std::int32_t>());
    case 4:
      return EncodableValue(in.scalar<std::int64_t>());
    case 5:
      return EncodableValue(in.scalar<double>());
    case 6:
      return EncodableValue(in.text());
    case 7:
      return EncodableValue(in.bytes(in.byte() % 16));
    case 8:
      return EncodableValue(listOf<std::int32_t>(in, in.byte() % 4));
    case 9:
      return EncodableValue(listOf<std::int64_t>(in, in.byte() % 4));
    case 10:
      return EncodableValue(listOf<double>(in, in.byte() % 4));
    case 11:
      return EncodableValue(listOf<float>(in, in.byte() % 4));
    case 12: {
      EncodableList list;
      for (int n = in.byte() % 4; n > 0 && depth < 4; --n) {
        list.push_back(anyValue(in, depth + 1));
      }
      return EncodableValue(std::move(list));
    }
    default: {
      EncodableMap map;
      for (int n = in.byte() % 4; n > 0 && depth < 4; --n) {
        auto key = anyValue(in, depth + 1);
        map.insert_or_assign(std::move(key), anyValue(in, depth + 1));
      }
      return EncodableValue(std::move(map));
    }
  }
}

}  // namespace lumivane::fuzz
