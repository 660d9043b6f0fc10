#include "platform/utf8.h"

#include <cstring>

namespace lumivane::platform {

namespace {

// Length of the well-formed sequence starting at s[0], or 0 when it is
// ill-formed; then `*skip` is the length of its maximal ill-formed prefix (at
// least 1), which is what one replacement character stands for.
std::size_t utf8SequenceLength(const std::uint8_t* s, std::size_t n, std::size_t* skip) {
  std::uint8_t lead = s[0];
  *skip = 1;
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead == 0xE0) {
    length = 3;
    low = 0xA0;  // Below that would be an overlong form.
  } else if (lead == 0xED) {
    length = 3;
    high = 0x9F;  // Above that would be a UTF-16 surrogate.
  } else if (lead >= 0xE1 && lead <= 0xEF) {
    length = 3;
  } else if (lead == 0xF0) {
    length = 4;
    low = 0x90;
  } else if (lead == 0xF4) {
    length = 4;
    high = 0x8F;  // Above that would be past U+10FFFF.
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    length = 4;
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= n || s[i] < low || s[i] > high) {
      *skip = i;
      return 0;
    }
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

}  // namespace

std::size_t utf8ValidPrefix(const std::uint8_t* s, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    // Most text is ASCII; skip it eight bytes at a time.
    while (n - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, s + i, sizeof word);
      if ((word & 0x8080808080808080ull) != 0) {
        break;
      }
      i += 8;
    }
    if (i == n) {
      break;
    }
    std::size_t skip;
    std::size_t length = utf8SequenceLength(s + i, n - i, &skip);
    if (length == 0) {
      return i;
    }
    i += length;
  }
  return n;
}

std::string repairUtf8(const std::string& text) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  std::size_t n = text.size();
  std::string out;
  out.reserve(n + 8);
  std::size_t i = 0;
  while (i < n) {
    std::size_t valid = utf8ValidPrefix(s + i, n - i);
    out.append(text, i, valid);
    i += valid;
    if (i < n) {
      std::size_t skip;
      utf8SequenceLength(s + i, n - i, &skip);
      out.append("\xEF\xBF\xBD");
      i += skip;
    }
  }
  return out;
}

}  // namespace lumivane::platform
