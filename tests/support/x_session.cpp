#include "tests/support/x_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdlib.h>

#include <cstdlib>
#include <utility>

namespace lumivane::test_support {

// XSession --------------------------------------------------------------------

XSession::XSession() : XSession(Options{}) {}

XSession::XSession(Options options) : options_(options) {
  start(options);
}

XSession::~XSession() {
  end(server_);
}

void XSession::start(const Options& options) {
  if (!makeFolders("lumivane-x"))
    return;
  if (!startServer(options))
    return;
  if (options.sessionBus && !startSessionBus())
    return;
  if (options.windowManager && !startWindowManager())
    return;
}

bool XSession::startServer(const Options& options) {
  Pipe ready;
  if (ready.read < 0) {
    failure_ = "cannot make a pipe";
    return false;
  }
  ChildProcess::Options server;
  server.argv = {
      "Xvfb",    "-displayfd",
      "3",       "-nolisten",
      "tcp",     "-screen",
      "0",       std::to_string(options.width) + "x" + std::to_string(options.height) + "x24",
      "-noreset"};
  server.argv.insert(server.argv.end(), options.serverArguments.begin(),
                     options.serverArguments.end());
  server.environment = environment_;
  server.logFile = directory_ / "logs" / "Xvfb.log";
  server.passAsFd3 = ready.write;
  server_ = std::make_unique<ChildProcess>(std::move(server));
  ready.closeWrite();
  if (!server_->running()) {
    failure_ = "Xvfb did not start (is it installed?)";
    return false;
  }
  auto number = readReadyLine(ready.read, 30);
  if (!number || number->empty()) {
    failure_ = "Xvfb did not report its display";
    return false;
  }
  display_ = ":" + *number;
  environment_["DISPLAY"] = display_;
  return true;
}

bool XSession::startSessionBus() {
  std::string address;
  bus_ =
      test_support::startSessionBus(environment_, directory_ / "logs" / "dbus-daemon.log", address);
  if (!bus_) {
    failure_ = "the session bus did not start";
    return false;
  }
  environment_["DBUS_SESSION_BUS_ADDRESS"] = address;
  return true;
}

bool XSession::startWindowManager() {
  spawn({"openbox", "--sm-disable"});
  // openbox announces itself a moment before it manages windows: a window
  // mapped in between would never be managed.
  if (!waitUntil([this] { return hasWindowManager(); }, 30) || !waitUntilWindowsAreManaged()) {
    failure_ = "openbox did not start managing the display";
    return false;
  }
  return true;
}

bool XSession::hasWindowManager() const {
  Display* x = XOpenDisplay(display_.c_str());
  if (!x)
    return false;
  bool found = false;
  const Atom check = XInternAtom(x, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(x, DefaultRootWindow(x), check, 0, 1, False, XA_WINDOW, &type, &format,
                         &count, &after, &data) == Success &&
      data && count == 1 && format == 32) {
    found = *reinterpret_cast<unsigned long*>(data) != 0;
  }
  if (data)
    XFree(data);
  XCloseDisplay(x);
  return found;
}

namespace {

bool isClientOf(Display* x, Window window) {
  const Atom clientList = XInternAtom(x, "_NET_CLIENT_LIST", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(x, DefaultRootWindow(x), clientList, 0, 4096, False, XA_WINDOW, &type,
                         &format, &count, &after, &data) == Success &&
      data && format == 32) {
    const auto* windows = reinterpret_cast<const unsigned long*>(data);
    for (unsigned long i = 0; i < count && !found; ++i)
      found = windows[i] == window;
  }
  if (data)
    XFree(data);
  return found;
}

}  // namespace

bool XSession::waitUntilWindowsAreManaged(double seconds) const {
  Display* x = XOpenDisplay(display_.c_str());
  if (!x)
    return false;
  const Window probe = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 1, 1, 0, 0, 0);
  const bool managed = waitUntil(
      [&] {
        XUnmapWindow(x, probe);
        XMapWindow(x, probe);
        XFlush(x);
        return waitUntil([&] { return isClientOf(x, probe); }, 1);
      },
      seconds);
  XDestroyWindow(x, probe);
  XSync(x, False);
  // Gone from the window manager's list too, so that it plays no part in what
  // a test then sees of focus and stacking.
  waitUntil([&] { return !isClientOf(x, probe); }, seconds);
  XCloseDisplay(x);
  return managed;
}

unsigned long XSession::clipboardOwner() const {
  Display* x = XOpenDisplay(display_.c_str());
  if (!x)
    return 0;
  const Window owner = XGetSelectionOwner(x, XInternAtom(x, "CLIPBOARD", False));
  XCloseDisplay(x);
  return owner;
}

ChildProcess* XSession::offerClipboard(const std::string& target, const std::string& bytes) {
  const unsigned long before = clipboardOwner();
  // -quiet keeps xclip in the foreground, where it can be ended by its pid.
  auto& xclip = spawn({"xclip", "-selection", "clipboard", "-i", "-quiet", "-t", target}, {},
                      /*pipeInput=*/true);
  if (!xclip.write(bytes))
    return nullptr;
  xclip.closeInput();
  const bool owns = waitUntil([&] {
    const unsigned long owner = clipboardOwner();
    return owner != 0 && owner != before;
  });
  return owns ? &xclip : nullptr;
}

std::optional<std::string> XSession::readClipboard(const std::string& target, double seconds) {
  return outputOf({"xclip", "-selection", "clipboard", "-o", "-t", target}, seconds);
}

}  // namespace lumivane::test_support
