#pragma once

// What every pasteboard backend promises the host, written against the seam
// alone and run against each backend through a harness of its own.
//
// A harness `H` offers:
//   platform::Pasteboard& pasteboard();
//   // Another process takes the pasteboard with `items` (type -> bytes, in
//   // order; absent bytes: a type it lists but will not hand over) and keeps
//   // it until the next write; returns once the change can be seen. Plain
//   // text comes as NSPasteboardTypeString, which the harness writes as its
//   // platform's text type.
//   void writeFromAnotherProcess(const std::vector<ContractItem>& items);
//   // What another process reads for `type` now; absent when it gets nothing.
//   std::optional<platform::Bytes> readFromAnotherProcess(const std::string& type);
//   static constexpr bool kHoldsSeveralItems;   // false: one item, as X has
//   static constexpr bool kCanLoseItemList;     // the pasteboard can give no list
//   void loseItemList();                        // only when kCanLoseItemList
//   // Whether the host's writes over another process's contents are refused
//   // until the host clears the pasteboard.
//   static constexpr bool kRefusesWritesOverAnotherProcess;

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/pasteboard.h"

namespace lumivane::contract {

using platform::Bytes;

// One item as another process offers it: types in order, each with its bytes
// or absent (listed, but not handed over).
using ContractItem = std::vector<std::pair<std::string, std::optional<Bytes>>>;

inline Bytes bytesOf(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

template <class H>
class PasteboardContract : public ::testing::Test {
 protected:
  platform::Pasteboard& pasteboard() { return harness.pasteboard(); }

  // Writes one item through the seam, as the host restores a snapshot.
  bool writeItem(const std::vector<std::pair<std::string, Bytes>>& types) {
    auto item = pasteboard().makeItem();
    for (const auto& [type, data] : types) {
      if (!item->setDataForType(data, type))
        return false;
    }
    return pasteboard().writeObjects({item});
  }

  // The listed types and readable bytes of every item.
  std::vector<std::vector<std::pair<std::string, std::optional<Bytes>>>> readAll() {
    std::vector<std::vector<std::pair<std::string, std::optional<Bytes>>>> all;
    auto items = pasteboard().pasteboardItems();
    if (!items)
      return all;
    for (const auto& item : *items) {
      std::vector<std::pair<std::string, std::optional<Bytes>>> types;
      for (const auto& type : item->types())
        types.emplace_back(type, item->dataForType(type));
      all.push_back(std::move(types));
    }
    return all;
  }

  H harness;
};

TYPED_TEST_SUITE_P(PasteboardContract);

// What the host writes comes back as written: items, their types in order,
// every byte, zero-byte data included.
TYPED_TEST_P(PasteboardContract, ItemsAndTypesComeBackInOrder) {
  auto& pb = this->pasteboard();
  pb.clearContents();
  ASSERT_TRUE(this->writeItem({{"text/html", bytesOf("<b>one</b>")},
                               {"text/x-lumivane-note", bytesOf("one")},
                               {"application/x-empty", Bytes{}}}));
  if (TypeParam::kHoldsSeveralItems) {
    ASSERT_TRUE(this->writeItem({{"text/x-lumivane-note", bytesOf("two")}}));
  }

  const auto all = this->readAll();
  ASSERT_EQ(all.size(), TypeParam::kHoldsSeveralItems ? 2u : 1u);
  std::vector<std::string> types;
  for (const auto& [type, data] : all[0])
    types.push_back(type);
  EXPECT_EQ(types,
            (std::vector<std::string>{"text/html", "text/x-lumivane-note", "application/x-empty"}));
  EXPECT_EQ(all[0][0].second, bytesOf("<b>one</b>"));
  EXPECT_EQ(all[0][1].second, bytesOf("one"));
  ASSERT_TRUE(all[0][2].second.has_value()) << "zero bytes are data, not no data";
  EXPECT_TRUE(all[0][2].second->empty());
  EXPECT_EQ(pb.stringForType(platform::NSPasteboardTypeString), std::nullopt);
  if (TypeParam::kHoldsSeveralItems) {
    EXPECT_EQ(all[1][0].second, bytesOf("two"));
  }
  // Another process sees the same.
  EXPECT_EQ(this->harness.readFromAnotherProcess("text/html"), bytesOf("<b>one</b>"));
}

// A pasteboard that holds one item keeps the first item written: later items
// add only types it does not have yet, so the first item's text is what
// pastes, as it would on a pasteboard of several items.
TYPED_TEST_P(PasteboardContract, SeveralItemsWrittenAtOnceKeepTheFirstItemsText) {
  auto& pb = this->pasteboard();
  pb.clearContents();
  auto first = pb.makeItem();
  first->setDataForType(bytesOf("first"), platform::NSPasteboardTypeString);
  auto second = pb.makeItem();
  second->setDataForType(bytesOf("second"), platform::NSPasteboardTypeString);
  second->setDataForType(bytesOf("<i>second</i>"), "text/html");
  ASSERT_TRUE(pb.writeObjects({first, second}));
  EXPECT_EQ(pb.stringForType(platform::NSPasteboardTypeString), "first");
  const auto all = this->readAll();
  ASSERT_FALSE(all.empty());
  if (!TypeParam::kHoldsSeveralItems) {
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].back(), (std::pair<std::string, std::optional<Bytes>>{
                                 "text/html", bytesOf("<i>second</i>")}));
  }
}

