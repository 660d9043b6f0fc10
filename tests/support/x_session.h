#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/desktop_session.h"
#include "tests/support/wait_until.h"

namespace lumivane::test_support {

// A private desktop for one test: an Xvfb display chosen by the server itself
// (-displayfd, so parallel tests never share one), optionally the openbox
// window manager, a private D-Bus session bus, and temporary XDG folders, so
// nothing reaches the display, clipboard, session bus or autostart folder of
// the machine the tests run on. Every process it starts is ended by pid when
// it goes, the display last.
class XSession : public DesktopSession {
 public:
  struct Options {
    bool windowManager = true;
    bool sessionBus = true;
    int width = 1280;
    int height = 800;
    // More arguments for Xvfb ("-extension", "XTEST" to leave one out).
    std::vector<std::string> serverArguments = {};
  };

  XSession();
  explicit XSession(Options options);
  ~XSession();
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  // ":N".
  const std::string& display() const { return display_; }
  // The X server's process; -1 when it did not start.
  pid_t serverPid() const { return server_ ? server_->pid() : -1; }
  // Whether a window manager runs on the display (EWMH supporting check).
  bool hasWindowManager() const;

  // Waits until the window manager really manages new windows, within
  // `seconds`. openbox announces itself before it is ready, and a window
  // mapped in between is never managed: it stays unmapped. A probe window is
  // mapped (again, when a request was lost) until it is managed, then
  // destroyed. True when the window manager took it.
  bool waitUntilWindowsAreManaged(double seconds = 30) const;

  // Another client's clipboard, for tests of whatever reads it: xclip owns
  // the CLIPBOARD, offering `bytes` as `target`, until another client takes
  // it. Returns once xclip owns it; null when it did not within the bound.
  ChildProcess* offerClipboard(const std::string& target, const std::string& bytes);
  // What another client reads from the CLIPBOARD as `target` (xclip -o);
  // absent when it gets nothing (no owner, the target refused, no answer).
  std::optional<std::string> readClipboard(const std::string& target, double seconds = 60);
  // The window that owns the CLIPBOARD now (0 for none).
  unsigned long clipboardOwner() const;

 private:
  void start(const Options& options);
  bool startServer(const Options& options);
  bool startSessionBus();
  bool startWindowManager();

  Options options_;
  std::string display_;
  std::unique_ptr<ChildProcess> server_;
};

}  // namespace lumivane::test_support
