#include <utility>

#include "capture/key_chords.h"
#include "capture/pasteboard_snapshot.h"
#include "shell/app_delegate.h"
#include "system/accessibility.h"

namespace lumivane {
namespace {

// The target gets up to a second to answer the copy chord; most answer within
// the first two or three reads.
constexpr int kPasteboardReads = 10;
constexpr double kPauseBeforeRead = 0.1;

}  // namespace

void AppDelegate::showAndCaptureSelection() {
  updateLastActiveAppIfNeeded();
  showPanel();
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  clipboardLease_.requestCapture([weak] {
    if (auto self = weak.lock())
      self->runCaptureInBackground();
  });
}

void AppDelegate::runCaptureInBackground() {
  clipboardLease_.setWorkerBusy(true);
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  desktop_.dispatch().globalQueue(platform::QoSClass::userInitiated).async([weak] {
    auto self = weak.lock();
    if (!self)
      return;
    std::optional<std::string> text;
    // Without the permission the copy chord would be dropped by the system;
    // leave the pasteboard alone and show no prompt.
    if (checkAccessibility(self->desktop_.accessibility(), /*prompt=*/false)) {
      text = self->getSelectionViaClipboard();
    }
    self->clipboardLease_.setWorkerBusy(false);
    self->desktop_.dispatch().mainQueue().async([weak, text = std::move(text)] {
      auto self = weak.lock();
      if (!self)
        return;
      if (text && !text->empty() && self->selectionChannel) {
        self->selectionChannel->invokeMethod("updateSelection", platform::EncodableValue(*text));
      }
      self->clipboardLease_.captureEnded();
    });
  });
}

std::optional<std::string> AppDelegate::getSelectionViaClipboard() {
  auto& pasteboard = desktop_.generalPasteboard();
  PasteboardSnapshot saved = saveClipboard(pasteboard);
  // Emptied even when there is no target, so that whatever is read below can
  // only have been put there after this point.
  pasteboard.clearContents();
  std::optional<std::string> result;
  if (auto target = lastActiveApplication()) {
    if (postCopyChord(desktop_.keyboardEvents(), target->processIdentifier())) {
      for (int read = 0; read < kPasteboardReads; ++read) {
        desktop_.dispatch().sleepForTimeInterval(kPauseBeforeRead);
        auto text = pasteboard.stringForType(platform::NSPasteboardTypeString);
        if (text && !text->empty()) {
          result = std::move(text);
          break;
        }
      }
    }
  }
  restoreClipboard(pasteboard, std::move(saved));
  return result;
}

std::optional<std::string> AppDelegate::captureSelectionNow() {
  // The worker's capture ends within about a second of its chord; sleeping
  // here lets it run while the main thread waits.
  while (clipboardLease_.workerBusy())
    desktop_.dispatch().sleepForTimeInterval(0.01);
  auto text = getSelectionViaClipboard();
  // A paste cannot be waited for here (its steps run on this thread), so its
  // text may be on the pasteboard now. When the pasteboard could not be saved
  // (it gave no item list), the copy replaced that text: put it back before
  // the paste's chord goes out.
  if (const auto& pending = clipboardLease_.pendingPasteText()) {
    auto& pasteboard = desktop_.generalPasteboard();
    if (pasteboard.stringForType(platform::NSPasteboardTypeString) != *pending) {
      pasteboard.clearContents();
      pasteboard.setStringForType(*pending, platform::NSPasteboardTypeString);
    }
  }
  return text;
}

}  // namespace lumivane