// Another process's contents are what the host reads, its change included;
// a type it lists but will not hand over reads as absent, the rest still read.
TYPED_TEST_P(PasteboardContract, AnotherProcessWritingIsSeenWithItsUnreadableTypes) {
  auto& pb = this->pasteboard();
  const auto before = pb.changeCount();
  this->harness.writeFromAnotherProcess({{{"public.utf8-plain-text", bytesOf("from elsewhere")},
                                          {"application/x-promised", std::nullopt},
                                          {"image/png", Bytes{0x89, 'P', 'N', 'G', 0, 0xff}}}});
  EXPECT_GT(pb.changeCount(), before);
  EXPECT_EQ(pb.stringForType(platform::NSPasteboardTypeString), "from elsewhere");
  auto items = pb.pasteboardItems();
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 1u);
  const auto types = (*items)[0]->types();
  ASSERT_EQ(types.size(), 3u);
  EXPECT_EQ(types[1], "application/x-promised");
  EXPECT_EQ((*items)[0]->dataForType("application/x-promised"), std::nullopt);
  EXPECT_EQ((*items)[0]->dataForType("image/png"), (Bytes{0x89, 'P', 'N', 'G', 0, 0xff}));
  EXPECT_EQ((*items)[0]->dataForType("text/never-offered"), std::nullopt);
}

// Cleared, the pasteboard lists nothing and has no text; every change of
// hands, a clear or another process's write, moves the change count on.
TYPED_TEST_P(PasteboardContract, ClearContentsEmptiesItAndEveryChangeCounts) {
  auto& pb = this->pasteboard();
  std::int64_t last = pb.changeCount();
  const auto grew = [&] {
    const std::int64_t now = pb.changeCount();
    const bool moved = now > last;
    last = now;
    return moved;
  };
  this->harness.writeFromAnotherProcess({{{"public.utf8-plain-text", bytesOf("old")}}});
  EXPECT_TRUE(grew());
  const std::int64_t cleared = pb.clearContents();
  EXPECT_EQ(cleared, pb.changeCount());
  EXPECT_TRUE(grew());
  auto items = pb.pasteboardItems();
  ASSERT_TRUE(items);
  EXPECT_TRUE(items->empty());
  EXPECT_EQ(pb.stringForType(platform::NSPasteboardTypeString), std::nullopt);
  EXPECT_EQ(this->harness.readFromAnotherProcess("public.utf8-plain-text"), std::nullopt);

  ASSERT_TRUE(pb.setStringForType("mine", platform::NSPasteboardTypeString));
  EXPECT_GE(pb.changeCount(), last);
  last = pb.changeCount();
  EXPECT_EQ(pb.stringForType(platform::NSPasteboardTypeString), "mine");
  EXPECT_EQ(this->harness.readFromAnotherProcess("public.utf8-plain-text"), bytesOf("mine"));
  pb.clearContents();
  EXPECT_TRUE(grew());
  this->harness.writeFromAnotherProcess({{{"text/plain", bytesOf("theirs")}}});
  EXPECT_TRUE(grew());
}

// Only valid UTF-8 is text; what is not reads as no text.
TYPED_TEST_P(PasteboardContract, OnlyValidUtf8IsText) {
  auto& pb = this->pasteboard();
  ASSERT_TRUE(pb.setStringForType("caf\xc3\xa9 \xe2\x9c\x93", platform::NSPasteboardTypeString));
  EXPECT_EQ(pb.stringForType(platform::NSPasteboardTypeString), "caf\xc3\xa9 \xe2\x9c\x93");
  this->harness.writeFromAnotherProcess(
      {{{"public.utf8-plain-text", Bytes{'b', 'a', 'd', 0xc3, 0x28}}}});
  EXPECT_EQ(pb.stringForType(platform::NSPasteboardTypeString), std::nullopt);
}

