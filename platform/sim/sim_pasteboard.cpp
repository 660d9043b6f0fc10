#include "platform/sim/sim_pasteboard.h"

#include <algorithm>
#include <utility>

#include "platform/sim/sim_clock.h"
#include "platform/utf8.h"

namespace lumivane::platform::sim {

namespace {

detail::StoredItem toStored(const SimPasteboardItemContents& contents) {
  detail::StoredItem item;
  item.reserve(contents.size());
  for (const auto& entry : contents) {
    item.push_back({entry.type, entry.data ? std::make_shared<const Bytes>(*entry.data) : nullptr});
  }
  return item;
}

// The first entry of `type`: the one a reader gets.
template <typename Item>
auto findEntry(Item& item, const std::string& type) {
  return std::find_if(item.begin(), item.end(),
                      [&](const auto& entry) { return entry.type == type; });
}

// Replaces the data of `type`, or adds it.
void putEntry(detail::StoredItem& item,
              const std::string& type,
              std::shared_ptr<const Bytes> data) {
  auto it = findEntry(item, type);
  if (it != item.end()) {
    it->data = std::move(data);
  } else {
    item.push_back({type, std::move(data)});
  }
}

SimPasteboardItemContents toContents(const detail::StoredItem& item) {
  SimPasteboardItemContents contents;
  contents.reserve(item.size());
  for (const auto& entry : item) {
    contents.push_back({entry.type, entry.data ? std::optional<Bytes>(*entry.data) : std::nullopt});
  }
  return contents;
}

const char* opName(PasteboardOp op) {
  switch (op) {
    case PasteboardOp::clearContents:
      return "clearContents";
    case PasteboardOp::writeObjects:
      return "writeObjects";
    case PasteboardOp::setString:
      return "setString";
  }
  return "unknown";
}

PasteboardOperation makeOperation(double time, PasteboardOp op, const std::string& by) {
  PasteboardOperation operation;
  operation.time = time;
  operation.op = op;
  operation.by = by;
  return operation;
}

}  // namespace

SimPasteboardEntry SimPasteboardEntry::text(const std::string& text, const std::string& type) {
  return SimPasteboardEntry{type, Bytes(text.begin(), text.end())};
}

SimPasteboardEntry SimPasteboardEntry::unreadable(const std::string& type) {
  return SimPasteboardEntry{type, std::nullopt};
}

// --- SimPasteboardItem ---

SimPasteboardItem::SimPasteboardItem(std::shared_ptr<detail::PasteboardShared> shared,
                                     detail::StoredItem entries)
    : shared_(std::move(shared)),
      live_(shared_->live, &LiveCounters::pasteboardItems),
      entries_(std::move(entries)) {}

std::vector<std::string> SimPasteboardItem::types() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> types;
  types.reserve(entries_.size());
  for (const auto& entry : entries_) {
    types.push_back(entry.type);
  }
  return types;
}

std::size_t SimPasteboardItem::findLocked(const std::string& type) const {
  if (!firstOfType_) {
    firstOfType_.emplace();
    firstOfType_->reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      firstOfType_->emplace(entries_[i].type, i);  // keeps the first of a repeated type
    }
  }
  auto it = firstOfType_->find(type);
  return it == firstOfType_->end() ? entries_.size() : it->second;
}

std::optional<Bytes> SimPasteboardItem::dataForType(const std::string& type) const {
  std::shared_ptr<const Bytes> data;
  {
    std::lock_guard lock(mutex_);
    const std::size_t index = findLocked(type);
    if (index == entries_.size() || !entries_[index].data) {
      return std::nullopt;
    }
    data = entries_[index].data;
  }
  shared_->dataCopies.fetch_add(1);
  shared_->bytesCopied.fetch_add(data->size());
  return Bytes(*data);
}

bool SimPasteboardItem::setDataForType(Bytes data, const std::string& type) {
  if (shared_->refuseWrites.load()) {
    return false;
  }
  auto stored = std::make_shared<const Bytes>(std::move(data));
  std::lock_guard lock(mutex_);
  const std::size_t index = findLocked(type);
  if (index < entries_.size()) {
    entries_[index].data = std::move(stored);
  } else {
    entries_.push_back({type, std::move(stored)});
    firstOfType_->emplace(type, index);
  }
  return true;
}

detail::StoredItem SimPasteboardItem::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

// --- SimPasteboard ---

