#include "capture/key_chords.h"
#include "shell/app_delegate.h"
#include "system/accessibility.h"

namespace lumivane {
namespace {

// Time for the activated application to come to the front before the chord,
// and for it to read the pasteboard before the user's contents come back.
constexpr double kDelayBeforeChord = 0.3;
constexpr double kDelayBeforeRestore = 0.5;

}  // namespace

bool AppDelegate::pasteTextToLastActiveApp(const std::string& text) {
  if (!checkAccessibility(desktop_.accessibility(), /*prompt=*/false))
    return false;
  // The target is fixed now; a later change of the record does not move a
  // pending paste.
  auto target = lastActiveApplication();
  if (!target)
    return false;
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  clipboardLease_.requestPaste([weak, text, target] {
    if (auto self = weak.lock())
      self->startPaste(text, target);
  });
  return true;
}

void AppDelegate::startPaste(const std::string& text,
                             const std::shared_ptr<platform::RunningApplication>& target) {
  auto& pasteboard = desktop_.generalPasteboard();
  clipboardLease_.pasteBegan(pasteboard, text);
  pasteboard.clearContents();
  pasteboard.setStringForType(text, platform::NSPasteboardTypeString);
  if (floatingPanel)
    floatingPanel->orderOut();
  target->activateWithOptions(platform::NSApplicationActivateIgnoringOtherApps);

  std::weak_ptr<AppDelegate> weak = weak_from_this();
  desktop_.dispatch().mainQueue().asyncAfter(kDelayBeforeChord, [weak] {
    auto self = weak.lock();
    // Once the pasteboard has gone back to the user (the host is ending), the
    // chord would paste the user's own contents.
    if (!self || !self->clipboardLease_.pendingPasteText())
      return;
    if (!postPasteChord(self->desktop_.keyboardEvents())) {
      self->clipboardLease_.pasteEnded(self->desktop_.generalPasteboard());
      return;
    }
    self->desktop_.dispatch().mainQueue().asyncAfter(kDelayBeforeRestore, [weak] {
      if (auto self = weak.lock())
        self->clipboardLease_.pasteEnded(self->desktop_.generalPasteboard());
    });
  });
}

}  // namespace lumivane
