#include "headless/readable_text.h"

#include <cstdio>

#include "platform/utf8.h"

namespace lumivane::headless {
namespace {

// DEL is one byte; the C1 controls U+0080 to U+009F are 0xC2 then 0x80 to
// 0x9F, and in UTF-8 0xC2 is only ever a lead byte.
bool isDel(unsigned char byte) {
  return byte == 0x7F;
}

bool isC1(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]) == 0xC2 && i + 1 < text.size() &&
         static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
         static_cast<unsigned char>(text[i + 1]) <= 0x9F;
}

std::string unicodeEscape(unsigned codePoint) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\u%04x", codePoint);
  return escape;
}

}  // namespace

std::string showJson(const nlohmann::ordered_json& value) {
  // The library escapes the C0 controls and writes the rest as they are;
  // its output is UTF-8, so DEL and C1 can be found byte by byte. They can
  // only be inside strings, where an escape means the same character.
  const std::string text =
      value.dump(-1, ' ', /*ensure_ascii=*/false, nlohmann::ordered_json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (isDel(byte)) {
      out += unicodeEscape(byte);
    } else if (isC1(text, i)) {
      out += unicodeEscape(static_cast<unsigned char>(text[++i]));
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string quoteText(std::string_view text) {
  return showJson(std::string(text));
}

std::string shownName(std::string_view name) {
  bool plain = platform::isValidUtf8(name);
  for (std::size_t i = 0; plain && i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    plain = byte >= 0x20 && !isDel(byte) && !isC1(name, i);
  }
  return plain ? std::string(name) : quoteText(name);
}

}  // namespace lumivane::headless
