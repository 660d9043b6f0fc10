#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/flutter/encodable_value.h"
#include "platform/sim/sim_pasteboard.h"

namespace lumivane::headless {

enum class OutputFormat {
  readable,  // aligned lines for a person
  json,      // one JSON object a line, for programs
};

// One thing that happened, as a headless run reports it. `fields` are the
// event's own data, the same in both formats; `context` only helps the
// readable line say it well (an application's name beside its pid, what the
// pasteboard holds) and never appears in JSON.
struct LogEvent {
  double time = 0;
  std::string name;
  nlohmann::ordered_json fields = nlohmann::ordered_json::object();
  nlohmann::ordered_json context = nlohmann::ordered_json::object();
};

// {"t":0.300,"event":"keys","keyCode":9,...}: the time with exactly three
// decimals, then the name, then the fields in order. Text that is not valid
// UTF-8 is written with U+FFFD in place of each bad sequence.
std::string jsonLine(const LogEvent& event);

// "  0.300  keys            Command+V down → HID tap".
std::string readableLine(const LogEvent& event);

// Writes events to a stream in one format, a line each.
class EventLog {
 public:
  EventLog(std::ostream& out, OutputFormat format) : out_(out), format_(format) {}

  void write(const LogEvent& event);
  // Whether events' context is shown; when not, callers need not work it out.
  bool showsContext() const { return format_ == OutputFormat::readable; }
  // A line of prose for readable output (a title, a blank line before a
  // statement); JSON output leaves it out.
  void prose(const std::string& text);

 private:
  std::ostream& out_;
  OutputFormat format_;
};

// "Command+Shift+T" for a hot key: a virtual key code with Carbon modifier bits.
std::string describeHotKey(std::uint32_t keyCode, std::uint32_t carbonModifiers);
// "Command+V" for a posted key event: a virtual key code with event flags.
std::string describeKeyEvent(std::uint32_t keyCode, std::uint64_t eventFlags);

// A channel value as JSON: null, bool, numbers, strings and lists as
// themselves (typed lists too), a map as an object when every key is a
// string and otherwise as a list of [key, value] pairs.
nlohmann::ordered_json toJson(const platform::EncodableValue& value);

// Pasteboard contents as JSON: null for no item list, else one object per
// item from type to content. Content is the bytes as text when they are valid
// UTF-8, "<N bytes>" when they are not, and null when the data cannot be read.
nlohmann::ordered_json pasteboardJson(
    const std::optional<std::vector<platform::sim::SimPasteboardItemContents>>& items);

// "1 item: public.utf8-plain-text \"old\"", "nothing", "no item list".
std::string describePasteboard(
    const std::optional<std::vector<platform::sim::SimPasteboardItemContents>>& items);

// How much of the pasteboard a readable line about a change to it describes:
// the first items, and the first types of each. A pasteboard of a hundred
// thousand items changes once per item as the host restores it, and each
// line saying so cannot describe all that is there.
inline constexpr std::size_t kDescribedItems = 8;
inline constexpr std::size_t kDescribedTypes = 8;

// The same for the start of the pasteboard, counting what the excerpt leaves
// out: "100000 items: public.utf8-plain-text \"a\" | ... | and 99992 more items".
std::string describePasteboardExcerpt(
    const std::optional<platform::sim::SimPasteboardExcerpt>& excerpt);

}  // namespace lumivane::headless
