#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "headless/scenario.h"

namespace lumivane::headless {
namespace {

using platform::EncodableMap;
using platform::EncodableValue;

ScenarioError errorOf(const std::string& text) {
  auto reading = readScenario(text);
  EXPECT_TRUE(reading.error.has_value()) << "accepted: " << text;
  EXPECT_TRUE(reading.statements.empty());
  return reading.error.value_or(ScenarioError{});
}

TEST(ScenarioReaderTest, ReadsStatementsWithTheirLinesCommentsAndValues) {
  const auto reading = readScenario(
      "\xEF\xBB\xBF# setup\r\n"
      "\n"
      "app \"Text Edit\" bundle=none selection=\"a # b\" copy-delay=0.25 copies=image  # note\n"
      "pasteboard [{\"public.utf8-plain-text\": \"x\", \"public.rtf\": null}]\n"
      "key 0x11 768\n"
      "call system setGlobalHotKey {\"keyCode\": 37, \"modifiers\": 2304}\n"
      "click right choose=\"Quit\"\n");
  ASSERT_FALSE(reading.error) << toString(*reading.error);
  ASSERT_EQ(reading.statements.size(), 5u);

  const auto& appLine = reading.statements[0];
  EXPECT_EQ(appLine.line, 3);
  EXPECT_EQ(appLine.comment, "note");
  const auto& app = std::get<AppStatement>(appLine.action);
  EXPECT_EQ(app.name, "Text Edit");
  EXPECT_EQ(app.bundleId, std::nullopt);
  EXPECT_EQ(app.selection, "a # b");  // a '#' inside a string is no comment
  EXPECT_EQ(app.copyDelay, 0.25);
  EXPECT_EQ(app.copies, CopyKind::image);
  EXPECT_EQ(app.pid, kFirstAutomaticPid);

  const auto& pasteboard = std::get<PasteboardStatement>(reading.statements[1].action);
  ASSERT_TRUE(pasteboard.items);
  EXPECT_EQ(*pasteboard.items,
            (std::vector<PasteboardItemEntries>{
                {{"public.utf8-plain-text", "x"}, {"public.rtf", std::nullopt}}}));

  const auto& key = std::get<KeyStatement>(reading.statements[2].action);
  EXPECT_EQ(key.chord.keyCode, 17u);
  EXPECT_EQ(key.chord.modifiers, 0x300u);

  const auto& call = std::get<CallStatement>(reading.statements[3].action);
  EXPECT_EQ(call.channel, ChannelName::system);
  EXPECT_EQ(call.arguments,
            EncodableValue(
                EncodableMap{{EncodableValue("keyCode"), EncodableValue(std::int64_t{37})},
                             {EncodableValue("modifiers"), EncodableValue(std::int64_t{2304})}}));
  EXPECT_EQ(std::get<ClickStatement>(reading.statements[4].action).choose, "Quit");
}

// Applications that name no pid are numbered around those that do, wherever
// in the scenario those are declared.
TEST(ScenarioReaderTest, NumbersApplicationsAroundTakenPids) {
  const auto reading = readScenario("app A\napp B pid=202\napp C\napp D pid=201\n");
  ASSERT_FALSE(reading.error);
  std::vector<platform::pid_t> pids;
  for (const auto& statement : reading.statements) {
    pids.push_back(std::get<AppStatement>(statement.action).pid);
  }
  EXPECT_EQ(pids, (std::vector<platform::pid_t>{203, 202, 204, 201}));
}

TEST(ScenarioReaderTest, CallsWithoutJsonCarryNoArgument) {
  const auto reading = readScenario("call selection checkPermission   # no argument\n");
  ASSERT_FALSE(reading.error);
  EXPECT_FALSE(std::get<CallStatement>(reading.statements[0].action).arguments);
}

struct Malformed {
  const char* text;
  int line;
  const char* expected;
};

// Each kind of mistake names its line and what was expected there, and
// nothing of the scenario is kept.
TEST(ScenarioReaderTest, RejectsEachMalformationWithItsLineAndExpectation) {
  const Malformed cases[] = {
      {"trust on\nfrnt Editor\n", 2, "expected a statement (app, front,"},
      {"trust maybe\n", 1, "expected on or off after trust, found \"maybe\""},
      {"trust\n", 1, "expected on or off after trust, found the end of the line"},
      {"trust on off\n", 1, "expected the end of the line after trust on, found \"off\""},
      {"key 17\n", 1, "expected a modifier mask"},
      {"key 0x100000000 0\n", 1, "expected a key code (decimal or 0x hex, up to 32 bits)"},
      {"key -1 0\n", 1, "expected a key code"},
      {"hotkey-taken 17 0xZZ\n", 1, "expected a modifier mask"},
      {"wait -1\n", 1, "expected seconds from 0 to 86400 after wait"},
      {"wait 1e9\n", 1, "expected seconds from 0 to 86400 after wait"},
      {"wait nan\n", 1, "expected seconds from 0 to 86400 after wait"},
      {"wait 86401\n", 1, "expected seconds from 0 to 86400 after wait"},
      {"app\n", 1, "expected an application name"},
      {"app host\n", 1, "other than \"host\""},
      {"app Editor\n\napp Editor\n", 3,
       "expected a new application name, found \"Editor\", declared on line 1"},
      {"app Editor colour=red\n", 1,
       "expected an option bundle=, pid=, selection=, copy-delay= or copies="},
      {"app Editor pid=100\n", 1, "other than 100"},
      {"app Editor pid=0\n", 1, "expected a process id from 1 to 2147483647"},
      {"app A pid=300\napp B pid=300\n", 2, "the pid of \"A\""},
      {"app Editor copies=text copies=image\n", 1, "expected copies= at most once"},
      {"app Editor copies=video\n", 1, "expected text, image or nothing after copies="},
      {"app Editor copy-delay=soon\n", 1, "expected seconds from 0 to 86400 after copy-delay="},
      {"app Editor selection=\"a\\q\"\n", 1, "expected a word or a JSON string after selection="},
      {"app Editor selection= pid=5\n", 1, "after selection=, found nothing"},
      {"front Editor\napp Editor\n", 1, "declared earlier with app, found \"Editor\""},
      {"pasteboard\n", 1, "expected null or a JSON array of items"},
      {"pasteboard {\"a\": \"b\"}\n", 1, "expected null or a JSON array of items"},
      {"pasteboard [{\"public.utf8-plain-text\": 3}]\n", 1, "found number for type"},
      {"pasteboard [\"text\"]\n", 1, "found an item that is string"},
      {"pasteboard [{\"a\": \"b\"}] extra\n", 1, "expected null or a JSON array of items"},
      {"call clipboard paste\n", 1, "expected selection or system after call"},
      {"call selection\n", 1, "expected a method name after call selection"},
      {"call selection pasteText tru\n", 1, "expected one JSON value as the argument of pasteText"},
      {"call selection pasteText 9223372036854775808\n", 1,
       "integers must be from -2^63 to 2^63-1"},
      {"call selection pasteText -99999999999999999999\n", 1,
       "integers must be from -2^63 to 2^63-1"},
      {"call selection pasteText 1e999\n", 1, "expected one JSON value"},
      {"call selection pasteText \"\\ud800\"\n", 1, "expected one JSON value"},
      {"app Editor selection=\"open\n", 1, "expected a closing '\"'"},
      {"trust on\napp Ed\xFF\n", 2, "expected UTF-8 text"},
      {"app Ed\x01itor\n", 1, "expected printable text"},
      {"app Editor selection=\"\\ud800\"\n", 1, "surrogate U+D800..U+DBFF"},
      {"click middle\n", 1, "expected left or right after click"},
      {"click left choose=Quit\n", 1, "expected the end of the line after click left"},
      {"login-service maybe\n", 1, "expected enabled, requires-approval or refuse"},
      {"login-service refuse 42\n", 1, "expected the refusal's description as a JSON string"},
      {"login-service enabled \"why\"\n", 1,
       "expected the end of the line after login-service enabled"},
      {"os 14\n", 1, "expected a system version MAJOR.MINOR.PATCH"},
      {"os 14.a\n", 1, "expected a system version"},
      {"os 1.2.3.4\n", 1, "expected a system version"},
      {"show clipboard\n", 1, "expected pasteboard after show"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto error = errorOf(c.text);
    EXPECT_EQ(error.line, c.line);
    EXPECT_NE(error.message.find(c.expected), std::string::npos) << error.message;
  }
}

// A line that cannot be read says where and what the bad character is.
TEST(ScenarioReaderTest, NamesTheCharacterThatStopsALine) {
  EXPECT_EQ(errorOf("app Ed\x01itor\n").message,
            "expected printable text, found the control character U+0001 at column 7");
  // C1 controls are acted on by terminals as ESC sequences are, and
  // statements are echoed as written.
  EXPECT_EQ(errorOf("trust on\napp Ed\xC2\x9B"
                    "31m\n")
                .message,
            "expected printable text, found the control character U+009B at column 7");
  EXPECT_EQ(errorOf("app Ed\x7F\n").message,
            "expected printable text, found the control character U+007F at column 7");
  EXPECT_EQ(errorOf("app Edit\xFF\n").message,
            "expected UTF-8 text, found bytes that are not at column 9");
  // Tabs separate words; other characters beyond ASCII are text.
  EXPECT_FALSE(readScenario("app\tCaf\xC3\xA9 selection=\"\xC2\xA0\"\n").error);
}

// A string that is not valid JSON is refused with the reason, in whichever
// statement it stands, and a word with a stray quote says so.
TEST(ScenarioReaderTest, SaysWhatIsWrongWithAString) {
  const Malformed cases[] = {
      {"app Editor selection=\"\\ud800\"\n", 1,
       "expected a word or a JSON string after selection=: syntax error while parsing value - "
       "invalid string: surrogate U+D800..U+DBFF must be followed by U+DC00..U+DFFF"},
      {"app \"\\ud800\"\n", 1, "after app: syntax error"},
      {"app Editor bundle=\"\\udc00\"\n", 1, "after bundle=: syntax error"},
      {"app A\nfront \"\\ud800A\"\n", 2, "declared earlier with app: syntax error"},
      {"click right choose=\"\\ud800\"\n", 1, "after choose=: syntax error"},
      {"call selection \"\\ud800\"\n", 1, "after call selection: syntax error"},
      {"login-service refuse \"\\ud800\"\n", 1, "after refuse: syntax error"},
      {"app Editor selection=\"a\\q\"\n", 1, "after selection=: syntax error"},
      {"app Ed\"it\"or\n", 1, "found \"Ed\\\"it\\\"or\", a word with '\"' in it"},
      {"app Editor selection=\"a\"b\n", 1, "after selection=: syntax error"},
      {"app \"\"\n", 1, "after app, found an empty name"},
      {"app A\nfront B\n", 2, "found \"B\", which no app statement before this line declares"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto error = errorOf(c.text);
    EXPECT_EQ(error.line, c.line);
    EXPECT_NE(error.message.find(c.expected), std::string::npos) << error.message;
  }
  // Where reading stopped is a column of the line, blanks before the
  // statement included.
  EXPECT_NE(errorOf("  app Editor selection=\"\\ud800\"\n").message.find("column 31"),
            std::string::npos);
}

TEST(ScenarioReaderTest, ReadsSecondsInExponentForm) {
  const auto seconds = [](const std::string& text) {
    const auto reading = readScenario(text + "\n");
    EXPECT_FALSE(reading.error) << text << ": " << toString(*reading.error);
    return reading.error ? -1.0 : std::get<WaitStatement>(reading.statements.at(0).action).seconds;
  };
  EXPECT_EQ(seconds("wait 1e-3"), 0.001);
  EXPECT_EQ(seconds("wait 2.5E-1"), 0.25);
  EXPECT_EQ(seconds("wait 8.64e4"), kMaxSeconds);
  EXPECT_EQ(seconds("wait 1e+2"), 100);
  // Too small for a double, and so 0 seconds.
  EXPECT_EQ(seconds("wait 1e-400"), 0);
  EXPECT_EQ(seconds("wait 0.000000000000000000000000000000000000000000000000000000000000000000000"
                    "000000000000000000000000000000000000000000000000000000000000000000000000000"
                    "000000000000000000000000000000000000000000000000000000000000000000000000000"
                    "000000000000000000000000000000000000000000000000000000000000000000000000000"
                    "000000000000000000000000000000000000000000000000000000000000000000000000001"),
            0);
  const auto app = readScenario("app Editor copy-delay=25e-2\n");
  ASSERT_FALSE(app.error);
  EXPECT_EQ(std::get<AppStatement>(app.statements[0].action).copyDelay, 0.25);

  for (const char* outOfRange :
       {"wait 8.6401e4", "wait 1e400", "wait -1e-3", "wait -1e-400", "wait 1e", "wait e3",
        "wait inf", "wait 0x10", "app Editor copy-delay=9e9"}) {
    SCOPED_TRACE(outOfRange);
    EXPECT_NE(
        errorOf(std::string(outOfRange) + "\n").message.find("expected seconds from 0 to 86400"),
        std::string::npos);
  }
}

// A type given twice in one item is one type: in the first one's place, with
// the last one's content, as in any JSON object.
TEST(ScenarioReaderTest, PasteboardItemsKeepTheirTypesInOrder) {
  const auto reading = readScenario(
      "pasteboard [{\"b\": \"1\", \"a\": null, \"b\": \"2\"}, {}, {\"c\": 3, \"c\": \"3\"}]\n"
      "pasteboard null\n");
  ASSERT_FALSE(reading.error) << toString(*reading.error);
  EXPECT_EQ(
      std::get<PasteboardStatement>(reading.statements[0].action).items,
      (std::vector<PasteboardItemEntries>{{{"b", "2"}, {"a", std::nullopt}}, {}, {{"c", "3"}}}));
  EXPECT_FALSE(std::get<PasteboardStatement>(reading.statements[1].action).items);

  EXPECT_NE(errorOf("pasteboard [{\"a\": \"x\", \"b\": [\"y\", {\"z\": 1}]}]\n")
                .message.find(", found array for type \"b\""),
            std::string::npos);
  EXPECT_NE(
      errorOf("pasteboard [{\"a\": \"x\"}, [{}]]\n").message.find("found an item that is array"),
      std::string::npos);
  EXPECT_NE(errorOf("pasteboard true\n").message.find(", found boolean"), std::string::npos);
}

// JSON an attacker shapes to exhaust the stack or overflow numbers is refused
// with a message, not followed.
TEST(ScenarioReaderTest, RefusesDeeplyNestedJsonAtTheLimit) {
  const auto nested = [](int depth) {
    return "call selection pasteText " + std::string(depth, '[') + std::string(depth, ']') + "\n";
  };
  EXPECT_FALSE(readScenario(nested(kMaxJsonNesting)).error);
  const auto error = errorOf(nested(kMaxJsonNesting + 1));
  EXPECT_NE(error.message.find("may nest at most 64 deep"), std::string::npos) << error.message;
  // Far past the limit, and never closed.
  EXPECT_TRUE(readScenario("pasteboard " + std::string(1'000'000, '[')).error);
}

// Whatever the bytes, the reader answers with statements or an error on a line
// that exists; it does not crash or hang.
TEST(ScenarioReaderTest, SurvivesArbitraryBytes) {
  const std::string pieces[] = {"app ",        "call selection pasteText ",
                                "pasteboard ", "[",
                                "{",           "\"",
                                "\\",          "#",
                                "\n",          "1e308",
                                "0x",          "=",
                                "\xC3",        "\xA9",
                                "\xFF",        " ",
                                "key 1 2",     "null",
                                "wait 1",      "\t",
                                "\r"};
  std::mt19937 random(20240601);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i)
      text += pieces[random() % std::size(pieces)];
    const auto reading = readScenario(text);
    if (reading.error) {
      EXPECT_GE(reading.error->line, 1);
      EXPECT_LE(reading.error->line, count + 1);
      EXPECT_TRUE(reading.statements.empty());
    }
  }
}

}  // namespace
}  // namespace lumivane::headless
