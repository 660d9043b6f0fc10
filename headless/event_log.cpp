#include "headless/event_log.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <string_view>
#include <unordered_set>

#include "headless/readable_text.h"
#include "platform/hot_keys.h"
#include "platform/keyboard_events.h"
#include "platform/utf8.h"

namespace lumivane::headless {
namespace {

using Json = nlohmann::ordered_json;

std::string dump(const Json& json) {
  return showJson(json);
}

// Whole numbers without a fraction: "600", not "600.0".
std::string number(const Json& value) {
  if (value.is_number_float()) {
    const double d = value.get<double>();
    if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15) {
      return std::to_string(static_cast<long long>(d));
    }
  }
  return dump(value);
}

std::string fixed3(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

// The virtual key codes of the ANSI keyboard's letters, digits and common keys.
const char* keyName(std::uint32_t keyCode) {
  static const std::map<std::uint32_t, const char*> kNames = {
      {0x00, "A"},      {0x01, "S"},      {0x02, "D"},   {0x03, "F"},     {0x04, "H"},
      {0x05, "G"},      {0x06, "Z"},      {0x07, "X"},   {0x08, "C"},     {0x09, "V"},
      {0x0B, "B"},      {0x0C, "Q"},      {0x0D, "W"},   {0x0E, "E"},     {0x0F, "R"},
      {0x10, "Y"},      {0x11, "T"},      {0x12, "1"},   {0x13, "2"},     {0x14, "3"},
      {0x15, "4"},      {0x16, "6"},      {0x17, "5"},   {0x18, "="},     {0x19, "9"},
      {0x1A, "7"},      {0x1B, "-"},      {0x1C, "8"},   {0x1D, "0"},     {0x1E, "]"},
      {0x1F, "O"},      {0x20, "U"},      {0x21, "["},   {0x22, "I"},     {0x23, "P"},
      {0x24, "Return"}, {0x25, "L"},      {0x26, "J"},   {0x27, "'"},     {0x28, "K"},
      {0x29, ";"},      {0x2A, "\\"},     {0x2B, ","},   {0x2C, "/"},     {0x2D, "N"},
      {0x2E, "M"},      {0x2F, "."},      {0x30, "Tab"}, {0x31, "Space"}, {0x32, "`"},
      {0x33, "Delete"}, {0x35, "Escape"},
  };
  auto it = kNames.find(keyCode);
  return it == kNames.end() ? nullptr : it->second;
}

struct ModifierName {
  std::uint64_t bit;
  const char* name;
};

std::string describeChord(std::uint32_t keyCode,
                          std::uint64_t modifiers,
                          const ModifierName (&names)[4]) {
  std::string out;
  for (const auto& modifier : names) {
    if (modifiers & modifier.bit) {
      out += modifier.name;
      out += '+';
      modifiers &= ~modifier.bit;
    }
  }
  if (modifiers)
    out += "modifiers " + platform::sim::formatHex(modifiers) + "+";
  const char* name = keyName(keyCode);
  out += name ? std::string(name) : "key " + platform::sim::formatHex(keyCode);
  return out;
}

std::string str(const Json& json, const char* key) {
  auto it = json.find(key);
  if (it == json.end() || !it->is_string())
    return {};
  return it->get<std::string>();
}

std::uint64_t unsignedField(const Json& json, const char* key) {
  auto it = json.find(key);
  return it != json.end() && it->is_number_unsigned() ? it->get<std::uint64_t>()
         : it != json.end() && it->is_number_integer() && it->get<std::int64_t>() >= 0
             ? static_cast<std::uint64_t>(it->get<std::int64_t>())
             : 0;
}

// A field that names something (an application, a window, a method), as a
// readable line shows it.
std::string shown(const Json& json, const char* key) {
  return shownName(str(json, key));
}

bool flag(const Json& json, const char* key) {
  auto it = json.find(key);
  return it != json.end() && it->is_boolean() && it->get<bool>();
}

std::string hotKeyOf(const Json& fields) {
  return describeHotKey(static_cast<std::uint32_t>(unsignedField(fields, "keyCode")),
                        static_cast<std::uint32_t>(unsignedField(fields, "modifiers")));
}

std::string replyText(const Json& f) {
  std::string out = shown(f, "channel") + "." + shown(f, "method") + " → ";
  if (f.contains("result"))
    return out + dump(f["result"]);
  if (f.contains("error")) {
    const Json& error = f["error"];
    out += "error " + shown(error, "code");
    if (error.contains("message") && error["message"].is_string()) {
      out += ": " + shownName(error["message"].get<std::string>());
    }
    return out;
  }
  if (flag(f, "notImplemented"))
    return out + "not implemented";
  return out + "no answer";
}

std::string more(std::size_t count, const char* what) {
  return "and " + std::to_string(count) + " more " + what + (count == 1 ? "" : "s");
}

std::string describeEntry(const platform::sim::SimPasteboardEntry& entry) {
  std::string out = shownName(entry.type) + " ";
  if (!entry.data) {
    out += "(unreadable)";
  } else if (platform::isValidUtf8(entry.data->data(), entry.data->size())) {
    out += dump(std::string(entry.data->begin(), entry.data->end()));
  } else {
    out += "<" + std::to_string(entry.data->size()) + " bytes>";
  }
  return out;
}

// "2 items: public.utf8-plain-text \"old\", public.png <4 bytes> | (no types)".
// `items` may be the first `itemCount` items only, and each of them its first
// `(*typeCounts)[i]` types only (all of them when typeCounts is null); what is
// left out is counted.
std::string describeItems(const std::vector<platform::sim::SimPasteboardItemContents>& items,
                          std::size_t itemCount,
                          const std::vector<std::size_t>* typeCounts) {
  if (itemCount == 0)
    return "nothing";
  std::string out = std::to_string(itemCount) + (itemCount == 1 ? " item: " : " items: ");
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0)
      out += " | ";
    const auto& item = items[i];
    const std::size_t typeCount =
        typeCounts && i < typeCounts->size() ? (*typeCounts)[i] : item.size();
    if (typeCount == 0)
      out += "(no types)";
    for (std::size_t j = 0; j < item.size(); ++j)
      out += (j > 0 ? ", " : "") + describeEntry(item[j]);
    if (typeCount > item.size())
      out += (item.empty() ? "" : ", ") + more(typeCount - item.size(), "type");
  }
  if (itemCount > items.size())
    out += (items.empty() ? "" : " | ") + more(itemCount - items.size(), "item");
  return out;
}

