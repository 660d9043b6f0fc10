#include "capture/clipboard_lease.h"

#include <algorithm>
#include <utility>

namespace lumivane {

bool ClipboardLease::captureWaiting() const {
  return std::any_of(waiting_.begin(), waiting_.end(),
                     [](const Waiting& w) { return w.kind == Kind::capture; });
}

bool ClipboardLease::requestCapture(Start start) {
  if (!busy() && waiting_.empty()) {
    startCapture(std::move(start));
    return true;
  }
  if (captureWaiting())
    return false;
  waiting_.push_back({Kind::capture, std::move(start)});
  return true;
}

void ClipboardLease::startCapture(Start start) {
  captureActive_ = true;
  start();
}

void ClipboardLease::captureEnded() {
  if (!captureActive_)
    return;
  captureActive_ = false;
  drain();
}

void ClipboardLease::requestPaste(Start start) {
  // Pastes join pastes already pending, but never jump a waiting capture.
  if (!captureActive_ && waiting_.empty()) {
    start();
    return;
  }
  waiting_.push_back({Kind::paste, std::move(start)});
}

void ClipboardLease::pasteBegan(platform::Pasteboard& pasteboard, const std::string& text) {
  if (activePastes_++ == 0)
    userContents_ = saveClipboard(pasteboard);
  pasteText_ = text;
}

void ClipboardLease::pasteEnded(platform::Pasteboard& pasteboard) {
  if (activePastes_ == 0)
    return;
  if (--activePastes_ > 0)
    return;
  pasteText_.reset();
  restoreClipboard(pasteboard, std::exchange(userContents_, std::nullopt));
  drain();
}

void ClipboardLease::relinquish(platform::Pasteboard& pasteboard,
                                const std::function<void()>& pause) {
  while (workerBusy())
    pause();
  if (activePastes_ == 0)
    return;
  activePastes_ = 0;
  pasteText_.reset();
  restoreClipboard(pasteboard, std::exchange(userContents_, std::nullopt));
}

void ClipboardLease::drain() {
  while (!waiting_.empty() && !captureActive_) {
    if (waiting_.front().kind == Kind::capture) {
      if (activePastes_ > 0)
        return;
      Start start = std::move(waiting_.front().start);
      waiting_.pop_front();
      startCapture(std::move(start));
      return;
    }
    Start start = std::move(waiting_.front().start);
    waiting_.pop_front();
    start();
  }
}

}  // namespace lumivane
