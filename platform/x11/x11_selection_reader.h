#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "platform/x11/x11_selection.h"

namespace lumivane::platform::x11 {

// What a conversion gave: the bytes with the type and format the owner sent
// them in, or why there are none.
struct Converted {
  enum class Outcome {
    data,      // the owner converted; `data` may be empty, format 0 when it
               // put nothing in the property at all
    refused,   // the owner answered that it cannot
    timedOut,  // the owner did not answer, or stopped sending, in time
    failed,    // anything else: nothing readable, too large, connection gone
  };
  Outcome outcome = Outcome::failed;
  xcb_atom_t type = XCB_ATOM_NONE;
  std::uint8_t format = 0;
  Bytes data;
};

// Asks owners to convert selections into properties of a SelectionWindow and
// reads what they put there, whole or in increments (INCR). Several
// conversions may be under way at once, each in a property of its own; each
// ends exactly once, and an owner that never answers or stops sending costs
// only its bounds. Each byte is copied once, from the server's reply into the
// result: straight away when the size is known (a whole property, or an owner
// that announces its increments' total), else the replies are kept and copied
// at the end, each freed once copied. Either way a conversion holds about one
// copy of the bytes.
//
// Runs on the thread that reads the window's events; feed it every event.
class SelectionReader {
 public:
  struct Bounds {
    // For the owner's answer to a request.
    std::chrono::milliseconds answer{2000};
    // Between two pieces of an incremental transfer.
    std::chrono::milliseconds increment{2000};
    // For a whole conversion, however it goes.
    std::chrono::milliseconds transfer{30000};
    // The most bytes one conversion may bring in.
    std::size_t maxBytes = std::size_t{512} << 20;
  };
  using Done = std::function<void(Converted)>;

  SelectionReader(SelectionWindow& window, Bounds bounds);
  // Ends what is under way as failed.
  ~SelectionReader();
  SelectionReader(const SelectionReader&) = delete;
  SelectionReader& operator=(const SelectionReader&) = delete;

  // Asks `selection`'s owner for `target` as of `time`. `parameter`, when
  // given, is put in the property first, for targets that take one.
  // `answerBound` replaces the usual bound for the owner's answer. `done` is
  // called exactly once, from handle(), expire() or failAll() (or from here
  // when the request cannot be made).
  void convert(xcb_atom_t selection,
               xcb_atom_t target,
               xcb_timestamp_t time,
               Done done,
               const XProperty* parameter = nullptr,
               std::optional<std::chrono::milliseconds> answerBound = std::nullopt);

  // Handles `event` when it concerns a conversion; true then.
  bool handle(const xcb_generic_event_t& event);

  std::optional<SteadyClock::time_point> nextDeadline() const;
  // Ends conversions whose bounds have passed as timed out.
  void expire(SteadyClock::time_point now);
  // Ends every conversion as failed, and those asked for later at once (the
  // connection is gone, or its thread is stopping).
  void failAll();

 private:
  struct Pending {
    std::uint64_t order = 0;
    xcb_atom_t selection = XCB_ATOM_NONE;
    xcb_atom_t target = XCB_ATOM_NONE;
    xcb_timestamp_t time = XCB_CURRENT_TIME;
    bool incremental = false;
    SteadyClock::time_point due;      // the answer, or the next piece
    SteadyClock::time_point lastDue;  // the whole conversion
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 0;
    std::size_t bytes = 0;
    // The bytes so far, or (`keepPieces`) the replies that carry them.
    Bytes data;
    bool keepPieces = false;
    std::vector<XcbReply<xcb_get_property_reply_t>> pieces;
    Done done;
  };
  struct Slot {
    xcb_atom_t property = XCB_ATOM_NONE;
    SteadyClock::time_point quietUntil;
  };

  std::optional<xcb_atom_t> takeSlot(SteadyClock::time_point now);
  void answered(std::map<xcb_atom_t, Pending>::iterator it);
  void pieceArrived(std::map<xcb_atom_t, Pending>::iterator it);
  void finish(std::map<xcb_atom_t, Pending>::iterator it, Converted::Outcome outcome);
  // Reads `property` of the window into `pending`, and deletes it; stopped
  // when it would bring the conversion more bytes than it may have.
  XcbConnection::PropertyRead readProperty(xcb_atom_t property,
                                           Pending& pending,
                                           xcb_atom_t* type,
                                           std::uint8_t* format,
                                           std::size_t* length);

  SelectionWindow& window_;
  xcb_connection_t* c_;
  Bounds bounds_;
  xcb_atom_t incr_;
  std::uint64_t nextOrder_ = 0;
  bool closed_ = false;
  std::vector<Slot> slots_;
  std::map<xcb_atom_t, Pending> pending_;  // by property
};

}  // namespace lumivane::platform::x11
