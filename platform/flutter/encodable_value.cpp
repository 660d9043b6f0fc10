#include "platform/flutter/encodable_value.h"

#include <cstring>
#include <limits>

namespace lumivane::platform {

namespace {

int sign(auto lhs, auto rhs) {
  return lhs < rhs ? -1 : (rhs < lhs ? 1 : 0);
}

// Maps a double's bits onto integers that order as IEEE 754 totalOrder does:
// -NaN < -inf < ... < -0 < +0 < ... < +inf < +NaN.
std::int64_t totalOrderKey(double value) {
  std::int64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits < 0 ? bits ^ std::numeric_limits<std::int64_t>::max() : bits;
}

std::int32_t totalOrderKey(float value) {
  std::int32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits < 0 ? bits ^ std::numeric_limits<std::int32_t>::max() : bits;
}

int compareScalar(double lhs, double rhs) {
  return sign(totalOrderKey(lhs), totalOrderKey(rhs));
}
int compareScalar(float lhs, float rhs) {
  return sign(totalOrderKey(lhs), totalOrderKey(rhs));
}
template <typename T>
int compareScalar(const T& lhs, const T& rhs) {
  return sign(lhs, rhs);
}

// Lexicographic, element by element, then shorter first.
template <typename T, typename Compare>
int compareSequence(const T& lhs, const T& rhs, Compare compareElement) {
  auto l = lhs.begin();
  auto r = rhs.begin();
  for (; l != lhs.end() && r != rhs.end(); ++l, ++r) {
    if (int c = compareElement(*l, *r); c != 0) {
      return c;
    }
  }
  return sign(lhs.size(), rhs.size());
}

}  // namespace

int EncodableValue::compare(const EncodableValue& lhs, const EncodableValue& rhs) {
  if (lhs.index() != rhs.index()) {
    return sign(lhs.index(), rhs.index());
  }
  return std::visit(
      [&rhs](const auto& l) -> int {
        using T = std::decay_t<decltype(l)>;
        const T& r = *std::get_if<T>(&rhs);
        if constexpr (std::is_same_v<T, std::monostate>) {
          return 0;
        } else if constexpr (std::is_same_v<T, std::string>) {
          return sign(l.compare(r), 0);
        } else if constexpr (std::is_same_v<T, EncodableList>) {
          return compareSequence(l, r, &EncodableValue::compare);
        } else if constexpr (std::is_same_v<T, EncodableMap>) {
          return compareSequence(l, r, [](const auto& a, const auto& b) {
            int c = compare(a.first, b.first);
            return c != 0 ? c : compare(a.second, b.second);
          });
        } else if constexpr (requires { l.begin(); }) {
          return compareSequence(l, r,
                                 [](const auto& a, const auto& b) { return compareScalar(a, b); });
        } else {
          return compareScalar(l, r);
        }
      },
      static_cast<const super&>(lhs));
}

std::optional<std::int64_t> asInt64(const EncodableValue& value) {
  if (const auto* v = std::get_if<std::int32_t>(&value)) {
    return *v;
  }
  if (const auto* v = std::get_if<std::int64_t>(&value)) {
    return *v;
  }
  return std::nullopt;
}

}  // namespace lumivane::platform
