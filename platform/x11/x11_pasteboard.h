#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/pasteboard.h"
#include "platform/x11/x11_selection.h"
#include "platform/x11/x11_selection_owner.h"
#include "platform/x11/x11_selection_reader.h"

// The general pasteboard on X: the CLIPBOARD selection.
//
// X has one clipboard item, offered by whichever client owns the selection,
// as a list of targets (named formats) that the owner converts on request.
// Other clients must be served while the host waits for anything, so the
// pasteboard has its own connection and its own thread: an event loop that
// owns a small invisible window, serves the clipboard when the host owns it,
// and reads it when another client does. The seam's calls (any thread) are
// handed to that thread and wait for it; each is atomic.
//
// Type strings. Items list X target names: "UTF8_STRING", "text/html",
// "image/png". Targets also carry the type and format their bytes are sent
// in, which usually match (type = the target, format 8) but not always: TEXT
// comes back typed COMPOUND_TEXT, and some applications offer 32-bit values.
// Putting a saved clipboard back must offer exactly the same, yet the host
// keeps only (type string, bytes) pairs and treats the strings as opaque. So
// when type or format differ, the type string carries them:
//
//     target \x1F type \x1F format          e.g. "TEXT\x1FCOMPOUND_TEXT\x1F8"
//
// (the unit separator, which no sensible atom name contains), and the plain
// target name means (type = target, format 8). setDataForType accepts both.
// A string that does not split into exactly three parts with a format of 8,
// 16 or 32 is a plain target name.
//
// Learning a target's type and format takes converting it: an item read from
// another client's clipboard reads every target the first time its types()
// are asked for, and keeps the bytes until dataForType hands them over
// (moved, not copied), so saving the clipboard converts each target once and
// holds one copy of its bytes. dataForType alone reads only the target asked
// for. Items read while the host owns the clipboard come from memory.
//
// NSPasteboardTypeString stands for text: setStringForType and
// setDataForType under it offer UTF8_STRING, text/plain;charset=utf-8,
// STRING (Latin-1, when the text can be) and TEXT; stringForType and
// dataForType under it read UTF8_STRING, then text/plain;charset=utf-8, then
// STRING as Latin-1, and give only valid UTF-8. Any other type string names
// X targets as above.
namespace lumivane::platform::x11 {

// The type string of `target` sent as `type` in `format`.
std::string typeString(const std::string& target, const std::string& type, std::uint8_t format);

// What a type string names: a target, the type it goes out as and its format.
struct TargetSpec {
  std::string target;
  std::string type;
  std::uint8_t format = 8;
};
// Absent for an empty string.
std::optional<TargetSpec> parseTypeString(const std::string& typeString);

namespace detail {
class PasteboardCore;

// What the clipboard held when an item was listed: another client's targets
// (read when asked for), or the host's own contents.
struct Listing {
  std::vector<std::string> targets;
  std::vector<NamedTarget> served;
  xcb_timestamp_t time = XCB_CURRENT_TIME;
  std::int64_t changeCount = 0;
};
}  // namespace detail

// An item of the clipboard (pasteboardItems), or a new item (makeItem) to be
// written. Items read from the clipboard read nothing once it has changed
// (their data is then absent), as on macOS; a new item is only ever written.
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

class X11Pasteboard final : public Pasteboard {
 public:
  struct Bounds {
    // Reading another client's clipboard.
    SelectionReader::Bounds reading;
    // Serving the host's clipboard to other clients.
    SelectionOwner::Bounds serving;
    // For a clipboard manager to save the contents when the host exits, and
    // for a keeper to take them over.
    std::chrono::milliseconds clipboardManager{5000};
    std::chrono::milliseconds keeper{5000};
  };
  struct Options {
    // The display to use; $DISPLAY when empty.
    std::string displayName;
    // The lumivane-clipboard-keeper executable; without one, a clipboard the
    // host owns when it exits survives only through a clipboard manager.
    std::filesystem::path keeperPath;
    Bounds bounds;
    // Destroying the pasteboard hands the clipboard off first (see
    // handOffBeforeExit), so that it outlives the host.
    bool handOffWhenDestroyed = true;
  };

  // Null with `error` set when the display cannot be used.
  static std::unique_ptr<X11Pasteboard> open(Options options, std::string* error);
  explicit X11Pasteboard(Options options, std::shared_ptr<detail::PasteboardCore> core);
  ~X11Pasteboard() override;
  X11Pasteboard(const X11Pasteboard&) = delete;
  X11Pasteboard& operator=(const X11Pasteboard&) = delete;

  // Pasteboard. pasteboardItems lists the one current item; none when nobody
  // owns the clipboard or its owner offers nothing; absent when the owner
  // does not answer for its targets (then the clipboard is best left alone).
  // A write is refused (false) while another client owns the clipboard and
  // the host has not cleared it since, and when the server gives it to
  // another client instead; nothing changes then.
  std::optional<std::vector<std::shared_ptr<PasteboardItem>>> pasteboardItems() override;
  std::int64_t clearContents() override;
  bool writeObjects(const std::vector<std::shared_ptr<PasteboardItem>>& items) override;
  std::optional<std::string> stringForType(const std::string& type) override;
  bool setStringForType(const std::string& string, const std::string& type) override;
  std::int64_t changeCount() override;
  std::shared_ptr<PasteboardItem> makeItem() override;

  // What became of the clipboard when the host let go of it.
  enum class HandOff {
    notOwner,        // another client's clipboard (or an empty one): nothing to do
    savedByManager,  // the clipboard manager has a copy, and serves it when the host exits
    keptByKeeper,    // a keeper process owns it now and serves it until replaced
    lost,            // neither worked: it goes when the host exits
  };
  struct HandOffResult {
    HandOff outcome = HandOff::lost;
    pid_t keeperPid = -1;
  };
  // Makes the clipboard outlive the host: when the host owns it, asks a
  // running clipboard manager to save it, or else starts a keeper process
  // that takes it over with the same targets, types, formats and bytes, and
  // waits until the keeper owns it. Takes at most the two bounds. Call it
  // before exiting; destroying the pasteboard does it too unless told not to.
  HandOffResult handOffBeforeExit();

 private:
  Options options_;
  std::shared_ptr<detail::PasteboardCore> core_;
};

// Where a desktop finds the keeper for the running `executable`: beside it,
// then in ../libexec/lumivane. Absent when neither exists.
std::optional<std::filesystem::path> findClipboardKeeper(const std::filesystem::path& executable);

}  // namespace lumivane::platform::x11
