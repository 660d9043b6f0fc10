#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture/pasteboard_snapshot.h"
#include "tests/support/heap_counter.h"
#include "tests/support/sim_desktop_fixture.h"

namespace lumivane {
namespace {

using platform::Bytes;
using platform::NSPasteboardTypeHTML;
using platform::NSPasteboardTypePNG;
using platform::NSPasteboardTypeRTF;
using platform::NSPasteboardTypeString;
using platform::sim::PasteboardOp;
using platform::sim::SimPasteboard;
using platform::sim::SimPasteboardEntry;
using platform::sim::SimPasteboardItemContents;

Bytes bytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

class PasteboardSnapshotTest : public test_support::SimDesktopTest {
 protected:
  // The host's own change requests, for counting what a restore did.
  std::size_t hostOps(PasteboardOp op) const { return pasteboard.count(op, "host"); }

  SimPasteboard& pasteboard = desktop.generalPasteboard();
};

TEST_F(PasteboardSnapshotTest, NoItemListIsAbsentAndItsRestoreLeavesThePasteboardAlone) {
  pasteboard.setString("user's clipboard");
  pasteboard.setReportsNoItemList(true);
  PasteboardSnapshot saved = saveClipboard(pasteboard);
  EXPECT_FALSE(saved.has_value());

  pasteboard.setString("written in between");
  restoreClipboard(pasteboard, saved);
  EXPECT_EQ(pasteboard.plainText(), "written in between");
  EXPECT_EQ(hostOps(PasteboardOp::clearContents), 0u);
}

TEST_F(PasteboardSnapshotTest, EmptyPasteboardIsAnEmptyListAndItsRestoreChangesNothing) {
  pasteboard.setContents({});
  PasteboardSnapshot saved = saveClipboard(pasteboard);
  ASSERT_TRUE(saved.has_value());
  EXPECT_TRUE(saved->empty());

  pasteboard.setString("written in between");
  restoreClipboard(pasteboard, saved);
  EXPECT_EQ(pasteboard.plainText(), "written in between");
  EXPECT_EQ(hostOps(PasteboardOp::clearContents), 0u);
  EXPECT_EQ(hostOps(PasteboardOp::writeObjects), 0u);
}

TEST_F(PasteboardSnapshotTest, RestoreReplacesWhatIsThereWithEveryItemInOrder) {
  pasteboard.setContents({
      {SimPasteboardEntry::text("{\\rtf1 bold}", NSPasteboardTypeRTF),
       SimPasteboardEntry::text("bold")},
      {{NSPasteboardTypePNG, bytes("png")}},
  });
  PasteboardSnapshot saved = saveClipboard(pasteboard);
  pasteboard.setString("written in between");

  restoreClipboard(pasteboard, saved);
  // Types within an item come back in the snapshot's own order, so compare
  // each item as a set of types.
  const auto contents = pasteboard.contents();
  ASSERT_EQ(contents.size(), 2u);
  EXPECT_EQ(contents[0].size(), 2u);
  EXPECT_NE(std::find(contents[0].begin(), contents[0].end(),
                      SimPasteboardEntry::text("{\\rtf1 bold}", NSPasteboardTypeRTF)),
            contents[0].end());
  EXPECT_NE(std::find(contents[0].begin(), contents[0].end(), SimPasteboardEntry::text("bold")),
            contents[0].end());
  EXPECT_EQ(contents[1], (SimPasteboardItemContents{{NSPasteboardTypePNG, bytes("png")}}));
}

TEST_F(PasteboardSnapshotTest, ItemsWithNothingReadableAreDroppedAndTheRestKeepTheirOrder) {
  pasteboard.setContents({
      {SimPasteboardEntry::text("first")},
      {SimPasteboardEntry::unreadable("com.example.promise")},
      {},
      {SimPasteboardEntry::unreadable("com.example.promise"), SimPasteboardEntry::text("last")},
  });
  PasteboardSnapshot saved = saveClipboard(pasteboard);
  ASSERT_TRUE(saved.has_value());
  ASSERT_EQ(saved->size(), 2u);
  EXPECT_EQ((*saved)[0], (SavedPasteboardItem{{NSPasteboardTypeString, bytes("first")}}));
  // The unreadable type is left out of an item that has something else.
  EXPECT_EQ((*saved)[1], (SavedPasteboardItem{{NSPasteboardTypeString, bytes("last")}}));

  restoreClipboard(pasteboard, saved);
  EXPECT_EQ(pasteboard.contents(),
            (std::vector<SimPasteboardItemContents>{{SimPasteboardEntry::text("first")},
                                                    {SimPasteboardEntry::text("last")}}));
}

TEST_F(PasteboardSnapshotTest, ATypeListedTwiceIsSavedAndRestoredOnce) {
  pasteboard.setContents({{{NSPasteboardTypeHTML, bytes("<b>x</b>")},
                           SimPasteboardEntry::text("x"),
                           {NSPasteboardTypeHTML, bytes("<b>x</b>")}}});
  PasteboardSnapshot saved = saveClipboard(pasteboard);
  ASSERT_EQ(saved->size(), 1u);
  EXPECT_EQ((*saved)[0].size(), 2u);
  restoreClipboard(pasteboard, saved);
  ASSERT_EQ(pasteboard.contents().size(), 1u);
  EXPECT_EQ(pasteboard.contents()[0].size(), 2u);
}

TEST_F(PasteboardSnapshotTest, ZeroByteDataIsKept) {
  pasteboard.setContents({{{"com.example.marker", Bytes{}}}});
  PasteboardSnapshot saved = saveClipboard(pasteboard);
  ASSERT_EQ(saved->size(), 1u);
  pasteboard.setString("written in between");
  restoreClipboard(pasteboard, saved);
  EXPECT_EQ(pasteboard.contents(),
            (std::vector<SimPasteboardItemContents>{{{"com.example.marker", Bytes{}}}}));
}

// A refused write is neither retried nor allowed to stop the items after it.
TEST_F(PasteboardSnapshotTest, RefusedWritesStillTryEveryItem) {
  pasteboard.setContents({{SimPasteboardEntry::text("one")}, {SimPasteboardEntry::text("two")}});
  PasteboardSnapshot saved = saveClipboard(pasteboard);
  pasteboard.setRefusesWrites(true);
  restoreClipboard(pasteboard, saved);
  EXPECT_EQ(hostOps(PasteboardOp::clearContents), 1u);
  EXPECT_EQ(hostOps(PasteboardOp::writeObjects), 2u);
  EXPECT_TRUE(pasteboard.contents().empty());
}

// A large clipboard is copied once, when it is saved; restoring hands the
// saved bytes to the new items instead of copying them again.
TEST_F(PasteboardSnapshotTest, SavingCopiesTheBytesOnceAndRestoringCopiesNone) {
  constexpr std::size_t kSize = 8 << 20;
  pasteboard.setContents({{{NSPasteboardTypePNG, Bytes(kSize, 0x5A)}}});

  const std::size_t beforeSave = test_support::bytesAllocated();
  PasteboardSnapshot saved = saveClipboard(pasteboard);
  const std::size_t savedBytes = test_support::bytesAllocated() - beforeSave;
  EXPECT_EQ(pasteboard.dataCopies(), 1u);
  EXPECT_EQ(pasteboard.bytesCopied(), kSize);
  EXPECT_GE(savedBytes, kSize);
  EXPECT_LT(savedBytes, kSize + kSize / 2);

  pasteboard.clearContents();
  const std::size_t beforeRestore = test_support::bytesAllocated();
  restoreClipboard(pasteboard, std::move(saved));
  EXPECT_LT(test_support::bytesAllocated() - beforeRestore, kSize / 2);
  EXPECT_EQ(pasteboard.dataCopies(), 1u);
  const auto contents = pasteboard.contents();
  ASSERT_EQ(contents.size(), 1u);
  EXPECT_EQ(contents[0][0].data->size(), kSize);
}

}  // namespace
}  // namespace lumivane
