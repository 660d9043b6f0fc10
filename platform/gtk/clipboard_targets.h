#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/pasteboard.h"

// What the Linux clipboards have in common: contents by name (an X target or
// a Wayland MIME type) with their bytes, and text, which both offer under
// several names.
namespace lumivane::platform::gtk {

// One name a clipboard is offered under, with the type and format its bytes
// go out in on X (on Wayland the type is the name and the format 8). The
// bytes are shared by everything that serves or holds them, never copied for
// a request.
struct NamedTarget {
  std::string target;
  std::string type;
  std::uint8_t format = 8;
  std::shared_ptr<const Bytes> data;
};

// Names that describe a selection or ask its owner to act rather than carry
// its contents. An owner answers them itself; a reader never saves them.
bool isMetaTarget(std::string_view name);

// Whether `size` bytes are whole units of `format` (8, 16 or 32).
bool fitsFormat(std::size_t size, std::uint8_t format);

// Text's names. Readers on X and on Wayland alike ask for UTF-8 text as
// UTF8_STRING or text/plain;charset=utf-8; STRING is Latin-1 on X; TEXT and
// text/plain are whatever their owner says.
inline constexpr const char* kUtf8String = "UTF8_STRING";
inline constexpr const char* kUtf8Plain = "text/plain;charset=utf-8";
inline constexpr const char* kLatin1String = "STRING";
inline constexpr const char* kText = "TEXT";
inline constexpr const char* kPlainText = "text/plain";

// Whether `type` is the pasteboard's text type.
inline bool isText(const std::string& type) {
  return type == NSPasteboardTypeString;
}

// The text in Latin-1 when every character is in it.
std::optional<Bytes> toLatin1(const std::string& utf8);
std::string fromLatin1(const Bytes& latin1);

}  // namespace lumivane::platform::gtk
