#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace lumivane::platform {
class EncodableValue;
}  // namespace lumivane::platform

// EncodableMap orders its keys with this rather than with `<`: for a variant
// that contains itself, g++ cannot form the standard variant's own three-way
// comparison, and every `a < b` on such a variant considers it. Declared
// before the map type so the map is instantiated with it.
template <>
struct std::less<lumivane::platform::EncodableValue> {
  bool operator()(const lumivane::platform::EncodableValue& lhs,
                  const lumivane::platform::EncodableValue& rhs) const;
};

namespace lumivane::platform {

// A list of values of any kinds.
using EncodableList = std::vector<EncodableValue>;
// A map whose keys and values may be of any kind, ordered by EncodableValue's
// total order.
using EncodableMap = std::map<EncodableValue, EncodableValue>;

namespace internal {
// The alternatives in the order of the embedding's C++ wrapper, so code that
// switches on index() or uses std::get reads the same against either.
using EncodableValueVariant = std::variant<std::monostate,
                                           bool,
                                           std::int32_t,
                                           std::int64_t,
                                           double,
                                           std::string,
                                           std::vector<std::uint8_t>,
                                           std::vector<std::int32_t>,
                                           std::vector<std::int64_t>,
                                           std::vector<double>,
                                           EncodableList,
                                           EncodableMap,
                                           std::vector<float>>;
}  // namespace internal

// A value that can cross a channel to the interface: null (std::monostate),
// bool, 32- or 64-bit integer, double, UTF-8 string, typed lists, lists and
// maps. It is a std::variant, so std::get, std::get_if and
// std::holds_alternative work on it directly.
//
// Values are totally ordered, which is what EncodableMap's keys use (through
// std::less<EncodableValue>): values of different kinds order by kind
// (index()), values of one kind by content. Floating-point numbers compare by
// IEEE total order rather than by `<`, so a NaN key is usable and equal to
// itself, and -0.0 and 0.0 are distinct keys; `==` agrees with that order. An
// int32 and an int64 holding the same number are different values; use
// asInt64 to read either. Use std::less<EncodableValue> rather than `<`, which
// g++ 12 cannot resolve for this type (see above).
class EncodableValue : public internal::EncodableValueVariant {
 public:
  using super = internal::EncodableValueVariant;
  using super::super;
  using super::operator=;

  EncodableValue() = default;
  // Without this a string literal would become a bool.
  EncodableValue(const char* string) : super(std::string(string)) {}
  EncodableValue& operator=(const char* string) {
    super::operator=(std::string(string));
    return *this;
  }

  bool IsNull() const { return std::holds_alternative<std::monostate>(*this); }

  friend bool operator==(const EncodableValue& lhs, const EncodableValue& rhs) {
    return compare(lhs, rhs) == 0;
  }

 private:
  friend struct std::less<EncodableValue>;

  // Negative, zero or positive as lhs orders before, with or after rhs.
  static int compare(const EncodableValue& lhs, const EncodableValue& rhs);
};

// The integer held by `value` whether the sender wrote it as int32 or int64
// (the wire picks the narrower kind by magnitude, and other senders may always
// pick int64). Absent for every other kind, including doubles.
std::optional<std::int64_t> asInt64(const EncodableValue& value);

}  // namespace lumivane::platform

inline bool std::less<lumivane::platform::EncodableValue>::operator()(
    const lumivane::platform::EncodableValue& lhs,
    const lumivane::platform::EncodableValue& rhs) const {
  return lumivane::platform::EncodableValue::compare(lhs, rhs) < 0;
}
