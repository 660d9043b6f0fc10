#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/flutter/encodable_value.h"

namespace lumivane::fuzz {

// Stops the run with a message libFuzzer shows beside the crashing input.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

// `text` with each ill-formed UTF-8 sequence replaced by U+FFFD: one
// replacement per maximal subpart of a sequence (the longest prefix of a
// well-formed sequence that is present), or per stray byte. Written apart
// from the codec's own repair, so that the two check each other.
inline std::string repairedUtf8(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += text[i++];
      continue;
    }
    int trailing = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trailing = 1;
    } else if (lead == 0xE0) {
      trailing = 2;
      low = 0xA0;
    } else if (lead == 0xED) {
      trailing = 2;
      high = 0x9F;
    } else if (lead >= 0xE1 && lead <= 0xEF) {
      trailing = 2;
    } else if (lead == 0xF0) {
      trailing = 3;
      low = 0x90;
    } else if (lead == 0xF4) {
      trailing = 3;
      high = 0x8F;
    } else if (lead >= 0xF1 && lead <= 0xF3) {
      trailing = 3;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    int present = 0;
    while (present < trailing && end < text.size()) {
      const auto next = static_cast<unsigned char>(text[end]);
      if (next < low || next > high) {
        break;
      }
      low = 0x80;
      high = 0xBF;
      ++end;
      ++present;
    }
    if (present == trailing) {
      out.append(text.substr(i, end - i));
    } else {
      out += "\xEF\xBF\xBD";
    }
    i = end;
  }
  return out;
}

// Whether every string in `value`, map keys included, is well-formed UTF-8:
// what a decoder may hand out.
inline bool allUtf8(const platform::EncodableValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    return repairedUtf8(*text) == *text;
  }
  if (const auto* list = std::get_if<platform::EncodableList>(&value)) {
    for (const auto& element : *list) {
      if (!allUtf8(element)) {
        return false;
      }
    }
  }
  if (const auto* map = std::get_if<platform::EncodableMap>(&value)) {
    for (const auto& [key, element] : *map) {
      if (!allUtf8(key) || !allUtf8(element)) {
        return false;
      }
    }
  }
  return true;
}

// How many lists and maps enclose the most deeply nested value in `value`.
inline int nesting(const platform::EncodableValue& value) {
  int deepest = 0;
  if (const auto* list = std::get_if<platform::EncodableList>(&value)) {
    for (const auto& element : *list) {
      deepest = std::max(deepest, nesting(element) + 1);
    }
    return std::max(deepest, 1);
  }
  if (const auto* map = std::get_if<platform::EncodableMap>(&value)) {
    for (const auto& [key, element] : *map) {
      deepest = std::max({deepest, nesting(key) + 1, nesting(element) + 1});
    }
    return std::max(deepest, 1);
  }
  return 0;
}

// The value a decoder sees after `value` has crossed the wire once. The wire
// keeps everything but the width of small integers (an int64 that fits in 32
// bits is written as int32) and ill-formed UTF-8 (repaired). Map keys that
// thereby become equal collapse into one entry whose value is the last
// written, which is the one later in the map's order, exactly as the decoder
// keeps the last of repeated keys.
inline platform::EncodableValue afterWire(const platform::EncodableValue& value) {
  using platform::EncodableList;
  using platform::EncodableMap;
  using platform::EncodableValue;
  if (const auto* text = std::get_if<std::string>(&value)) {
    return EncodableValue(repairedUtf8(*text));
  }
  if (const auto* wide = std::get_if<std::int64_t>(&value)) {
    if (*wide >= std::numeric_limits<std::int32_t>::min() &&
        *wide <= std::numeric_limits<std::int32_t>::max()) {
      return EncodableValue(static_cast<std::int32_t>(*wide));
    }
    return value;
  }
  if (const auto* list = std::get_if<EncodableList>(&value)) {
    EncodableList out;
    out.reserve(list->size());
    for (const auto& element : *list) {
      out.push_back(afterWire(element));
    }
    return EncodableValue(std::move(out));
  }
  if (const auto* map = std::get_if<EncodableMap>(&value)) {
    EncodableMap out;
    for (const auto& [key, element] : *map) {
      out.insert_or_assign(afterWire(key), afterWire(element));
    }
    return EncodableValue(std::move(out));
  }
  return value;
}

}  // namespace lumivane::fuzz
