// Pasteboards far larger than anyone copies, run through the lumivane
// executable: reading the scenario, the host saving the clipboard type by type
// and restoring it item by item, and every line of output must each cost time
// in proportion to the pasteboard's size. Anything quadratic on the way would
// run for minutes at these sizes and meet the test's timeout.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "headless/event_log.h"
#include "headless/scenario.h"
#include "tests/headless/lumivane_run.h"

namespace lumivane::headless {
namespace {

using test::Outcome;
using Json = nlohmann::json;

#ifdef LUMIVANE_SANITIZER_BUILD
constexpr int kLarge = 5'000;
constexpr int kHuge = 60'000;
#else
constexpr int kLarge = 100'000;
// For the steps that are cheap enough per type that at kLarge even a
// quadratic one would finish within the timeout.
constexpr int kHuge = 300'000;
#endif

class LargePasteboardTest : public test::LumivaneRunTest {
 protected:
  // The editor answers the hot key's capture; the clipboard is saved before
  // and restored after it.
  static std::string captureScenario(const Json& pasteboard) {
    return "app Editor selection=\"sel\"\n"
           "pasteboard " +
           pasteboard.dump() +
           "\n"
           "trust on\n"
           "front Editor\n"
           "key 17 0x300\n"
           "wait 1\n";
  }

  static Json manyItems() {
    Json items = Json::array();
    for (int i = 0; i < kLarge; ++i)
      items.push_back({{"public.utf8-plain-text", "item " + std::to_string(i)}});
    return items;
  }
};

TEST_F(LargePasteboardTest, ManyItemsComeBackAfterACapture) {
  const Json items = manyItems();
  const Outcome result = run({"--json", "--scenario", writeScenario(captureScenario(items))});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto all = events(result);
  const auto updates = named(all, "updateSelection");
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0]["text"], "sel");
  int restored = 0;
  for (const auto& event : named(all, "clipboard"))
    restored += event["op"] == "writeObjects";
  EXPECT_EQ(restored, kLarge);  // one write per item
  EXPECT_EQ(all.back()["event"], "pasteboard");
  EXPECT_EQ(all.back()["items"], items);
}

// Each line about a change describes the start of the pasteboard only.
TEST_F(LargePasteboardTest, ReadableLinesAboutChangesStayShort) {
  const Outcome result = run({"--scenario", writeScenario(captureScenario(manyItems()))});
  ASSERT_EQ(result.status, 0) << result.err;
  std::istringstream lines(result.out);
  std::string lastRestore;
  int restored = 0;
  for (std::string line; std::getline(lines, line);) {
    // The statement as written and the final pasteboard are shown whole.
    if (line.find("▸ pasteboard") != std::string::npos ||
        line.find("    pasteboard      ") != std::string::npos) {
      continue;
    }
    ASSERT_LT(line.size(), 600u) << line.substr(0, 600);
    if (line.find("writes saved items back") != std::string::npos) {
      ++restored;
      lastRestore = line;
    }
  }
  EXPECT_EQ(restored, kLarge);
  EXPECT_NE(lastRestore.find(std::to_string(kLarge) + " items: public.utf8-plain-text \"item 0\""),
            std::string::npos)
      << lastRestore;
  EXPECT_NE(lastRestore.find("| and " + std::to_string(kLarge - kDescribedItems) + " more items"),
            std::string::npos)
      << lastRestore;
}

// Reading the statement, saving the item type by type and writing it back
// type by type, and the final JSON.
TEST_F(LargePasteboardTest, AnItemWithManyTypesComesBackAfterACapture) {
  Json item = Json::object();
  for (int i = 0; i < kLarge; ++i)
    item["com.example.type-" + std::to_string(i)] = std::to_string(i);
  const Json items = Json::array({item});
  const Outcome result = run({"--json", "--scenario", writeScenario(captureScenario(items))});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto all = events(result);
  EXPECT_EQ(named(all, "updateSelection").size(), 1u);
  EXPECT_EQ(all.back()["event"], "pasteboard");
  // Every type with its content (Json objects compare regardless of order).
  EXPECT_EQ(all.back()["items"], items);
}

TEST(LargePasteboardStepsTest, ReaderTakesAnItemWithManyTypes) {
  std::string text = "pasteboard [{";
  for (int i = 0; i < kHuge; ++i)
    text += (i ? ",\"" : "\"") + std::to_string(i) + "\":\"" + std::to_string(i) + "\"";
  const auto reading = readScenario(text + ", \"0\": null}]\n");
  ASSERT_FALSE(reading.error) << toString(*reading.error);
  const auto& items = std::get<PasteboardStatement>(reading.statements.at(0).action).items;
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 1u);
  const auto& entries = items->front();
  ASSERT_EQ(entries.size(), static_cast<std::size_t>(kHuge));
  EXPECT_EQ(entries.front(), (PasteboardEntry{"0", std::nullopt}));
  EXPECT_EQ(entries.back(),
            (PasteboardEntry{std::to_string(kHuge - 1), std::to_string(kHuge - 1)}));
}

TEST(LargePasteboardStepsTest, JsonOfAnItemWithManyTypes) {
  platform::sim::SimPasteboardItemContents item;
  for (int i = 0; i < kHuge; ++i)
    item.push_back(platform::sim::SimPasteboardEntry::text(std::to_string(i), std::to_string(i)));
  item.push_back(platform::sim::SimPasteboardEntry::unreadable("0"));
  const auto json = pasteboardJson(std::vector<platform::sim::SimPasteboardItemContents>{item});
  ASSERT_EQ(json.at(0).size(), static_cast<std::size_t>(kHuge));
  EXPECT_EQ(json[0]["0"], "0");
  EXPECT_EQ(json[0].back(), std::to_string(kHuge - 1));
}

}  // namespace
}  // namespace lumivane::headless
