#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/pasteboard.h"
#include "platform/wayland/wayland_pasteboard_core.h"

namespace lumivane::platform::wayland {

// An item of a selection (pasteboardItems), or a new item (makeItem) to be
// written. Items read from the selection read nothing once it has changed
// (their data is then absent), as on macOS; the host's own contents stay
// readable from memory. A new item is only ever written.
class WaylandPasteboardItem final : public PasteboardItem {
 public:
  explicit WaylandPasteboardItem(std::shared_ptr<detail::PasteboardCore> core);
  WaylandPasteboardItem(std::shared_ptr<detail::PasteboardCore> core, detail::Listing listing);

  std::vector<std::string> types() const override;
  std::optional<Bytes> dataForType(const std::string& type) const override;
  // False for an item read from the selection, for an empty or unsendable
  // type name, and for text under NSPasteboardTypeString that is not valid
  // UTF-8.
  bool setDataForType(Bytes data, const std::string& type) override;

  // What a new item offers, in the order it was set; absent for an item
  // read from the selection.
  std::optional<OfferedTypes> offered() const;

 private:
  std::shared_ptr<detail::PasteboardCore> core_;
  const std::optional<detail::Listing> listing_;
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::shared_ptr<const Bytes>>> written_;
};

}  // namespace lumivane::platform::wayland
