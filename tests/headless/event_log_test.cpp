#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "headless/event_log.h"

namespace lumivane::headless {
namespace {

using Json = nlohmann::ordered_json;
using platform::EncodableList;
using platform::EncodableMap;
using platform::EncodableValue;
using platform::sim::SimPasteboardEntry;
using platform::sim::SimPasteboardItemContents;

// Programs read these lines: the time first with exactly three decimals, the
// event's name next, then its fields in the order they were given.
TEST(EventLogTest, JsonLinesPutTimeAndNameFirst) {
  LogEvent event{0.3, "keys", Json::object(), Json{{"toName", "Editor"}}};
  event.fields["keyCode"] = 9;
  event.fields["down"] = true;
  event.fields["to"] = "hid";
  EXPECT_EQ(jsonLine(event), R"({"t":0.300,"event":"keys","keyCode":9,"down":true,"to":"hid"})");
  EXPECT_EQ(jsonLine(LogEvent{12.0, "launched"}), R"({"t":12.000,"event":"launched"})");
  EXPECT_EQ(jsonLine(LogEvent{1.0 / 3.0, "prompt"}), R"({"t":0.333,"event":"prompt"})");
}

// Text from the desktop may be any bytes; the line stays valid JSON.
TEST(EventLogTest, JsonLinesSurviveInvalidUtf8) {
  const std::string line = jsonLine(LogEvent{0, "stdout", Json{{"line", "bad \xFF byte"}}});
  const auto parsed = Json::parse(line, nullptr, false);
  ASSERT_FALSE(parsed.is_discarded()) << line;
  EXPECT_EQ(parsed["line"], "bad \xEF\xBF\xBD byte");
}

TEST(EventLogTest, ChannelValuesBecomeJson) {
  EXPECT_EQ(toJson(EncodableValue()), Json());
  EXPECT_EQ(toJson(EncodableValue(EncodableMap{{EncodableValue("a"), EncodableValue(1)}})),
            (Json{{"a", 1}}));
  // A map JSON cannot key by its own keys comes out as [key, value] pairs.
  EXPECT_EQ(toJson(EncodableValue(EncodableMap{{EncodableValue(1), EncodableValue("one")},
                                               {EncodableValue("b"), EncodableValue(true)}})),
            Json::parse(R"([[1, "one"], ["b", true]])"));
  EXPECT_EQ(toJson(EncodableValue(EncodableList{EncodableValue(std::int64_t{1} << 40),
                                                EncodableValue(std::vector<std::uint8_t>{1, 2})})),
            Json::parse("[1099511627776, [1, 2]]"));
  // JSON has no NaN: it is written as null rather than breaking the line.
  const LogEvent nan{
      0, "reply",
      Json{{"result", toJson(EncodableValue(std::numeric_limits<double>::quiet_NaN()))}}};
  EXPECT_EQ(jsonLine(nan), R"({"t":0.000,"event":"reply","result":null})");
}

TEST(EventLogTest, PasteboardShowsTextBytesAndUnreadableData) {
  const std::vector<SimPasteboardItemContents> items{
      {SimPasteboardEntry::text("old"),
       {"public.png", platform::Bytes{0x89, 'P', 'N', 'G'}},
       SimPasteboardEntry::unreadable("public.rtf")},
      {}};
  EXPECT_EQ(pasteboardJson(items),
            Json::parse(R"([{"public.utf8-plain-text": "old", "public.png": "<4 bytes>",
                             "public.rtf": null}, {}])"));
  EXPECT_EQ(describePasteboard(items),
            "2 items: public.utf8-plain-text \"old\", public.png <4 bytes>, public.rtf "
            "(unreadable) | (no types)");
  EXPECT_EQ(pasteboardJson(std::nullopt), Json());
  EXPECT_EQ(describePasteboard(std::nullopt), "no item list");
  EXPECT_EQ(describePasteboard(std::vector<SimPasteboardItemContents>{}), "nothing");
}

// Nothing from a scenario or the host reaches a terminal as a control
// character: whatever a name holds, the event stays one line of inert text.
TEST(EventLogTest, ReadableLinesEscapeEveryNameAndText) {
  // ESC sequences, a newline and a C1 CSI (U+009B).
  const std::string hostile =
      "Ed\x1B[2J\nitor\xC2\x9B"
      "31m";
  const std::string shown = R"("Ed\u001b[2J\nitor\u009b31m")";
  const Json error{{"code", hostile}, {"message", hostile}};
  const LogEvent events[] = {
      {0, "front", Json{{"app", hostile}}},
      {0, "activate", Json{{"app", hostile}}},
      {0, "plugin", Json{{"name", hostile}}},
      {0, "window", Json{{"window", hostile}, {"kind", "panel"}, {"change", "created"}}},
      {0, "window", Json{{"window", hostile}, {"kind", "window"}, {"change", "shown"}}},
      {0, "menu", Json{{"items", {"Quit", hostile}}, {"chosen", hostile}}},
      {0, "keys", Json{{"keyCode", 9}, {"to", 201}}, Json{{"toName", hostile}}},
      {0, "keys", Json{{"keyCode", 9}, {"to", hostile}}, Json{{"deliveredTo", hostile}}},
      {0, "copied", Json{{"app", hostile}}, Json{{"holds", "nothing"}}},
      {0, "inserted", Json{{"app", hostile}, {"text", hostile}}},
      {0, "inserted", Json{{"app", hostile}, {"text", nullptr}}},
      {0, "updateSelection", Json{{"text", hostile}}},
      {0, "call", Json{{"channel", "system"}, {"method", hostile}, {"arguments", {hostile}}}},
      {0, "reply", Json{{"channel", "selection"}, {"method", hostile}, {"result", hostile}}},
      {0, "reply", Json{{"channel", "selection"}, {"method", hostile}, {"error", error}}},
      {0, "stdout", Json{{"line", hostile}}},
      {0, "unknownEvent", Json{{"field", hostile}}},
  };
  for (const auto& event : events) {
    const std::string line = readableLine(event);
    SCOPED_TRACE(line);
    for (std::size_t i = 0; i < line.size(); ++i) {
      const auto byte = static_cast<unsigned char>(line[i]);
      ASSERT_TRUE(byte >= 0x20 && byte != 0x7F) << "control byte at " << i;
      ASSERT_FALSE(byte == 0xC2 && static_cast<unsigned char>(line[i + 1]) < 0xA0)
          << "C1 control at " << i;
    }
    EXPECT_NE(line.find(shown.substr(1, shown.size() - 2)), std::string::npos);
  }
  // Names that need no escaping show as they are, quotes and all.
  EXPECT_EQ(readableLine(LogEvent{0, "front", Json{{"app", "Text \"Edit\""}}}),
            "  0.000    front           Text \"Edit\" comes to the front");
  EXPECT_EQ(readableLine(LogEvent{0, "front", Json{{"app", hostile}}}),
            "  0.000    front           " + shown + " comes to the front");
}

// JSON lines escape DEL and the C1 controls too; a program reads the same text.
TEST(EventLogTest, JsonLinesEscapeEveryControlCharacter) {
  const std::string text =
      "a\x7F"
      "b\xC2\x85"
      "c\xC2\x9F"
      "d\xC2\xA0"
      "e";
  const std::string line = jsonLine(LogEvent{0, "stdout", Json{{"line", text}}});
  EXPECT_EQ(line, R"({"t":0.000,"event":"stdout","line":"a\u007fb\u0085c\u009fd)"
                  "\xC2\xA0"
                  R"(e"})");
  EXPECT_EQ(Json::parse(line)["line"], text);
}

