#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace lumivane::headless {

// Text that comes from a scenario, the host or the desktop reaches a terminal
// through these, so that whatever it holds it stays inert characters on one
// line: a name with an escape sequence in it must not recolour the terminal,
// and one with a newline must not look like a second event.

// JSON for `value`, as both output formats write it: characters beyond ASCII
// as themselves, except that every control character is escaped (the C0
// controls, DEL, and the C1 controls, which terminals act on as they do on
// ESC sequences); bytes that are not UTF-8 become U+FFFD.
std::string showJson(const nlohmann::ordered_json& value);

// `text` as a JSON string literal, quotes included, escaped as showJson does.
std::string quoteText(std::string_view text);

// A name (of an application, window, plug-in, method, pasteboard type, menu
// item) or a message as a readable line shows it: as it is when it is UTF-8
// without control characters, otherwise quoted.
std::string shownName(std::string_view name);

}  // namespace lumivane::headless
