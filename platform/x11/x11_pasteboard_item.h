#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/pasteboard.h"
#include "platform/x11/x11_pasteboard_core.h"

namespace lumivane::platform::x11 {

// An item of the clipboard (pasteboardItems), or a new item (makeItem) to be
// written. Items read from the clipboard read nothing once it has changed
// (their data is then absent), as on macOS; a new item is only ever written.
//
// Learning a target's type and format takes converting it: an item read from
// another client's clipboard reads every target the first time its types()
// are asked for, and keeps the bytes until dataForType hands them over
// (moved, not copied), so saving the clipboard converts each target once and
// holds one copy of its bytes. dataForType alone reads only the target asked
// for. Items read while the host owns the clipboard come from memory.
class X11PasteboardItem final : public PasteboardItem {
 public:
  explicit X11PasteboardItem(std::shared_ptr<detail::PasteboardCore> core);
  X11PasteboardItem(std::shared_ptr<detail::PasteboardCore> core, detail::Listing listing);

  std::vector<std::string> types() const override;
  std::optional<Bytes> dataForType(const std::string& type) const override;
  // False for an item read from the clipboard, for an empty or meta target
  // (TARGETS, MULTIPLE...), for bytes that are not whole units of the format,
  // and for text under NSPasteboardTypeString that is not valid UTF-8.
  bool setDataForType(Bytes data, const std::string& type) override;

  // What a new item offers, by type string, in the order it was set; absent
  // for an item read from the clipboard.
  std::optional<std::vector<std::pair<std::string, std::shared_ptr<const Bytes>>>> written() const;

 private:
  // One target as read: its type and format, and its bytes, shared when they
  // are the host's own, owned until handed over when read from another
  // client.
  struct Read {
    std::string type;
    std::uint8_t format = 0;
    std::shared_ptr<const Bytes> shared;
    std::optional<Bytes> owned;
    bool unreadable = false;
  };
  // Reads `target` unless it has been; false when the owner has stopped
  // answering, so that reading on would only wait again. Holds mutex_.
  bool readLocked(const std::string& target) const;

  std::shared_ptr<detail::PasteboardCore> core_;
  const bool fromClipboard_;
  const detail::Listing listing_;
  mutable std::mutex mutex_;
  mutable bool allRead_ = false;
  mutable std::map<std::string, Read> read_;
  std::vector<std::pair<std::string, std::shared_ptr<const Bytes>>> written_;
};

}  // namespace lumivane::platform::x11