// What each event says to a person.
std::string describe(const LogEvent& event) {
  const Json& f = event.fields;
  const Json& c = event.context;
  const std::string& name = event.name;
  if (name == "front") {
    return shown(f, "app") + " comes to the front" +
           (str(c, "by") == "host" ? " (Lumivane activates itself)" : "");
  }
  if (name == "activate")
    return "Lumivane activates " + shown(f, "app");
  if (name == "viewController")
    return "view controller created; its engine runs the interface";
  if (name == "plugin")
    return "plug-in registered: " + shown(f, "name");
  if (name == "window") {
    const std::string change = str(f, "change");
    if (change != "created")
      return shown(f, "window") + " " + change;
    return str(f, "kind") == "panel" ? "floating panel built (" + shown(f, "window") + ")"
                                     : "window created (" + shown(f, "window") + ")";
  }
  if (name == "statusItem") {
    return flag(f, "button") ? "status item added to the menu bar"
                             : "status item added to the menu bar, without a button";
  }
  if (name == "hotkey") {
    const std::string change = str(f, "change");
    if (change == "registered")
      return hotKeyOf(f) + " registered as the hot key";
    if (change == "unregistered")
      return hotKeyOf(f) + " is no longer the hot key";
    const Json status = f.value("status", Json());
    return hotKeyOf(f) + " refused (status " + dump(status) +
           (status == platform::eventHotKeyExistsErr ? ": the chord is taken)" : ")");
  }
  if (name == "panel") {
    if (!flag(f, "visible"))
      return "hidden";
    std::string out = "shown";
    if (c.contains("width")) {
      out += flag(c, "centered") ? ", centred, " : ", ";
      out += number(c["width"]) + "×" + number(c["height"]) + " at (" + number(c["x"]) + ", " +
             number(c["y"]) + ")";
    }
    return out;
  }
  if (name == "starting")
    return "Lumivane starts: loads its main interface and launches";
  if (name == "launched")
    return "start-up finished; Lumivane waits in the menu bar";
  if (name == "press") {
    return flag(f, "toHost") ? hotKeyOf(f) + " → Lumivane's hot-key handler"
                             : hotKeyOf(f) + " is not Lumivane's hot key; nothing happens";
  }
  if (name == "click") {
    const std::string side = str(f, "button") == "right" ? "right" : "left";
    return flag(f, "reached") ? side + " click on the status item"
                              : side + " click, but there is no status item to click";
  }
  if (name == "menu") {
    std::string items;
    for (const auto& item : f.value("items", Json::array())) {
      items += (items.empty() ? "" : ", ") +
               (item.is_string() ? shownName(item.get<std::string>()) : "");
    }
    const auto chosen = f.value("chosen", Json());
    return "menu opened (" + items + "), " +
           (chosen.is_string() ? "the user chooses " + shownName(chosen.get<std::string>())
                               : std::string("dismissed"));
  }
  if (name == "keys") {
    std::string out = describeKeyEvent(static_cast<std::uint32_t>(unsignedField(f, "keyCode")),
                                       unsignedField(f, "flags")) +
                      (flag(f, "down") ? " down" : " up");
    const Json& to = f.value("to", Json());
    if (to.is_string()) {
      out +=
          to.get<std::string>() == "hid" ? " → HID tap" : " → " + shownName(to.get<std::string>());
      if (c.contains("deliveredTo"))
        out += " → " + shown(c, "deliveredTo");
    } else {
      out += " → " + (c.contains("toName") ? shown(c, "toName") + " (pid " + dump(to) + ")"
                                           : "pid " + dump(to));
    }
    if (flag(c, "dropped"))
      out += " (dropped: no application receives it)";
    return out;
  }
  if (name == "copied")
    return shown(f, "app") + " copies; the pasteboard holds " + str(c, "holds");
  if (name == "clipboard") {
    const std::string op = str(f, "op");
    if (op == "clearContents")
      return "Lumivane empties the pasteboard";
    if (op == "setString")
      return "Lumivane puts its text there: " + str(c, "holds");
    return "Lumivane writes saved items back: " + str(c, "holds");
  }
  if (name == "inserted") {
    const Json& text = f.value("text", Json());
    return text.is_string() ? shown(f, "app") + " inserts " + dump(text)
                            : shown(f, "app") + " pastes, but the pasteboard holds no text";
  }
  if (name == "updateSelection")
    return "the interface receives " + dump(f.value("text", Json()));
  if (name == "call") {
    return "the interface receives " + shown(f, "channel") + "." + shown(f, "method") + " " +
           dump(f.value("arguments", Json()));
  }
  if (name == "reply")
    return replyText(f);
  if (name == "prompt")
    return "the system asks the user to trust Lumivane with Accessibility";
  if (name == "stdout")
    return "Lumivane prints " + dump(f.value("line", Json()));
  if (name == "pasteboard")
    return str(c, "holds");
  if (name == "terminated") {
    const auto skipped = unsignedField(f, "skipped");
    return "Lumivane has quit" + (skipped ? "; " + std::to_string(skipped) + " more statement" +
                                                (skipped == 1 ? " is" : "s are") + " not run"
                                          : std::string());
  }
  // An event without words of its own shows its fields.
  return dump(f);
}

}  // namespace

