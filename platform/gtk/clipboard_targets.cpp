#include "platform/gtk/clipboard_targets.h"

#include <algorithm>
#include <array>

namespace lumivane::platform::gtk {

bool isMetaTarget(std::string_view name) {
  // LENGTH is an old way of asking for a size; the rest either describe the
  // selection or make its owner do something.
  static constexpr std::array<std::string_view, 9> kMeta = {
      "TARGETS", "TIMESTAMP",        "MULTIPLE",        "SAVE_TARGETS", "DELETE",
      "INCR",    "INSERT_SELECTION", "INSERT_PROPERTY", "LENGTH"};
  return std::find(kMeta.begin(), kMeta.end(), name) != kMeta.end();
}

bool fitsFormat(std::size_t size, std::uint8_t format) {
  switch (format) {
    case 8:
      return true;
    case 16:
      return size % 2 == 0;
    case 32:
      return size % 4 == 0;
    default:
      return false;
  }
}

std::optional<Bytes> toLatin1(const std::string& utf8) {
  Bytes latin1;
  latin1.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(utf8[i]);
    if (byte < 0x80) {
      latin1.push_back(byte);
    } else if ((byte == 0xC2 || byte == 0xC3) && i + 1 < utf8.size()) {
      latin1.push_back(static_cast<std::uint8_t>(((byte & 0x03) << 6) |
                                                 (static_cast<std::uint8_t>(utf8[++i]) & 0x3F)));
    } else {
      return std::nullopt;
    }
  }
  return latin1;
}

std::string fromLatin1(const Bytes& latin1) {
  std::string utf8;
  utf8.reserve(latin1.size() + latin1.size() / 8);
  for (std::uint8_t byte : latin1) {
    if (byte < 0x80) {
      utf8.push_back(static_cast<char>(byte));
    } else {
      utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return utf8;
}

}  // namespace lumivane::platform::gtk