TYPED_TEST_P(PasteboardContract, APasteboardWithNoItemListSaysSo) {
  if constexpr (!TypeParam::kCanLoseItemList) {
    GTEST_SKIP() << "this pasteboard always lists its items";
  } else {
    this->harness.loseItemList();
    EXPECT_EQ(this->pasteboard().pasteboardItems(), std::nullopt);
  }
}

// A write over another process's contents that the host has not cleared is
// refused and changes nothing, for the host or any other application: the
// user's clipboard is never replaced by accident. Once the host has cleared
// the pasteboard, its writes go through again.
TYPED_TEST_P(PasteboardContract, AWriteOverAnotherProcessIsRefusedUntilTheHostClears) {
  if constexpr (!TypeParam::kRefusesWritesOverAnotherProcess) {
    GTEST_SKIP() << "this pasteboard takes the host's writes over anything";
  } else {
    auto& pb = this->pasteboard();
    const std::string text = platform::NSPasteboardTypeString;
    this->harness.writeFromAnotherProcess({{{text, bytesOf("kept")}}});
    const auto count = pb.changeCount();
    EXPECT_FALSE(pb.setStringForType("lost", text));
    EXPECT_FALSE(this->writeItem({{"text/html", bytesOf("<i>lost</i>")}}));
    EXPECT_EQ(pb.changeCount(), count);
    EXPECT_EQ(pb.stringForType(text), "kept");
    EXPECT_EQ(this->harness.readFromAnotherProcess(text), bytesOf("kept"));

    pb.clearContents();
    EXPECT_TRUE(pb.setStringForType("written", text));
    EXPECT_TRUE(this->writeItem({{"text/html", bytesOf("<i>written</i>")}}));
    EXPECT_EQ(this->harness.readFromAnotherProcess(text), bytesOf("written"));
    EXPECT_EQ(this->harness.readFromAnotherProcess("text/html"), bytesOf("<i>written</i>"));
  }
}

// 64 MiB in one type crosses both ways whole, byte for byte.
TYPED_TEST_P(PasteboardContract, SixtyFourMebibytesInOneTypeCrossWhole) {
  auto& pb = this->pasteboard();
  Bytes big(64u << 20);
  for (std::size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
  pb.clearContents();
  ASSERT_TRUE(this->writeItem({{"image/png", big}}));
  EXPECT_EQ(this->harness.readFromAnotherProcess("image/png"), big);

  big[12345] ^= 0xff;
  this->harness.writeFromAnotherProcess({{{"image/png", big}}});
  auto items = pb.pasteboardItems();
  ASSERT_TRUE(items);
  ASSERT_EQ(items->size(), 1u);
  EXPECT_EQ((*items)[0]->dataForType("image/png"), big);
}

// Many items (or, on a pasteboard of one item, many types) all come back.
TYPED_TEST_P(PasteboardContract, ManyItemsOrTypesAllComeBack) {
  auto& pb = this->pasteboard();
  constexpr int kMany = 500;
  pb.clearContents();
  if (TypeParam::kHoldsSeveralItems) {
    std::vector<std::shared_ptr<platform::PasteboardItem>> items;
    for (int i = 0; i < kMany; ++i) {
      auto item = pb.makeItem();
      item->setDataForType(bytesOf("item " + std::to_string(i)), "text/plain");
      items.push_back(item);
    }
    ASSERT_TRUE(pb.writeObjects(items));
  } else {
    std::vector<std::pair<std::string, Bytes>> types;
    for (int i = 0; i < kMany; ++i)
      types.emplace_back("application/x-many-" + std::to_string(i), bytesOf(std::to_string(i)));
    ASSERT_TRUE(this->writeItem(types));
  }
  const auto all = this->readAll();
  int seen = 0;
  for (const auto& item : all) {
    for (const auto& [type, data] : item) {
      const std::string expected =
          TypeParam::kHoldsSeveralItems ? "item " + std::to_string(seen) : std::to_string(seen);
      EXPECT_EQ(data, bytesOf(expected)) << type;
      ++seen;
    }
  }
  EXPECT_EQ(seen, kMany);
}

REGISTER_TYPED_TEST_SUITE_P(PasteboardContract,
                            ItemsAndTypesComeBackInOrder,
                            SeveralItemsWrittenAtOnceKeepTheFirstItemsText,
                            AnotherProcessWritingIsSeenWithItsUnreadableTypes,
                            ClearContentsEmptiesItAndEveryChangeCounts,
                            OnlyValidUtf8IsText,
                            APasteboardWithNoItemListSaysSo,
                            AWriteOverAnotherProcessIsRefusedUntilTheHostClears,
                            SixtyFourMebibytesInOneTypeCrossWhole,
                            ManyItemsOrTypesAllComeBack);

}  // namespace lumivane::contract