SimPasteboard::SimPasteboard(SimClock& clock, SimTrace& trace, std::shared_ptr<LiveCounters> live)
    : clock_(clock), trace_(trace), shared_(std::make_shared<detail::PasteboardShared>()) {
  shared_->live = std::move(live);
}

std::optional<std::vector<std::shared_ptr<PasteboardItem>>> SimPasteboard::pasteboardItems() {
  std::lock_guard lock(mutex_);
  if (noItemList_ != NoItemList::off) {
    return std::nullopt;
  }
  std::vector<std::shared_ptr<PasteboardItem>> items;
  items.reserve(items_.size());
  for (const auto& item : items_) {
    items.push_back(std::make_shared<SimPasteboardItem>(shared_, item));
  }
  return items;
}

std::int64_t SimPasteboard::clearContents() {
  return clearContentsBy("host");
}

bool SimPasteboard::writeObjects(const std::vector<std::shared_ptr<PasteboardItem>>& items) {
  PasteboardOperation operation = makeOperation(clock_.now(), PasteboardOp::writeObjects, "host");
  operation.itemCount = items.size();
  // Only items this pasteboard made can be written, as only NSPasteboardItems
  // (or objects that know how to write themselves) can be on the real one.
  std::vector<detail::StoredItem> incoming;
  bool foreign = false;
  for (const auto& item : items) {
    auto* sim = dynamic_cast<SimPasteboardItem*>(item.get());
    if (!sim) {
      foreign = true;
      break;
    }
    incoming.push_back(sim->entries());
  }
  {
    std::lock_guard lock(mutex_);
    operation.refused = foreign || takenFromHost_ || shared_->refuseWrites.load();
    if (!operation.refused) {
      for (auto& item : incoming) {
        items_.push_back(std::move(item));
      }
      noteWrittenLocked();
    }
    operation.changeCount = changeCount_;
    operations_.push_back(operation);
  }
  if (!operation.refused) {
    traceChange(operation);
  }
  return !operation.refused;
}

std::optional<std::string> SimPasteboard::stringForType(const std::string& type) {
  std::lock_guard lock(mutex_);
  return stringLocked(type);
}

std::optional<std::string> SimPasteboard::stringLocked(const std::string& type) const {
  for (const auto& item : items_) {
    auto it = findEntry(item, type);
    if (it != item.end() && it->data && isValidUtf8(it->data->data(), it->data->size())) {
      return std::string(it->data->begin(), it->data->end());
    }
  }
  return std::nullopt;
}

bool SimPasteboard::setStringForType(const std::string& string, const std::string& type) {
  return setStringAs("host", string, type, /*mayBeRefused=*/true);
}

bool SimPasteboard::setStringAs(const std::string& by,
                                const std::string& string,
                                const std::string& type,
                                bool mayBeRefused) {
  PasteboardOperation operation = makeOperation(clock_.now(), PasteboardOp::setString, by);
  operation.type = type;
  {
    std::lock_guard lock(mutex_);
    operation.refused = mayBeRefused && (takenFromHost_ || shared_->refuseWrites.load());
    if (!operation.refused) {
      setStringLocked(string, type);
      takenFromHost_ = takenFromHost_ || by != "host";
    }
    operation.changeCount = changeCount_;
    operations_.push_back(operation);
  }
  if (!operation.refused) {
    traceChange(operation);
  }
  return !operation.refused;
}

std::int64_t SimPasteboard::changeCount() {
  std::lock_guard lock(mutex_);
  return changeCount_;
}

std::shared_ptr<PasteboardItem> SimPasteboard::makeItem() {
  return std::make_shared<SimPasteboardItem>(shared_, detail::StoredItem{});
}

std::int64_t SimPasteboard::clearLocked(const std::string& by) {
  items_.clear();
  ++changeCount_;
  takenFromHost_ = by != "host";
  PasteboardOperation operation = makeOperation(clock_.now(), PasteboardOp::clearContents, by);
  operation.changeCount = changeCount_;
  operations_.push_back(operation);
  return changeCount_;
}

void SimPasteboard::noteWrittenLocked() {
  if (noItemList_ == NoItemList::untilWritten) {
    noItemList_ = NoItemList::off;
  }
}

void SimPasteboard::setStringLocked(const std::string& string, const std::string& type) {
  noteWrittenLocked();
  auto data = std::make_shared<const Bytes>(string.begin(), string.end());
  if (items_.empty()) {
    items_.push_back({{type, std::move(data)}});
    return;
  }
  putEntry(items_.front(), type, std::move(data));
}

