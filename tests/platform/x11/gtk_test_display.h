#pragma once

#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/x11/x11_connection.h"
#include "tests/support/main_loop.h"
#include "tests/support/x_session.h"

// GTK in a test process. GTK, and libwnck with it, binds one default display
// per process and cannot move it, and GDK ends the process when the server of
// a display it uses goes away. So a test executable starts GTK once, on a
// private desktop that lasts as long as the process; tests that want a server
// of their own open another GDK display on it with GdkTestDisplay.
namespace lumivane::test_support {

// Starts GTK in this process on a private desktop made with `options` (a bare
// display unless told otherwise), on the first call; later calls get the same
// desktop, or null when they ask for a different window manager or bus (one
// process cannot have both). GTK runs as the host does, with the program
// class "Lumivane". Null, with a test failure saying why, when GTK could not
// start.
XSession* startGtkOnPrivateDesktop(const XSession::Options& options = {.windowManager = false,
                                                                       .sessionBus = false});

// The same for executables all of whose tests run on GTK's desktop: register
// it with ::testing::AddGlobalTestEnvironment.
class GtkDisplayEnvironment : public ::testing::Environment {
 public:
  explicit GtkDisplayEnvironment(XSession::Options options) : options_(std::move(options)) {}
  void SetUp() override;
  XSession& session() { return *session_; }

 private:
  XSession::Options options_;
  XSession* session_ = nullptr;
};

// A GDK connection to one test's display, closed when it goes (before the
// test's server is ended). GTK must have been started.
class GdkTestDisplay {
 public:
  explicit GdkTestDisplay(const std::string& name);
  ~GdkTestDisplay();
  GdkTestDisplay(const GdkTestDisplay&) = delete;
  GdkTestDisplay& operator=(const GdkTestDisplay&) = delete;

  GdkDisplay* get() const { return display_; }

 private:
  GdkDisplay* display_ = nullptr;
};

// What a test reads and asks of the desktop directly, on its own connection,
// as the user or another program would.
class DesktopProbe {
 public:
  explicit DesktopProbe(const std::string& display);
  bool ready() const { return connection_ != nullptr; }
  platform::x11::XcbConnection& connection() { return *connection_; }

  // The window manager's active window; XCB_WINDOW_NONE when there is none.
  xcb_window_t activeWindow();
  // The windows the window manager manages, absent without one.
  std::optional<std::set<xcb_window_t>> managedWindows();
  // The managed windows whose _NET_WM_PID is `pid`.
  std::set<xcb_window_t> windowsOf(pid_t pid);
  // Asks the window manager to activate `window`, as a taskbar would when
  // the user clicks it.
  void requestActivation(xcb_window_t window);
  // Asks the window manager to minimise `window`.
  void requestIconify(xcb_window_t window);
  // The server's time now.
  xcb_timestamp_t serverTime();

 private:
  std::unique_ptr<platform::x11::XcbConnection> connection_;
  xcb_window_t clock_ = XCB_WINDOW_NONE;
};

}  // namespace lumivane::test_support
