#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/desktop_session.h"

namespace lumivane::test_support {

// A private Wayland desktop for one test: the sway compositor on its
// headless backend, optionally its XWayland for X clients and a private
// D-Bus session bus, and temporary XDG folders, so nothing reaches the
// machine's own display, clipboard, session bus or autostart folder. sway
// refuses to run as root: when the tests run as root it runs as the
// unprivileged uid 65534 in a runtime folder of its own, and the clients the
// test starts (as the test's user) reach its socket through a link in
// theirs. Every process it starts is ended by pid when it goes, the
// compositor last.
class SwaySession : public DesktopSession {
 public:
  struct Options {
    bool xwayland = true;
    bool sessionBus = true;
    int width = 1280;
    int height = 800;
  };

  SwaySession();
  explicit SwaySession(Options options);
  ~SwaySession();
  SwaySession(const SwaySession&) = delete;
  SwaySession& operator=(const SwaySession&) = delete;

  // The socket's name in the clients' runtime folder ("wayland-1").
  const std::string& waylandDisplay() const { return waylandDisplay_; }
  // XWayland's ":N"; empty without XWayland.
  const std::string& display() const { return display_; }
  // The compositor's process; -1 when it did not start.
  pid_t compositorPid() const { return compositor_ ? compositor_->pid() : -1; }
  // Clients find the compositor by WAYLAND_DISPLAY, XWayland by DISPLAY and
  // sway's IPC by SWAYSOCK; the session bus is open to the compositor's user,
  // who runs what its key bindings run. Toolkits pick their backend
  // themselves: pass GDK_BACKEND or QT_QPA_PLATFORM to `spawn` to choose.

  // The compositor's socket by its full path, for connections the test
  // process makes itself (its own XDG_RUNTIME_DIR is not the session's).
  std::filesystem::path socketPath() const { return directory_ / "runtime" / waylandDisplay_; }

  // Another client's clipboard (or primary selection), for tests of whatever
  // reads it: wl-copy offers `bytes` as `mimeType` (a text type with its
  // aliases) until another client takes it. False when it could not.
  bool offerClipboard(const std::string& mimeType, const std::string& bytes, bool primary = false);
  // What another client reads from the clipboard as `mimeType` (wl-paste);
  // absent when it gets nothing (empty, the type not offered, no answer).
  std::optional<std::string> readClipboard(const std::string& mimeType,
                                           bool primary = false,
                                           double seconds = 60);

  // One message to the compositor over its IPC socket (swaymsg -t TYPE
  // PAYLOAD): "get_tree", or "command" with "bindsym ...". The reply's JSON;
  // absent when the compositor refused the message or did not answer.
  std::optional<std::string> message(const std::string& type, const std::string& payload = {});

  // Adds `line` to the compositor's configuration file, as a user edits it,
  // and has the compositor reload it. False when the reload did not take.
  bool addToConfiguration(const std::string& line);

 private:
  void start(const Options& options);
  bool startCompositor(const Options& options);
  bool waitUntilServing();

  std::string waylandDisplay_;
  std::string display_;
  std::unique_ptr<ChildProcess> compositor_;
};

}  // namespace lumivane::test_support
