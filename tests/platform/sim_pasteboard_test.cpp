#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim_desktop.h"
#include "tests/support/sim_desktop_fixture.h"

namespace lumivane::platform::sim {
namespace {

using test_support::SimDesktopTest;

Bytes bytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

class SimPasteboardTest : public SimDesktopTest {
 protected:
  SimPasteboard& pasteboard = desktop.generalPasteboard();
};

// Reads and writes find a type by its first entry, however the item was made
// and whatever was written to it since. (Types in order, unreadable and empty
// data are the pasteboard contract's.)
TEST_F(SimPasteboardTest, ItemsFindEachTypeByItsFirstEntry) {
  pasteboard.setContents({{{"a", bytes("1")}, {"b", bytes("2")}, {"a", bytes("3")}}});
  auto read = (*pasteboard.pasteboardItems())[0];
  EXPECT_EQ(read->dataForType("a"), bytes("1"));
  EXPECT_TRUE(read->setDataForType(bytes("4"), "a"));
  EXPECT_TRUE(read->setDataForType(bytes("5"), "c"));
  EXPECT_EQ(read->types(), (std::vector<std::string>{"a", "b", "a", "c"}));
  EXPECT_EQ(read->dataForType("a"), bytes("4"));
  EXPECT_EQ(read->dataForType("c"), bytes("5"));
  EXPECT_EQ(read->dataForType("d"), std::nullopt);

  auto fresh = pasteboard.makeItem();
  EXPECT_TRUE(fresh->setDataForType(bytes("x"), "t"));
  EXPECT_EQ(fresh->dataForType("t"), bytes("x"));
  EXPECT_TRUE(fresh->setDataForType(bytes("y"), "t"));
  EXPECT_TRUE(fresh->setDataForType(bytes("z"), "u"));
  EXPECT_EQ(fresh->types(), (std::vector<std::string>{"t", "u"}));
  EXPECT_EQ(fresh->dataForType("t"), bytes("y"));
  EXPECT_EQ(fresh->dataForType("u"), bytes("z"));

  // Present but empty text is text.
  pasteboard.setContents({{{NSPasteboardTypeString, Bytes{}}, SimPasteboardEntry::text("later")}});
  EXPECT_EQ(pasteboard.stringForType(NSPasteboardTypeString), "");
}

TEST_F(SimPasteboardTest, ExcerptIsTheStartOfTheContentsWithTheirSizes) {
  pasteboard.setContents(
      {{{"a", bytes("1")}, SimPasteboardEntry::unreadable("b"), {"c", bytes("3")}},
       {},
       {SimPasteboardEntry::text("x")}});
  const auto excerpt = pasteboard.excerpt(2, 2);
  EXPECT_EQ(excerpt.itemCount, 3u);
  EXPECT_EQ(excerpt.items, (std::vector<SimPasteboardItemContents>{
                               {{"a", bytes("1")}, SimPasteboardEntry::unreadable("b")}, {}}));
  EXPECT_EQ(excerpt.typeCounts, (std::vector<std::size_t>{3, 0}));
  const auto whole = pasteboard.excerpt(10, 10);
  EXPECT_EQ(whole.items, pasteboard.contents());
}

TEST_F(SimPasteboardTest, NoItemListModeStillAnswersStrings) {
  pasteboard.setString("text");
  pasteboard.setReportsNoItemList(true);
  EXPECT_FALSE(pasteboard.pasteboardItems().has_value());
  EXPECT_EQ(pasteboard.stringForType(NSPasteboardTypeString), "text");
}

TEST_F(SimPasteboardTest, StringForTypeSkipsItemsThatAreNotText) {
  pasteboard.setContents({{{NSPasteboardTypeString, Bytes{0xC3, 0x28}}},  // broken UTF-8
                          {{NSPasteboardTypeString, bytes("caf\xC3\xA9")}}});
  EXPECT_EQ(pasteboard.stringForType(NSPasteboardTypeString), "caf\xC3\xA9");
  pasteboard.setContents({{{NSPasteboardTypePNG, Bytes{1, 2}}}});
  EXPECT_EQ(pasteboard.stringForType(NSPasteboardTypeString), std::nullopt);
}

TEST_F(SimPasteboardTest, SetStringJoinsTheFirstItemAndCountMovesOnlyOnClear) {
  const auto start = pasteboard.changeCount();
  EXPECT_TRUE(pasteboard.setStringForType("a", NSPasteboardTypeString));
  EXPECT_TRUE(pasteboard.setStringForType("<a>", NSPasteboardTypeHTML));
  EXPECT_EQ(pasteboard.changeCount(), start);
  ASSERT_EQ(pasteboard.contents().size(), 1u);
  EXPECT_EQ(pasteboard.contents()[0].size(), 2u);
  EXPECT_EQ(pasteboard.clearContents(), start + 1);
}

TEST_F(SimPasteboardTest, ItemsHeldByTheHostAreCountedUntilReleased) {
  skipTeardownChecks();
  pasteboard.setString("x");
  auto items = pasteboard.pasteboardItems();
  auto fresh = pasteboard.makeItem();
  EXPECT_EQ(desktop.liveObjects().pasteboardItems, 2u);
  items.reset();
  fresh.reset();
  EXPECT_TRUE(desktop.liveObjects().none());
}

}  // namespace
}  // namespace lumivane::platform::sim
