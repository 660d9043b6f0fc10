#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/x11_connection.h"
#include "tests/support/x_session.h"

namespace lumivane::test_support {

// The user at the keyboard of a private display, and the other clients a
// test needs: a connection of its own that types with XTEST (as a keyboard
// would), reads and changes which window is active, and finds windows.
class XTestUser {
 public:
  explicit XTestUser(const std::string& display);

  bool ready() const { return connection_ != nullptr; }
  platform::x11::XcbConnection& connection() { return *connection_; }

  // Presses or releases the key that produces `keysym` (the unshifted one
  // preferred). True when the server took it.
  bool press(xcb_keysym_t keysym);
  bool release(xcb_keysym_t keysym);
  bool pressKeycode(xcb_keycode_t keycode);
  bool releaseKeycode(xcb_keycode_t keycode);
  // Presses `modifiers` in order, then `keysym`, then releases them all in
  // reverse order.
  bool chord(const std::vector<xcb_keysym_t>& modifiers, xcb_keysym_t keysym);
  bool tap(xcb_keysym_t keysym) { return chord({}, keysym); }
  std::optional<xcb_keycode_t> keycodeOf(xcb_keysym_t keysym);

  // The keys down on the server now.
  std::vector<xcb_keycode_t> keysDown();
  // The modifier and lock bits of the keyboard now.
  std::uint16_t modifierState();

  xcb_window_t activeWindow();
  // Asks the window manager to activate `window` and waits (generously) until
  // it is the active window with the input focus.
  bool activate(xcb_window_t window);
  bool isActive(xcb_window_t window);
  // The managed top-level window of `pid`, waiting for it to appear.
  std::optional<xcb_window_t> waitForWindowOf(pid_t pid, double seconds = 30);

 private:
  std::unique_ptr<platform::x11::XcbConnection> connection_;
};

// A key recorder (tests/platform/x11/key_recorder.cpp) running on a session:
// started, mapped and, when the session has a window manager, managed. Its
// key lines are the presses, releases and reads it reports.
class KeyRecorder {
 public:
  KeyRecorder(XSession& session, XTestUser& user, std::vector<std::string> arguments = {});

  bool ready() const { return window_ != XCB_WINDOW_NONE; }
  pid_t pid() const { return process_.pid(); }
  xcb_window_t window() const { return window_; }
  // The second window, with --second-window.
  xcb_window_t secondWindow() const { return secondWindow_; }

  // The key lines it printed before the first one equal to `sentinel`, once
  // that one has come; absent when it did not come in time.
  std::optional<std::vector<std::string>> linesBefore(const std::string& sentinel,
                                                      double seconds = 20);
  // The next `count` key lines, waiting for them; fewer when they did not
  // come in time.
  std::vector<std::string> nextLines(std::size_t count, double seconds = 20);
  // Every key line not taken yet, up to the keys the server has delivered by
  // now: a mark sent to the window comes back after them. Absent when the
  // mark did not come back in time.
  std::optional<std::vector<std::string>> linesUpToNow(double seconds = 20);

  ChildProcess& process() { return process_; }

 private:
  XTestUser& user_;
  ChildProcess& process_;
  long marks_ = 0;
  xcb_window_t window_ = XCB_WINDOW_NONE;
  xcb_window_t secondWindow_ = XCB_WINDOW_NONE;
};

}  // namespace lumivane::test_support
