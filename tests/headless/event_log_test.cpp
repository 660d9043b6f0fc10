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

TEST(EventLogTest, ChordsAreNamedAsOnTheKeyboard) {
  EXPECT_EQ(describeHotKey(17, 0x300), "Command+Shift+T");
  EXPECT_EQ(describeHotKey(37, 0x1900), "Command+Option+Control+L");
  EXPECT_EQ(describeKeyEvent(9, 0x100000), "Command+V");
  // Bits and keys without names still show, as numbers.
  EXPECT_EQ(describeHotKey(0x7A, 0x101), "Command+modifiers 0x1+key 0x7a");
}

}  // namespace
}  // namespace lumivane::headless
