#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/pasteboard.h"

namespace lumivane {

// One saved pasteboard item: each readable type's raw string with a copy of
// its bytes. Never empty.
using SavedPasteboardItem = std::map<std::string, platform::Bytes>;

// What the user had on the general pasteboard: absent when the pasteboard
// reported no item list at all, otherwise the saved items in pasteboard order
// (possibly none). Owns its bytes; stays valid whatever happens to the
// pasteboard afterwards.
using PasteboardSnapshot = std::optional<std::vector<SavedPasteboardItem>>;

// Copies every readable type of every item. Items with nothing readable are
// left out; a type listed twice keeps its last data. Reads only. Any thread.
PasteboardSnapshot saveClipboard(platform::Pasteboard& pasteboard);

// Puts a snapshot back: one clearContents, then one writeObjects: per item in
// order. An absent or empty snapshot leaves the pasteboard as it is. The bytes
// move into the new items, so the snapshot is consumed. Any thread.
void restoreClipboard(platform::Pasteboard& pasteboard, PasteboardSnapshot savedItems);

}  // namespace lumivane
