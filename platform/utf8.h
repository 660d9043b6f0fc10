#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Strict UTF-8: no overlong forms, no UTF-16 surrogates, nothing past
// U+10FFFF. Text crosses to the interface and comes off the pasteboard only in
// this form.
namespace lumivane::platform {

// Index of the first byte that does not start a well-formed sequence, or n.
std::size_t utf8ValidPrefix(const std::uint8_t* s, std::size_t n);

inline bool isValidUtf8(const std::uint8_t* s, std::size_t n) {
  return utf8ValidPrefix(s, n) == n;
}

inline bool isValidUtf8(std::string_view text) {
  return isValidUtf8(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// `text` with every ill-formed sequence replaced by U+FFFD, one for each
// maximal ill-formed prefix.
std::string repairUtf8(const std::string& text);

}  // namespace lumivane::platform
