#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "platform/x11/x11_selection.h"

namespace lumivane::platform::x11 {

// Serves one selection from a SelectionWindow: claims it, answers TARGETS,
// TIMESTAMP, MULTIPLE and every offered target with its own type and format,
// and sends what is too large for one request in increments (INCR), one
// transfer per requestor window and property, several at once.
//
// Other clients cost it nothing but bounded state: a requestor that stops
// reading an incremental transfer is dropped after `requestorIdle`, one whose
// window goes (destroyed, or errors on it) is dropped at once, the oldest idle
// transfer makes room when `maxTransfers` are open, and requests that make no
// sense are refused. Events a client made up (SendEvent) never end ownership
// or move a transfer. None of it affects what the other requestors get.
//
// Runs on the thread that reads the window's events; feed it every event.
class SelectionOwner {
 public:
  struct Bounds {
    std::chrono::milliseconds requestorIdle{5000};
    std::size_t maxTransfers = 64;
  };

  SelectionOwner(SelectionWindow& window, xcb_atom_t selection, Bounds bounds);
  SelectionOwner(const SelectionOwner&) = delete;
  SelectionOwner& operator=(const SelectionOwner&) = delete;

  // Claims the selection at `time`, offering `targets` from then on. False
  // when the server kept another owner (one that claimed it later); then
  // nothing changes here.
  bool claim(std::shared_ptr<const OfferedTargets> targets, xcb_timestamp_t time);

  // Gives the selection up when it is ours, unless another client has
  // claimed it since; requests that come after are refused. False when it
  // was not ours.
  bool letGo();

  // Whether the selection is ours: claimed, and no other client has taken it
  // since, as far as the events handled so far tell.
  bool owns() const { return owned_; }
  const std::shared_ptr<const OfferedTargets>& offered() const { return offered_; }
  // Whether transfers are still in progress (they finish after losing the
  // selection: they were asked for while it was ours).
  bool transferring() const { return !transfers_.empty(); }
  // How many times another client has been given the contents (an offered
  // target, not TARGETS or TIMESTAMP), in whole or as a transfer begun.
  std::uint64_t served() const { return served_; }

  // Handles `event` when it concerns the selection or a transfer; true then.
  bool handle(const xcb_generic_event_t& event);

  // When the next idle transfer is due to be dropped.
  std::optional<SteadyClock::time_point> nextDeadline() const;
  void expire(SteadyClock::time_point now);

 private:
  using TransferKey = std::pair<xcb_window_t, xcb_atom_t>;  // requestor, property
  struct Transfer {
    std::shared_ptr<const Bytes> data;
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 8;
    std::size_t sent = 0;
    SteadyClock::time_point lastActive;
  };

  void answer(const xcb_selection_request_event_t& request);
  // Puts `target` into `property` of `requestor`; false when refused.
  bool convert(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property);
  bool convertMultiple(xcb_window_t requestor, xcb_atom_t property);
  void notify(const xcb_selection_request_event_t& request, xcb_atom_t property);
  void startTransfer(xcb_window_t requestor, xcb_atom_t property, const OfferedTarget& offered);
  void sendNext(std::map<TransferKey, Transfer>::iterator it);
  void drop(std::map<TransferKey, Transfer>::iterator it, bool abandoned);
  void forgetRequestor(xcb_window_t requestor);
  void watch(xcb_window_t requestor);
  void unwatch(xcb_window_t requestor);

  SelectionWindow& window_;
  xcb_connection_t* c_;
  xcb_atom_t selection_;
  Bounds bounds_;
  xcb_atom_t targets_, timestamp_, multiple_, incr_, atomPair_;
  // Bytes above which a target goes out in increments, and their size.
  std::size_t incrementBytes_;

  bool owned_ = false;
  xcb_timestamp_t ownedSince_ = XCB_CURRENT_TIME;
  std::uint32_t confirmedAt_ = 0;
  std::shared_ptr<const OfferedTargets> offered_;
  std::uint64_t served_ = 0;
  std::map<TransferKey, Transfer> transfers_;
  std::map<xcb_window_t, int> watched_;  // requestor window -> open transfers
};

}  // namespace lumivane::platform::x11
