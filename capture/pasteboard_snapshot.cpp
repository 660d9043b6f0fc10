#include "capture/pasteboard_snapshot.h"

#include <utility>

namespace lumivane {

PasteboardSnapshot saveClipboard(platform::Pasteboard& pasteboard) {
  auto items = pasteboard.pasteboardItems();
  if (!items)
    return std::nullopt;
  std::vector<SavedPasteboardItem> saved;
  saved.reserve(items->size());
  for (const auto& item : *items) {
    if (!item)
      continue;
    SavedPasteboardItem types;
    for (const auto& type : item->types()) {
      auto data = item->dataForType(type);
      if (!data)
        continue;
      types.insert_or_assign(type, std::move(*data));
    }
    if (!types.empty())
      saved.push_back(std::move(types));
  }
  return saved;
}

void restoreClipboard(platform::Pasteboard& pasteboard, PasteboardSnapshot savedItems) {
  if (!savedItems || savedItems->empty())
    return;
  pasteboard.clearContents();
  for (auto& saved : *savedItems) {
    auto item = pasteboard.makeItem();
    if (!item)
      continue;
    for (auto& [type, data] : saved)
      item->setDataForType(std::move(data), type);
    pasteboard.writeObjects({item});
  }
}

}  // namespace lumivane
