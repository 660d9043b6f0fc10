#pragma once

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/x11/x11_connection.h"
#include "tests/support/x_session.h"

namespace lumivane::test_support {

// One private desktop for a whole test executable, with GTK open on it in
// this process: GTK and libwnck bind one default display per process, so the
// tests that run them in process share it. GTK runs as the host does, with
// the program class "Lumivane". Register it with
// ::testing::AddGlobalTestEnvironment.
class GtkDisplayEnvironment : public ::testing::Environment {
 public:
  explicit GtkDisplayEnvironment(XSession::Options options) : options_(options) {}

  void SetUp() override;
  void TearDown() override;

  XSession& session() { return *session_; }

 private:
  XSession::Options options_;
  std::unique_ptr<XSession> session_;
};

// Runs the main loop's pending work until `condition` holds, for at most
// `seconds`: what GTK and libwnck learn from the server arrives through it.
bool pumpUntil(const std::function<bool()>& condition, double seconds = 30);

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
