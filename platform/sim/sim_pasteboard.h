#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/pasteboard.h"
#include "platform/sim/sim_common.h"

namespace lumivane::platform::sim {

class SimClock;

// One type of an item as a test scripts or inspects it. Absent data is a type
// the item lists but whose data cannot be read (a promise its owner no longer
// keeps); present data may be zero bytes long.
struct SimPasteboardEntry {
  std::string type;
  std::optional<Bytes> data;

  static SimPasteboardEntry text(const std::string& text,
                                 const std::string& type = NSPasteboardTypeString);
  static SimPasteboardEntry unreadable(const std::string& type);
  friend bool operator==(const SimPasteboardEntry&, const SimPasteboardEntry&) = default;
};

// An item's types in the order it lists them; a type may repeat.
using SimPasteboardItemContents = std::vector<SimPasteboardEntry>;

// The start of the pasteboard's contents: enough to describe a pasteboard of
// any size without copying all of it.
struct SimPasteboardExcerpt {
  // How many items the pasteboard holds.
  std::size_t itemCount = 0;
  // Its first items, each cut to its first types.
  std::vector<SimPasteboardItemContents> items;
  // How many types each of those items has in all.
  std::vector<std::size_t> typeCounts;
};

enum class PasteboardOp { clearContents, writeObjects, setString };

// One change request made to the pasteboard, by the host ("host") or by
// another process (its name, or "external" for a scripted write).
struct PasteboardOperation {
  double time = 0;
  PasteboardOp op = PasteboardOp::clearContents;
  std::string by;
  bool refused = false;
  std::size_t itemCount = 0;  // writeObjects: how many items
  std::string type;           // setString: under which type
  std::int64_t changeCount = 0;
};

namespace detail {
// What the pasteboard stores of one type. The bytes are shared, never copied,
// between the pasteboard, the items it hands out and the items written to it.
struct StoredEntry {
  std::string type;
  std::shared_ptr<const Bytes> data;  // null: unreadable
};
using StoredItem = std::vector<StoredEntry>;

// State the pasteboard shares with the items it makes, so items the host
// still holds stay usable (and countable) whatever happens to the desktop.
struct PasteboardShared {
  std::shared_ptr<LiveCounters> live;
  std::atomic<bool> refuseWrites{false};
  std::atomic<std::size_t> dataCopies{0};
  std::atomic<std::size_t> bytesCopied{0};
};
}  // namespace detail

// An NSPasteboardItem: either a snapshot of a pasteboard item (handed out by
// pasteboardItems) or a new item the host fills and writes.
class SimPasteboardItem final : public PasteboardItem {
 public:
  SimPasteboardItem(std::shared_ptr<detail::PasteboardShared> shared, detail::StoredItem entries);

  std::vector<std::string> types() const override;
  std::optional<Bytes> dataForType(const std::string& type) const override;
  bool setDataForType(Bytes data, const std::string& type) override;

  detail::StoredItem entries() const;

 private:
  // Index in entries_ of the first entry of `type`, or entries_.size().
  std::size_t findLocked(const std::string& type) const;

  std::shared_ptr<detail::PasteboardShared> shared_;
  LiveToken live_;
  mutable std::mutex mutex_;
  detail::StoredItem entries_;
  // Each type's first entry, made on the first look-up. The host reads an
  // item type by type (and fills a new one type by type), so finding each by
  // a scan would cost the square of the number of types.
  mutable std::optional<std::unordered_map<std::string, std::size_t>> firstOfType_;
};

// The general pasteboard. Every call is atomic under one lock, since the
// capture reads it from a worker while other processes write it.
//
// The change count moves on clearContents (and on every scripted or external
// write, which clears first), as on the real pasteboard: a writer takes the
// pasteboard over by clearing it. So once another process has changed it,
// the host's writes are refused until the host clears it again.
class SimPasteboard final : public Pasteboard {
 public:
  SimPasteboard(SimClock& clock, SimTrace& trace, std::shared_ptr<LiveCounters> live);

  // Pasteboard.
  std::optional<std::vector<std::shared_ptr<PasteboardItem>>> pasteboardItems() override;
  std::int64_t clearContents() override;
  bool writeObjects(const std::vector<std::shared_ptr<PasteboardItem>>& items) override;
  std::optional<std::string> stringForType(const std::string& type) override;
  bool setStringForType(const std::string& string, const std::string& type) override;
  std::int64_t changeCount() override;
  std::shared_ptr<PasteboardItem> makeItem() override;

  // Scripting. Another process replaces the contents (clearing first, so the
  // change count moves): at virtual time `at`, or now when absent.
  void setContents(std::vector<SimPasteboardItemContents> items,
                   std::optional<double> at = std::nullopt);
  void setString(const std::string& text, std::optional<double> at = std::nullopt) {
    setContents({{SimPasteboardEntry::text(text)}}, at);
  }
  // pasteboardItems answers absent while set.
  void setReportsNoItemList(bool flag);
  // The same until something (the host or another process) writes to the
  // pasteboard: a passing state rather than a lasting fault.
  void setReportsNoItemListUntilWritten();
  // The host's writes (setData on items, writeObjects, setString) answer false
  // and change nothing while set; clearing still works.
  void setRefusesWrites(bool flag);

  // What a process other than the host does; `by` names it in the log.
  std::int64_t clearContentsBy(const std::string& by);
  void setStringBy(const std::string& by, const std::string& string, const std::string& type);
  void writeContentsBy(const std::string& by, const std::vector<SimPasteboardItemContents>& items);

  // Inspection.
  std::vector<SimPasteboardItemContents> contents() const;
  // The first `maxItems` items, each cut to its first `maxTypes` types.
  SimPasteboardExcerpt excerpt(std::size_t maxItems, std::size_t maxTypes) const;
  bool reportsNoItemList() const;
  std::optional<std::string> plainText() const;
  std::vector<PasteboardOperation> operations() const;
  // How many operations of a kind `by` requested (refused ones included).
  std::size_t count(PasteboardOp op, const std::string& by = "host") const;
  // Copies made by dataForType on any item, and their total size.
  std::size_t dataCopies() const { return shared_->dataCopies.load(); }
  std::size_t bytesCopied() const { return shared_->bytesCopied.load(); }

 private:
  std::int64_t clearLocked(const std::string& by);
  // A setString by `by`; the host's may be refused, another process's not.
  bool setStringAs(const std::string& by,
                   const std::string& string,
                   const std::string& type,
                   bool mayBeRefused);
  void setStringLocked(const std::string& string, const std::string& type);
  void noteWrittenLocked();
  void traceChange(const PasteboardOperation& operation);
  std::optional<std::string> stringLocked(const std::string& type) const;

  SimClock& clock_;
  SimTrace& trace_;
  std::shared_ptr<detail::PasteboardShared> shared_;
  mutable std::mutex mutex_;
  std::vector<detail::StoredItem> items_;
  std::int64_t changeCount_ = 0;
  enum class NoItemList { off, lasting, untilWritten };
  NoItemList noItemList_ = NoItemList::off;
  // Another process has changed the pasteboard since the host last cleared it.
  bool takenFromHost_ = false;
  std::vector<PasteboardOperation> operations_;
};

}  // namespace lumivane::platform::sim
