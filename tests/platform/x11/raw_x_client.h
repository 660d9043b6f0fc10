#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11/x11_connection.h"

// Bare X clients for the clipboard's tests: other applications that behave
// exactly as a test needs, well or badly.
namespace lumivane::test_support {

using platform::x11::XcbConnection;
using platform::x11::XcbReply;
using platform::x11::XProperty;

// Bytes that look like nothing in particular, the same for the same seed: no
// two tests (or two halves of one) share them by accident.
std::string noise(std::size_t size, unsigned seed);

// One connection and one window, driven by the test's own thread.
class RawClient {
 public:
  explicit RawClient(const std::string& display);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool ready() const { return x_ != nullptr && window_ != 0; }
  XcbConnection& x() { return *x_; }
  xcb_connection_t* c() const { return x_->get(); }
  xcb_window_t window() const { return window_; }
  xcb_atom_t atom(const std::string& name) { return x_->atom(name); }
  std::string name(xcb_atom_t atom) { return x_->atomName(atom); }
  xcb_window_t owner(const std::string& selection = "CLIPBOARD");
  // The server's time now; 0 when it does not answer.
  xcb_timestamp_t serverTime();

  // The first event `match` accepts, waiting at most `seconds`; events it
  // passes over wait for later calls.
  XcbReply<xcb_generic_event_t> waitFor(
      const std::function<bool(const xcb_generic_event_t&)>& match,
      double seconds = 30);
  // Whether such an event has arrived by the time the server has answered a
  // round trip (it would have come before the answer).
  bool hasArrived(const std::function<bool(const xcb_generic_event_t&)>& match);

  // Asks the CLIPBOARD's (or `selection`'s) owner for `target` into
  // `property` of the window, and waits for the answer: the property named,
  // or none for a refusal. Absent when no answer came.
  std::optional<xcb_atom_t> convert(const std::string& target,
                                    const std::string& property,
                                    xcb_timestamp_t time = XCB_CURRENT_TIME,
                                    double seconds = 30,
                                    const std::string& selection = "CLIPBOARD");
  // A whole conversion, in increments when the owner sends it so; absent
  // when refused or not answered.
  std::optional<XProperty> read(const std::string& target,
                                const std::string& selection = "CLIPBOARD");

  // Sends `event` (32 bytes) to `window` as a client may.
  void sendEvent(xcb_window_t window, const void* event);

 private:
  std::unique_ptr<XcbConnection> x_;
  xcb_window_t window_ = 0;
  std::deque<XcbReply<xcb_generic_event_t>> kept_;
};

// One target as a raw owner offers it.
struct RawTarget {
  std::string target;
  std::string type;
  std::uint8_t format = 8;
  std::string bytes;
  // Listed among the targets, but refused when asked for.
  bool refused = false;
};

// Another application owning the CLIPBOARD (or another selection) from a
// thread of its own.
class RawOwner {
 public:
  struct Behaviour {
    bool answersTargets = true;
    bool answersData = true;
    // Targets sent in increments of this size; and held back (the first piece
    // waits) until release() when `holdIncrements`.
    std::size_t incrementAbove = 1 << 20;
    bool holdIncrements = false;
    // Each piece sent no sooner than this after the one before.
    std::chrono::milliseconds pieceInterval{0};
    // Announced instead of the real size when sending in increments.
    std::optional<std::uint32_t> announcedSize;
    // Answers TARGETS with this (format 8 junk, say) instead of the list.
    std::optional<RawTarget> targetsAnswer;
    // The time its refusals carry, when not the request's.
    std::optional<xcb_timestamp_t> refusalTime;
    std::string selection = "CLIPBOARD";
  };

  RawOwner(const std::string& display, std::vector<RawTarget> targets, Behaviour behaviour);
  ~RawOwner();
  // Whether it owned the selection once started.
  bool owns() const { return owns_; }
  xcb_window_t window() const { return window_; }
  // Lets held increments go.
  void release() { released_ = true; }
  // Requests seen, by target name.
  int requests(const std::string& target);

 private:
  void run();
  void answer(const xcb_selection_request_event_t& request);
  struct Transfer {
    std::string bytes;
    std::size_t sent = 0;
    xcb_atom_t type = 0;
    std::uint8_t format = 8;
    bool deleted = false;
    std::chrono::steady_clock::time_point lastSent = std::chrono::steady_clock::now();
  };
  void sendPiece(xcb_window_t window, xcb_atom_t property, Transfer& transfer);

  std::unique_ptr<RawClient> client_;
  std::vector<RawTarget> targets_;
  Behaviour behaviour_;
  xcb_window_t window_ = 0;
  bool owns_ = false;
  std::atomic<bool> released_{false};
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::map<std::string, int> requests_;
  std::map<std::pair<xcb_window_t, xcb_atom_t>, Transfer> transfers_;
  std::thread thread_;
};

// A clipboard manager as small as it can be: owns CLIPBOARD_MANAGER and, when
// asked to save the clipboard (SAVE_TARGETS), reads every target the owner
// lists and keeps it, then answers (or refuses, when told to).
class RawClipboardManager {
 public:
  struct Saved {
    std::string type;
    std::uint8_t format = 0;
    std::string bytes;
  };
  RawClipboardManager(const std::string& display, bool refuses);
  ~RawClipboardManager();
  bool runs() const { return runs_; }
  // What it saved, by target; empty until it was asked.
  std::map<std::string, Saved> saved();
  int requestsToSave() const { return requests_; }

 private:
  void run();
  std::unique_ptr<RawClient> client_;
  bool refuses_;
  bool runs_ = false;
  std::atomic<int> requests_{0};
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::map<std::string, Saved> saved_;
  std::thread thread_;
};

}  // namespace lumivane::test_support