std::string jsonLine(const LogEvent& event) {
  Json object = Json::object();
  object["event"] = event.name;
  for (const auto& [key, value] : event.fields.items())
    object[key] = value;
  // {"event":...} becomes {"t":0.300,"event":...}: a number with a fixed
  // number of decimals is not something the JSON library writes.
  return "{\"t\":" + fixed3(event.time) + "," + dump(object).substr(1);
}

std::string readableLine(const LogEvent& event) {
  char time[32];
  std::snprintf(time, sizeof time, "%7.3f", event.time);
  if (event.name == "step") {
    std::string line = std::string(time) + "  ▸ " + str(event.fields, "statement");
    const std::string comment = str(event.context, "comment");
    if (!comment.empty())
      line += "   # " + comment;
    return line;
  }
  std::string name = event.name;
  if (name.size() < 15)
    name.resize(15, ' ');
  return std::string(time) + "    " + name + " " + describe(event);
}

void EventLog::write(const LogEvent& event) {
  if (format_ == OutputFormat::json) {
    out_ << jsonLine(event) << '\n';
  } else {
    if (event.name == "step" || event.name == "starting")
      out_ << '\n';
    out_ << readableLine(event) << '\n';
  }
}

void EventLog::prose(const std::string& text) {
  if (format_ == OutputFormat::readable)
    out_ << text << '\n';
}

