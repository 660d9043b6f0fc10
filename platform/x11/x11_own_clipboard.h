#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/pasteboard.h"

namespace lumivane::platform::x11 {

// The general pasteboard as the host uses it on the X11 desktop: the
// clipboard of `clipboard` (an X11Pasteboard on a connection of its own),
// except in one case its own thread cannot serve.
//
// When a GTK widget of this very process owns the clipboard (the user copied
// inside the panel) and the host reads it on the main thread (saving it
// before a paste, "getSelection"), the owner could only answer from the main
// loop that the read is holding: the read would wait out its bound and find
// nothing, and the user's copy would then be lost to the host's own write.
// Those reads go to GTK's clipboard instead, which hands its own selection
// over in process without a round trip. Everything else is the clipboard's.
class X11OwnClipboardAwarePasteboard final : public Pasteboard {
 public:
  // `isMainThread` tells whether the caller runs the GTK main loop.
  X11OwnClipboardAwarePasteboard(std::unique_ptr<Pasteboard> clipboard,
                                 std::function<bool()> isMainThread);
  ~X11OwnClipboardAwarePasteboard() override;

  std::optional<std::vector<std::shared_ptr<PasteboardItem>>> pasteboardItems() override;
  std::int64_t clearContents() override;
  bool writeObjects(const std::vector<std::shared_ptr<PasteboardItem>>& items) override;
  std::optional<std::string> stringForType(const std::string& type) override;
  bool setStringForType(const std::string& string, const std::string& type) override;
  std::int64_t changeCount() override;
  std::shared_ptr<PasteboardItem> makeItem() override;

 private:
  // Whether the call is on the main thread and a GTK widget of this process
  // owns the clipboard now.
  bool ownedByGtkInThisProcess() const;

  std::unique_ptr<Pasteboard> clipboard_;
  std::function<bool()> isMainThread_;
};

}  // namespace lumivane::platform::x11
