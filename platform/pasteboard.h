#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumivane::platform {

// The bytes of one pasteboard type.
using Bytes = std::vector<std::uint8_t>;

// Pasteboard type strings (NSPasteboardType raw values).
inline constexpr const char* NSPasteboardTypeString = "public.utf8-plain-text";
inline constexpr const char* NSPasteboardTypePNG = "public.png";
inline constexpr const char* NSPasteboardTypeTIFF = "public.tiff";
inline constexpr const char* NSPasteboardTypeRTF = "public.rtf";
inline constexpr const char* NSPasteboardTypeHTML = "public.html";

// One item of a pasteboard, or a new item to be written (NSPasteboardItem).
// An item read from the pasteboard stays readable after the pasteboard changes
// only as far as the platform promises; copy what must outlive it.
class PasteboardItem {
 public:
  virtual ~PasteboardItem() = default;
  // The item's types in the order the item lists them. May repeat a type.
  virtual std::vector<std::string> types() const = 0;
  // The item's bytes for `type`; absent when the data cannot be read. Present
  // data may be zero bytes long. Returns a copy the caller owns.
  virtual std::optional<Bytes> dataForType(const std::string& type) const = 0;
  // Attaches bytes to a new item (setData:forType:). Takes the bytes over
  // without copying them. False when refused.
  virtual bool setDataForType(Bytes data, const std::string& type) = 0;
};

// The general pasteboard (NSPasteboard generalPasteboard), shared with every
// process on the machine. Any thread may call it; each call is atomic.
class Pasteboard {
 public:
  virtual ~Pasteboard() = default;
  // The current items in pasteboard order; absent when the pasteboard provides
  // no item list at all.
  virtual std::optional<std::vector<std::shared_ptr<PasteboardItem>>> pasteboardItems() = 0;
  // Removes all items; later writes start new contents. Returns the new change
  // count.
  virtual std::int64_t clearContents() = 0;
  // Appends items written since the last clearContents (writeObjects:). False
  // when refused.
  virtual bool writeObjects(const std::vector<std::shared_ptr<PasteboardItem>>& items) = 0;
  // The first item's plain string for `type` (stringForType:); absent when no
  // item has that type or it is not valid text.
  virtual std::optional<std::string> stringForType(const std::string& type) = 0;
  // Puts a string on the pasteboard's contents under `type`
  // (setString:forType:), in a new item. False when refused.
  virtual bool setStringForType(const std::string& string, const std::string& type) = 0;
  // Grows by at least one whenever the pasteboard changes hands: on every
  // clearContents, and on every write by another process. The host's own
  // writes after its clearContents may leave it as it is.
  virtual std::int64_t changeCount() = 0;
  // A new, empty item that is on no pasteboard (NSPasteboardItem init).
  virtual std::shared_ptr<PasteboardItem> makeItem() = 0;
};

}  // namespace lumivane::platform