std::string describeHotKey(std::uint32_t keyCode, std::uint32_t carbonModifiers) {
  static const ModifierName kNames[4] = {{platform::cmdKey, "Command"},
                                         {platform::shiftKey, "Shift"},
                                         {platform::optionKey, "Option"},
                                         {platform::controlKey, "Control"}};
  return describeChord(keyCode, carbonModifiers, kNames);
}

std::string describeKeyEvent(std::uint32_t keyCode, std::uint64_t eventFlags) {
  static const ModifierName kNames[4] = {{platform::kCGEventFlagMaskCommand, "Command"},
                                         {platform::kCGEventFlagMaskShift, "Shift"},
                                         {platform::kCGEventFlagMaskAlternate, "Option"},
                                         {platform::kCGEventFlagMaskControl, "Control"}};
  return describeChord(keyCode, eventFlags, kNames);
}

Json toJson(const platform::EncodableValue& value) {
  return std::visit(
      [](const auto& held) -> Json {
        using T = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return nullptr;
        } else if constexpr (std::is_same_v<T, platform::EncodableList>) {
          Json list = Json::array();
          for (const auto& element : held)
            list.push_back(toJson(element));
          return list;
        } else if constexpr (std::is_same_v<T, platform::EncodableMap>) {
          bool stringKeys = true;
          for (const auto& [key, element] : held) {
            stringKeys = stringKeys && std::holds_alternative<std::string>(key);
          }
          Json out = stringKeys ? Json::object() : Json::array();
          for (const auto& [key, element] : held) {
            if (stringKeys) {
              out[std::get<std::string>(key)] = toJson(element);
            } else {
              out.push_back(Json::array({toJson(key), toJson(element)}));
            }
          }
          return out;
        } else {
          // bool, numbers, strings and the typed lists convert as they are.
          return Json(held);
        }
      },
      static_cast<const platform::EncodableValue::super&>(value));
}

Json pasteboardJson(
    const std::optional<std::vector<platform::sim::SimPasteboardItemContents>>& items) {
  if (!items)
    return nullptr;
  Json out = Json::array();
  for (const auto& item : *items) {
    // Appended straight to the object's list of members: adding a member the
    // usual way looks for its key among those already there, which would
    // cost the square of the number of types.
    Json entries = Json::object();
    auto& members = entries.get_ref<Json::object_t&>();
    members.reserve(item.size());
    std::unordered_set<std::string_view> seen;
    for (const auto& entry : item) {
      if (!seen.insert(entry.type).second)
        continue;  // the first of a repeated type is what reads
      if (!entry.data) {
        members.emplace_back(entry.type, nullptr);
      } else if (platform::isValidUtf8(entry.data->data(), entry.data->size())) {
        members.emplace_back(entry.type, std::string(entry.data->begin(), entry.data->end()));
      } else {
        members.emplace_back(entry.type, "<" + std::to_string(entry.data->size()) + " bytes>");
      }
    }
    out.push_back(std::move(entries));
  }
  return out;
}

std::string describePasteboard(
    const std::optional<std::vector<platform::sim::SimPasteboardItemContents>>& items) {
  if (!items)
    return "no item list";
  return describeItems(*items, items->size(), nullptr);
}

std::string describePasteboardExcerpt(
    const std::optional<platform::sim::SimPasteboardExcerpt>& excerpt) {
  if (!excerpt)
    return "no item list";
  return describeItems(excerpt->items, excerpt->itemCount, &excerpt->typeCounts);
}

}  // namespace lumivane::headless
