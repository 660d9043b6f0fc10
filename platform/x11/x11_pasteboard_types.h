#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/pasteboard.h"
#include "platform/x11/x11_selection.h"

// What the pasteboard's type strings stand for on X, and text in X's targets.
//
// Items list X target names: "UTF8_STRING", "text/html", "image/png".
// Targets also carry the type and format their bytes are sent in, which
// usually match (type = the target, format 8) but not always: TEXT comes back
// typed COMPOUND_TEXT, and some applications offer 32-bit values. Putting a
// saved clipboard back must offer exactly the same, yet the host keeps only
// (type string, bytes) pairs and treats the strings as opaque. So when type or
// format differ, the type string carries them:
//
//     target \x1F type \x1F format          e.g. "TEXT\x1FCOMPOUND_TEXT\x1F8"
//
// (the unit separator, which no sensible atom name contains), and the plain
// target name means (type = target, format 8). A string that does not split
// into exactly three parts with a format of 8, 16 or 32 is a plain target
// name.
//
// NSPasteboardTypeString stands for text, which X offers under several
// targets: UTF8_STRING, text/plain;charset=utf-8, STRING (Latin-1, when the
// text can be) and TEXT.
namespace lumivane::platform::x11 {

// The type string of `target` sent as `type` in `format`.
std::string typeString(const std::string& target, const std::string& type, std::uint8_t format);

// What a type string names: a target, the type it goes out as and its format.
struct TargetSpec {
  std::string target;
  std::string type;
  std::uint8_t format = 8;
};
// Absent for an empty string.
std::optional<TargetSpec> parseTypeString(const std::string& typeString);

using gtk::isText;
using gtk::kLatin1String;
using gtk::kText;
using gtk::kUtf8Plain;
using gtk::kUtf8String;
// Where text is looked for, in order of preference.
inline constexpr std::array<const char*, 3> kTextTargets = {kUtf8String, kUtf8Plain, kLatin1String};

// The bytes of a target as text when they are valid UTF-8 in format 8.
std::optional<std::string> utf8From(std::uint8_t format, const Bytes& data);
// Text from bytes a text target came in: STRING is Latin-1, the rest must be
// UTF-8.
std::optional<std::string> textFrom(const std::string& type,
                                    std::uint8_t format,
                                    const Bytes& data);

// What a type string with `data` offers other clients; absent when it cannot
// be offered: an empty or meta target (TARGETS, MULTIPLE...), bytes that are
// not whole units of the format, text that is not valid UTF-8.
std::optional<std::vector<NamedTarget>> targetsFor(const std::string& type,
                                                   const std::shared_ptr<const Bytes>& data);

}  // namespace lumivane::platform::x11
