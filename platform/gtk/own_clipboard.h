#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/pasteboard.h"

namespace lumivane::platform::gtk {

// The general pasteboard as the host uses it on a Linux desktop: the
// selection of `clipboard` (on a connection and thread of its own), except in
// one case its own thread cannot serve.
//
// When a GTK widget of this very process owns the selection (the user copied
// inside the panel) and the host reads it on the main thread (saving it
// before a paste, "getSelection"), the owner could only answer from the main
// loop that the read is holding: the read would wait out its bound and find
// nothing, and the user's copy would then be lost to the host's own write.
// Those reads go to GTK's clipboard instead, which hands its own selection
// over in process without a round trip. Everything else is the clipboard's.
// GDK knows whether a window of this process owns a selection, on X (by
// asking the server) and on Wayland (the last selection GTK set here and no
// other client has taken since).
class OwnClipboardAwarePasteboard final : public Pasteboard {
 public:
  enum class Selection { clipboard, primary };
  struct Options {
    // Whether the caller runs the GTK main loop.
    std::function<bool()> isMainThread = nullptr;
    // The type string of a target GTK hands over with its type and format,
    // as `clipboard` names it; the target's own name when null.
    std::function<
        std::string(const std::string& target, const std::string& type, std::uint8_t format)>
        typeString = nullptr;
    Selection selection = Selection::clipboard;
    // Brings GDK's knowledge of the selection's owner up to date before it
    // is asked (on Wayland GDK learns that another client took the selection
    // only from an event the held main loop has not handled); nothing when
    // null.
    std::function<void()> catchUp = nullptr;
  };

  OwnClipboardAwarePasteboard(std::unique_ptr<Pasteboard> clipboard, Options options);
  ~OwnClipboardAwarePasteboard() override;

  std::optional<std::vector<std::shared_ptr<PasteboardItem>>> pasteboardItems() override;
  std::int64_t clearContents() override;
  bool writeObjects(const std::vector<std::shared_ptr<PasteboardItem>>& items) override;
  std::optional<std::string> stringForType(const std::string& type) override;
  bool setStringForType(const std::string& string, const std::string& type) override;
  std::int64_t changeCount() override;
  std::shared_ptr<PasteboardItem> makeItem() override;

 private:
  // Whether the call is on the main thread and a GTK widget of this process
  // owns the selection now.
  bool ownedByGtkInThisProcess() const;

  std::unique_ptr<Pasteboard> clipboard_;
  Options options_;
};

}  // namespace lumivane::platform::gtk
