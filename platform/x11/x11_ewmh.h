#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <optional>
#include <string>
#include <vector>

namespace lumivane::platform::x11 {

// What the window manager publishes about the desktop (the active window, the
// windows it manages in stacking order, their processes and frames) and what
// it is asked (to activate a window, to tell a frame), as EWMH has it. Every
// part of the backend that speaks to the window manager goes through here, on
// the connection it already has: the synthetic keys on their own, the
// workspace and the host's windows on GDK's. It sends requests and waits for
// their replies and never reads a connection's events, so GDK's stay GDK's.
// Used by one thread at a time, the connection's.
class Ewmh {
 public:
  // A window the window manager manages, and the process that made it (0
  // when nothing tells).
  struct Client {
    xcb_window_t window = XCB_WINDOW_NONE;
    pid_t pid = 0;
  };

  // Learns the atoms on `connection` (not owned; it outlives this object)
  // for the screen whose root window is `root`: one round trip.
  Ewmh(xcb_connection_t* connection, xcb_window_t root);
  ~Ewmh();
  Ewmh(const Ewmh&) = delete;
  Ewmh& operator=(const Ewmh&) = delete;

  // Whether a window manager runs: the root names its check window, and the
  // check window names itself (a window manager that has gone leaves the
  // root's property behind, not its window).
  bool windowManagerRuns();
  // The active window; XCB_WINDOW_NONE when none is, or nobody says.
  xcb_window_t activeWindow();
  // The windows the window manager manages that the server still has,
  // bottom to top. A program that has just quit leaves its windows in the
  // window manager's list for a moment after the server destroyed them; they
  // are left out. Absent without a window manager's list.
  std::optional<std::vector<Client>> clients();
  // The process that made `window`: its _NET_WM_PID or, for the toolkits
  // that set none, the server's record of the client behind it. 0 when
  // neither tells; absent when the window is gone (or none).
  std::optional<pid_t> processOf(xcb_window_t window);
  // The class part of `window`'s WM_CLASS ("FeatherPad"), read from the
  // server: a window made a moment ago has it before anyone else knows the
  // window. Empty when it sets none.
  std::string classOf(xcb_window_t window);
  // The frame the window manager puts around `window`; absent until it has
  // said.
  std::optional<xcb_ewmh_get_extents_reply_t> frameExtents(xcb_window_t window);

  // Asks the window manager to make `window` active as a pager does, on the
  // user's behalf, stamped with the server time `time`.
  void requestActivation(xcb_window_t window, xcb_timestamp_t time);
  // Asks the window manager to tell the frame it will put around `window`.
  void requestFrameExtents(xcb_window_t window);

 private:
  std::vector<std::optional<pid_t>> processesOf(const std::vector<xcb_window_t>& windows);

  xcb_ewmh_connection_t ewmh_{};
  bool ready_ = false;
  int screen_ = 0;
};

}  // namespace lumivane::platform::x11
