#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "capture/pasteboard_snapshot.h"
#include "platform/pasteboard.h"

namespace lumivane {

// Who has borrowed the general pasteboard from the user, and who waits for it.
//
// A capture empties the pasteboard and reads what the target copies; a paste
// puts its text there until its chord has gone out. Left to overlap, they
// would restore each other's temporary contents: the user's clipboard could
// end up holding the host's text, a capture could deliver the host's own paste
// text, and a paste chord could paste the user's old contents. So:
//  - captures run one at a time, and never while a paste is pending;
//  - pastes may overlap each other but not a capture; they share one saved
//    copy of the user's contents, taken by the first and put back by the last;
//  - what arrives while the pasteboard is busy waits its turn, in order, with
//    at most one capture waiting (a burst of triggers only shows the panel).
// When nothing overlaps, every operation starts at once and nothing changes.
//
// Main thread only, except where a comment says otherwise.
class ClipboardLease {
 public:
  using Start = std::function<void()>;

  // A capture trigger: runs `start` now when the pasteboard is free, else
  // queues it. False when dropped because a capture is already waiting.
  bool requestCapture(Start start);
  // Marks the capture that `start` began as finished; its worker has put the
  // pasteboard back. Lets whatever waits go on.
  void captureEnded();

  // A paste: runs `start` now unless a capture holds or waits for the
  // pasteboard, else queues it behind them.
  void requestPaste(Start start);
  // The first of overlapping pastes saves the user's contents. `text` is what
  // the paste is about to put on the pasteboard.
  void pasteBegan(platform::Pasteboard& pasteboard, const std::string& text);
  // The last of overlapping pastes puts them back; then waiting work goes on.
  void pasteEnded(platform::Pasteboard& pasteboard);

  // The application is ending, and what it deferred will never run: waits
  // for a capture's worker to put the pasteboard back, calling `pause`
  // between looks, then puts back what pending pastes saved, at once. Their
  // chords no longer go out (pendingPasteText() is empty from then on).
  void relinquish(platform::Pasteboard& pasteboard, const std::function<void()>& pause);

  // Set while a capture's worker uses the pasteboard. Any thread.
  bool workerBusy() const { return workerBusy_.load(std::memory_order_acquire); }
  void setWorkerBusy(bool busy) { workerBusy_.store(busy, std::memory_order_release); }

  // The text of the latest paste whose chord or restore is still to come:
  // what its chord must find on the pasteboard.
  const std::optional<std::string>& pendingPasteText() const { return pasteText_; }

 private:
  enum class Kind { capture, paste };
  struct Waiting {
    Kind kind;
    Start start;
  };
  bool busy() const { return captureActive_ || activePastes_ > 0; }
  bool captureWaiting() const;
  void startCapture(Start start);
  // Starts what waits, in order: a capture alone, or a run of pastes together.
  void drain();

  bool captureActive_ = false;
  int activePastes_ = 0;
  PasteboardSnapshot userContents_;
  std::optional<std::string> pasteText_;
  std::deque<Waiting> waiting_;
  std::atomic<bool> workerBusy_{false};
};

}  // namespace lumivane
