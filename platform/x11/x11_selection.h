#pragma once

#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/gtk/clipboard_targets.h"
#include "platform/gtk/unique_fd.h"
#include "platform/pasteboard.h"
#include "platform/x11/x11_connection.h"

// What the clipboard's owner, its reader and the clipboard keeper share: the
// targets a selection is offered in, and one connection with one small
// invisible window to own selections and receive conversions on.
namespace lumivane::platform::x11 {

using SteadyClock = std::chrono::steady_clock;

// One target an owner offers: the name a requestor asks for, and the type and
// format its bytes go out in (format 32 bytes are 32-bit values in this
// machine's byte order, as XCB hands them over). The bytes are shared by
// everything that serves or holds them, never copied for a request.
struct OfferedTarget {
  xcb_atom_t target = XCB_ATOM_NONE;
  xcb_atom_t type = XCB_ATOM_NONE;
  std::uint8_t format = 8;
  std::shared_ptr<const Bytes> data;
};
using OfferedTargets = std::vector<OfferedTarget>;

// The same by name, for where no connection is at hand: items, the keeper's
// input.
using gtk::fitsFormat;
using gtk::isMetaTarget;
using gtk::NamedTarget;
using gtk::UniqueFd;

// X server times are 32-bit milliseconds that wrap; true when `a` is before `b`.
inline bool timeBefore(xcb_timestamp_t a, xcb_timestamp_t b) {
  return static_cast<std::int32_t>(a - b) < 0;
}

// A connection of its own and one unmapped input-only window on it, which
// owns selections and receives what other clients convert for it.
//
// One thread at a time. Events come out of nextEvent() in the order the
// server sent them, including those set aside while a timestamp was fetched.
class SelectionWindow {
 public:
  // Connects to `displayName` ($DISPLAY when empty); null with `error` set
  // when no server answers or the window cannot be made.
  static std::unique_ptr<SelectionWindow> open(const std::string& displayName, std::string* error);

  SelectionWindow(std::unique_ptr<XcbConnection> connection, xcb_window_t window);
  ~SelectionWindow();
  SelectionWindow(const SelectionWindow&) = delete;
  SelectionWindow& operator=(const SelectionWindow&) = delete;

  XcbConnection& connection() { return *connection_; }
  xcb_connection_t* get() const { return connection_->get(); }
  xcb_window_t window() const { return window_; }
  bool alive() const { return connection_->alive(); }

  // Reports every change of `selection`'s owner to this connection (XFixes).
  // Returns the event code those reports arrive with, absent when the server
  // cannot report them.
  std::optional<std::uint8_t> watchOwner(xcb_atom_t selection);

  // The server's time now, from a property change on the window: owners claim
  // selections, and readers ask for conversions, with a time the server gave.
  // Absent when the connection is gone.
  std::optional<xcb_timestamp_t> serverTime();

  // Asks for `selection` at `time`; true when the server names this window as
  // its owner afterwards. `confirmedAt` gets the sequence number of the
  // confirming request: notices of losing the selection generated before it
  // predate this claim.
  bool claim(xcb_atom_t selection, xcb_timestamp_t time, std::uint32_t* confirmedAt);

  // The window that owns `selection` now; none when nobody does or the
  // connection is gone.
  xcb_window_t ownerOf(xcb_atom_t selection);

  // One round trip: when it returns, every event the server sent before it is
  // waiting in nextEvent(). False when the connection is gone.
  bool sync() { return connection_->sync(); }

  // The next event or error that has arrived, without waiting.
  XcbReply<xcb_generic_event_t> nextEvent();

  // Sends what is buffered, then waits until the server may have sent
  // something, `wakeFd` (when not negative) is readable, or `deadline`.
  void wait(std::optional<SteadyClock::time_point> deadline, int wakeFd);

 private:
  std::unique_ptr<XcbConnection> connection_;
  xcb_window_t window_;
  xcb_atom_t timeProperty_ = XCB_ATOM_NONE;
  std::deque<XcbReply<xcb_generic_event_t>> setAside_;
};

}  // namespace lumivane::platform::x11
