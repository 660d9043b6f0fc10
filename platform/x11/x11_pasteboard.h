#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/pasteboard.h"
#include "platform/x11/x11_clipboard_handoff.h"
#include "platform/x11/x11_pasteboard_types.h"
#include "platform/x11/x11_selection_owner.h"
#include "platform/x11/x11_selection_reader.h"

// The general pasteboard on X: the CLIPBOARD selection; or, for the
// applications that keep their selection there, the PRIMARY one.
//
// X has one clipboard item, offered by whichever client owns the selection,
// as a list of targets (named formats) that the owner converts on request.
// Other clients must be served while the host waits for anything, so the
// pasteboard has its own connection and its own thread: an event loop that
// owns a small invisible window, serves the clipboard when the host owns it,
// and reads it when another client does. The seam's calls (any thread) are
// handed to that thread and wait for it; each is atomic.
//
// Type strings are X target names, or carry the type and format a target is
// sent in (x11_pasteboard_types.h); setDataForType accepts both.
// NSPasteboardTypeString stands for text: setStringForType and setDataForType
// under it offer every text target; stringForType and dataForType under it
// read UTF8_STRING, then text/plain;charset=utf-8, then STRING as Latin-1, and
// give only valid UTF-8.
namespace lumivane::platform::x11 {

namespace detail {
class PasteboardCore;
}

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
  enum class Selection { clipboard, primary };
  struct Options {
    // The display to use; $DISPLAY when empty.
    std::string displayName;
    Selection selection = Selection::clipboard;
    // The lumivane-clipboard-keeper executable; without one, a clipboard the
    // host owns when it exits survives only through a clipboard manager.
    std::filesystem::path keeperPath;
    Bounds bounds;
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

  using HandOff = ClipboardHandOff;
  using HandOffResult = ClipboardHandOffResult;
  // Makes the clipboard outlive the host: when the host owns it, asks a
  // running clipboard manager to save it, or else starts a keeper process
  // that takes it over with the same targets, types, formats and bytes, and
  // waits until the keeper owns it. Takes at most the two bounds. Call it
  // before exiting; destroying the pasteboard does it too. PRIMARY goes with
  // the host: it only ever holds what the user selected last.
  HandOffResult handOffBeforeExit();

  // How many times other clients have been given the contents the host
  // offers (any target but those that describe the selection); any thread.
  // Counting from before a paste's keys tells when the application has read
  // what they paste.
  std::uint64_t conversionsServed();
  // Waits until more than `count` have been served, for at most `bound`;
  // true when they have.
  bool waitForConversionsServed(std::uint64_t count, std::chrono::milliseconds bound);
  // Stops owning the selection when the host owns it, after answering every
  // request that has come; nobody owns it then. A later claim by another
  // client stays as it is.
  void letGo();

 private:
  Options options_;
  std::shared_ptr<detail::PasteboardCore> core_;
};

}  // namespace lumivane::platform::x11