void SimPasteboard::traceChange(const PasteboardOperation& operation) {
  std::vector<std::pair<std::string, std::string>> fields{
      {"op", opName(operation.op)},
      {"by", operation.by},
      {"changeCount", std::to_string(operation.changeCount)}};
  if (operation.op == PasteboardOp::writeObjects) {
    fields.emplace_back("items", std::to_string(operation.itemCount));
  }
  if (operation.op == PasteboardOp::setString) {
    fields.emplace_back("type", operation.type);
  }
  trace_.emit(TraceKind::pasteboardChanged, std::move(fields));
}

void SimPasteboard::setContents(std::vector<SimPasteboardItemContents> items,
                                std::optional<double> at) {
  if (!at) {
    writeContentsBy("external", items);
    return;
  }
  clock_.scheduleExternal(*at,
                          [this, items = std::move(items)] { writeContentsBy("external", items); });
}

void SimPasteboard::setReportsNoItemList(bool flag) {
  std::lock_guard lock(mutex_);
  noItemList_ = flag ? NoItemList::lasting : NoItemList::off;
}

void SimPasteboard::setReportsNoItemListUntilWritten() {
  std::lock_guard lock(mutex_);
  noItemList_ = NoItemList::untilWritten;
}

bool SimPasteboard::reportsNoItemList() const {
  std::lock_guard lock(mutex_);
  return noItemList_ != NoItemList::off;
}

void SimPasteboard::setRefusesWrites(bool flag) {
  shared_->refuseWrites.store(flag);
}

std::int64_t SimPasteboard::clearContentsBy(const std::string& by) {
  PasteboardOperation operation;
  {
    std::lock_guard lock(mutex_);
    clearLocked(by);
    operation = operations_.back();
  }
  traceChange(operation);
  return operation.changeCount;
}

void SimPasteboard::setStringBy(const std::string& by,
                                const std::string& string,
                                const std::string& type) {
  setStringAs(by, string, type, /*mayBeRefused=*/false);
}

void SimPasteboard::writeContentsBy(const std::string& by,
                                    const std::vector<SimPasteboardItemContents>& items) {
  PasteboardOperation clear;
  PasteboardOperation write = makeOperation(clock_.now(), PasteboardOp::writeObjects, by);
  write.itemCount = items.size();
  {
    std::lock_guard lock(mutex_);
    clearLocked(by);
    clear = operations_.back();
    for (const auto& item : items) {
      items_.push_back(toStored(item));
    }
    if (!items.empty()) {
      noteWrittenLocked();
    }
    write.changeCount = changeCount_;
    if (!items.empty()) {
      operations_.push_back(write);
    }
  }
  traceChange(clear);
  if (!items.empty()) {
    traceChange(write);
  }
}

std::vector<SimPasteboardItemContents> SimPasteboard::contents() const {
  std::lock_guard lock(mutex_);
  std::vector<SimPasteboardItemContents> items;
  items.reserve(items_.size());
  for (const auto& item : items_) {
    items.push_back(toContents(item));
  }
  return items;
}

SimPasteboardExcerpt SimPasteboard::excerpt(std::size_t maxItems, std::size_t maxTypes) const {
  std::lock_guard lock(mutex_);
  SimPasteboardExcerpt excerpt;
  excerpt.itemCount = items_.size();
  const std::size_t shown = std::min(maxItems, items_.size());
  excerpt.items.reserve(shown);
  excerpt.typeCounts.reserve(shown);
  for (std::size_t i = 0; i < shown; ++i) {
    const auto& item = items_[i];
    const auto cut = item.begin() + static_cast<std::ptrdiff_t>(std::min(maxTypes, item.size()));
    excerpt.items.push_back(toContents(detail::StoredItem(item.begin(), cut)));
    excerpt.typeCounts.push_back(item.size());
  }
  return excerpt;
}

std::optional<std::string> SimPasteboard::plainText() const {
  std::lock_guard lock(mutex_);
  return stringLocked(NSPasteboardTypeString);
}

std::vector<PasteboardOperation> SimPasteboard::operations() const {
  std::lock_guard lock(mutex_);
  return operations_;
}

std::size_t SimPasteboard::count(PasteboardOp op, const std::string& by) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(operations_.begin(), operations_.end(),
                    [&](const auto& entry) { return entry.op == op && entry.by == by; }));
}

}  // namespace lumivane::platform::sim
