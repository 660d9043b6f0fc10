#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "platform/gtk/clipboard_targets.h"
#include "platform/pasteboard.h"
#include "platform/wayland/wayland_selection_source.h"

// What the pasteboard's type strings stand for on Wayland: MIME types as
// they are ("text/html", "image/png"), and text.
//
// NSPasteboardTypeString stands for text, which Wayland clients offer and ask
// for under several names, X's among them for the sake of XWayland:
// text/plain;charset=utf-8, UTF8_STRING, text/plain and TEXT carry UTF-8,
// STRING Latin-1 (offered only when the text fits in it, and read only from
// an owner that offers no UTF-8 type: many Wayland clients put UTF-8 there).
namespace lumivane::platform::wayland {

// Where text is looked for, in order of preference; STRING last, only
// when none of the others is offered.
inline constexpr std::array<const char*, 4> kTextTypes = {gtk::kUtf8Plain, gtk::kUtf8String,
                                                          gtk::kPlainText, gtk::kLatin1String};

// What a type string with `data` offers other clients; absent when it cannot
// be offered: an empty or unsendable type name, text that is not valid UTF-8.
std::optional<OfferedTypes> offeredTypesFor(const std::string& type,
                                            const std::shared_ptr<const Bytes>& data);

// Text from the bytes of the text type `mimeType`: STRING is Latin-1, the rest
// must be valid UTF-8.
std::optional<std::string> textFrom(const std::string& mimeType, const Bytes& data);

}  // namespace lumivane::platform::wayland
