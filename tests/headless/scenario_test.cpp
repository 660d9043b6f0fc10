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