TEST(EventLogTest, PasteboardTypesAreEscapedAndRepeatsReadAsTheFirst) {
  const std::vector<SimPasteboardItemContents> items{{SimPasteboardEntry::text("1", "b"),
                                                      SimPasteboardEntry::text("x", "a\n"),
                                                      SimPasteboardEntry::text("2", "b")}};
  EXPECT_EQ(describePasteboard(items), R"(1 item: b "1", "a\n" "x", b "2")");
  EXPECT_EQ(jsonLine(LogEvent{0, "pasteboard", Json{{"items", pasteboardJson(items)}}}),
            R"({"t":0.000,"event":"pasteboard","items":[{"b":"1","a\n":"x"}]})");
}

// A line about a change describes the start of the pasteboard and counts the
// rest, so that its length does not grow with the pasteboard.
TEST(EventLogTest, ExcerptsCountWhatTheyLeaveOut) {
  platform::sim::SimPasteboardExcerpt excerpt;
  excerpt.itemCount = 100000;
  excerpt.items = {
      {SimPasteboardEntry::text("a"), SimPasteboardEntry::text("b", "public.html")}, {}, {}};
  excerpt.typeCounts = {3, 0, 1};
  EXPECT_EQ(describePasteboardExcerpt(excerpt),
            "100000 items: public.utf8-plain-text \"a\", public.html \"b\", and 1 more type | "
            "(no types) | and 1 more type | and 99997 more items");
  excerpt = {2, {}, {}};
  EXPECT_EQ(describePasteboardExcerpt(excerpt), "2 items: and 2 more items");
  // Whole, it reads as the full description does.
  excerpt = {1, {{SimPasteboardEntry::text("old")}}, {1}};
  EXPECT_EQ(describePasteboardExcerpt(excerpt),
            describePasteboard(
                std::vector<SimPasteboardItemContents>{{SimPasteboardEntry::text("old")}}));
  EXPECT_EQ(describePasteboardExcerpt(std::nullopt), "no item list");
  EXPECT_EQ(describePasteboardExcerpt(platform::sim::SimPasteboardExcerpt{}), "nothing");
}

TEST(EventLogTest, ChordsAreNamedAsOnTheKeyboard) {
  EXPECT_EQ(describeHotKey(17, 0x300), "Command+Shift+T");
  EXPECT_EQ(describeHotKey(37, 0x1900), "Command+Option+Control+L");
  EXPECT_EQ(describeKeyEvent(9, 0x100000), "Command+V");
  // Bits and keys without names still show, as numbers.
  EXPECT_EQ(describeHotKey(0x7A, 0x101), "Command+modifiers 0x1+key 0x7a");
}

}  // namespace
}  // namespace lumivane::headless
