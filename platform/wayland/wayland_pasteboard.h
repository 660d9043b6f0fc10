#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/clipboard_keeper.h"
#include "platform/pasteboard.h"
#include "platform/wayland/wayland_pasteboard_core.h"

// The general pasteboard on Wayland: the seat's clipboard through wlr
// data-control, which a client may read and replace without a window or the
// keyboard focus. The same class stands for the primary selection (what a
// middle click pastes) when asked to.
//
// A Wayland selection is one item, offered by its owner as a list of MIME
// types, each handed over through a pipe on request. The pasteboard lives on
// the backend's connection and its thread (WaylandConnection), which serves
// the host's contents to other clients while the host waits for anything,
// and watches every transfer without blocking on it. Reads wait on the
// calling thread. The seam's calls (any thread but the connection's) are
// each atomic.
//
// Type strings are MIME types ("text/html", "image/png").
// NSPasteboardTypeString stands for text (wayland_pasteboard_types.h):
// setStringForType and setDataForType under it offer every text type;
// stringForType and dataForType under it read text/plain;charset=utf-8, then
// UTF8_STRING, text/plain (or, from an owner that offers none of them, STRING
// as Latin-1), and give only valid UTF-8.
namespace lumivane::platform::wayland {

class WaylandConnection;

class WaylandPasteboard final : public Pasteboard {
 public:
  using Selection = detail::Selection;
  struct Bounds {
    // Reading another client's selection, each type on its own.
    ReadBounds reading;
    // Serving the host's contents to other clients.
    SelectionSource::Bounds serving;
    // For a keeper to take the clipboard over when the host exits.
    std::chrono::milliseconds keeper{5000};
  };
  struct Options {
    Selection selection = Selection::clipboard;
    // The display the connection is on, as the keeper should reach it
    // ($WAYLAND_DISPLAY when empty).
    std::string displayName;
    // The lumivane-clipboard-keeper executable; without one, a clipboard the
    // host holds when it exits goes with it.
    std::filesystem::path keeperPath;
    Bounds bounds;
  };

  // Null with `error` set when the compositor offers no data-control (or
  // none with a primary selection, when that is asked for).
  static std::unique_ptr<WaylandPasteboard> open(std::shared_ptr<WaylandConnection> connection,
                                                 Options options,
                                                 std::string* error);
  WaylandPasteboard(Options options, std::shared_ptr<detail::PasteboardCore> core);
  // Hands the clipboard off (handOffBeforeExit), then lets go of it.
  ~WaylandPasteboard() override;
  WaylandPasteboard(const WaylandPasteboard&) = delete;
  WaylandPasteboard& operator=(const WaylandPasteboard&) = delete;

  // Pasteboard. pasteboardItems lists the one current item; none when the
  // selection is empty or offers no type; absent once the connection has
  // gone. A write is refused (false) while another client holds the
  // selection and the host has not cleared it since, and when another
  // client takes it at once; nothing changes then. The change count grows
  // with every new selection: each of the host's writes and clears, and each
  // change by another client (an owner that exits empties the selection,
  // which counts too).
  std::optional<std::vector<std::shared_ptr<PasteboardItem>>> pasteboardItems() override;
  std::int64_t clearContents() override;
  bool writeObjects(const std::vector<std::shared_ptr<PasteboardItem>>& items) override;
  std::optional<std::string> stringForType(const std::string& type) override;
  bool setStringForType(const std::string& string, const std::string& type) override;
  std::int64_t changeCount() override;
  // When the selection last changed hands (the host's own writes included),
  // on the steady clock; its epoch before any change.
  std::chrono::steady_clock::time_point changedAt() const;
  std::shared_ptr<PasteboardItem> makeItem() override;
  // Stops holding the selection when the host holds it, after serving every
  // request that has come; nobody holds it then. Another client's selection
  // stays as it is.
  void letGo();

  // How many times other clients have asked for the host's contents: a
  // paste into another application reads them. Any thread.
  std::uint64_t readsServed() const;
  // Waits at most `bound` until readsServed() has passed `count`; false when
  // it has not.
  bool waitForReadsServed(std::uint64_t count, std::chrono::milliseconds bound);
  // Waits at most `bound` until the selection has changed hands since
  // changeCount() was `count` (as the compositor's events arrive on the
  // connection's thread); false when it has not.
  bool waitForChange(std::int64_t count, std::chrono::milliseconds bound);

  using HandOff = gtk::ClipboardHandOff;
  using HandOffResult = gtk::ClipboardHandOffResult;
  // Makes the clipboard outlive the host: a Wayland selection dies with its
  // client, so when the host holds the clipboard, a keeper process takes it
  // over with the same types and bytes; waits until the keeper holds it, at
  // most the keeper bound. Call it before exiting; destroying the pasteboard
  // does it too. The primary selection is never kept.
  HandOffResult handOffBeforeExit();

 private:
  Options options_;
  std::shared_ptr<detail::PasteboardCore> core_;
};

}  // namespace lumivane::platform::wayland
