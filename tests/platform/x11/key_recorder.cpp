// A window that reports every key it receives, for tests that type into
// other applications.
//
//   key_recorder [--title TEXT] [--class NAME] [--geometry WxH+X+Y] [--no-pid]
//                [--second-window]
//
// Opens one top-level window titled TEXT (default "key recorder") with
// WM_CLASS NAME and, unless --no-pid, _NET_WM_PID set to its own process id;
// with --second-window another one like it, mapped after it.
// Writes one line per event to standard output, flushed at once:
//   ready 0x<window> 0x<second> once the windows are mapped (0x0: no second)
//   press <keysym> <state>      a KeyPress
//   release <keysym> <state>    a KeyRelease
// (followed by " second" for the second window's keys)
//   mark <n>                    a _LUMIVANE_TEST_MARK client message carrying n
// <keysym> is the key's unshifted keysym name ("c", "Control_L"), <state> the
// modifiers held when it came, joined by '+' ("Control+Shift"), or "none".
// Runs until it is terminated or its display closes. The server delivers a
// client's events in order, so a mark sent to the window comes back after
// every key the server delivered to it before: a test knows it has seen them
// all.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Options {
  std::string title = "key recorder";
  std::string className = "KeyRecorder";
  std::string geometry = "400x300+0+0";
  bool setPid = true;
  bool secondWindow = false;
};

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--title" && hasValue) {
      options.title = argv[++i];
    } else if (arg == "--class" && hasValue) {
      options.className = argv[++i];
    } else if (arg == "--geometry" && hasValue) {
      options.geometry = argv[++i];
    } else if (arg == "--no-pid") {
      options.setPid = false;
    } else if (arg == "--second-window") {
      options.secondWindow = true;
    } else {
      std::fprintf(stderr, "key_recorder: unknown or incomplete option %s\n", arg.c_str());
      return false;
    }
  }
  return true;
}

std::string stateName(unsigned int state) {
  static constexpr const char* kNames[] = {"Shift", "Lock", "Control", "Mod1",
                                           "Mod2",  "Mod3", "Mod4",    "Mod5"};
  std::string names;
  for (unsigned int bit = 0; bit < 8; ++bit) {
    if (state & (1u << bit)) {
      if (!names.empty())
        names += '+';
      names += kNames[bit];
    }
  }
  return names.empty() ? "none" : names;
}

void report(XKeyEvent& event, const char* suffix) {
  const KeySym keysym = XLookupKeysym(&event, 0);
  const char* name = keysym == NoSymbol ? nullptr : XKeysymToString(keysym);
  std::printf("%s %s %s%s\n", event.type == KeyPress ? "press" : "release",
              name ? name : ("keycode-" + std::to_string(event.keycode)).c_str(),
              stateName(event.state).c_str(), suffix);
  std::fflush(stdout);
}

Window openWindow(Display* display, Options& options, const std::string& title) {
  int x = 0;
  int y = 0;
  unsigned int width = 400;
  unsigned int height = 300;
  XParseGeometry(options.geometry.c_str(), &x, &y, &width, &height);

  const Window window =
      XCreateSimpleWindow(display, DefaultRootWindow(display), x, y, width, height, 0, 0,
                          WhitePixel(display, DefaultScreen(display)));
  XSelectInput(display, window, KeyPressMask | KeyReleaseMask | StructureNotifyMask);

  XStoreName(display, window, title.c_str());
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()),
                  static_cast<int>(title.size()));
  std::string instance = options.className;
  XClassHint classHint{instance.data(), options.className.data()};
  XSetClassHint(display, window, &classHint);
  // Accepts focus from the window manager like an ordinary text window.
  XWMHints hints{};
  hints.flags = InputHint | StateHint;
  hints.input = True;
  hints.initial_state = NormalState;
  XSetWMHints(display, window, &hints);
  XSizeHints size{};
  size.flags = USPosition | USSize;
  size.x = x;
  size.y = y;
  size.width = static_cast<int>(width);
  size.height = static_cast<int>(height);
  XSetWMNormalHints(display, window, &size);
  if (options.setPid) {
    const long pid = static_cast<long>(::getpid());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    XChangeProperty(display, window, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(host),
                    static_cast<int>(std::strlen(host)));
  }
  XMapWindow(display, window);
  return window;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options))
    return 2;
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "key_recorder: cannot open the display\n");
    return 1;
  }
  const Atom mark = XInternAtom(display, "_LUMIVANE_TEST_MARK", False);
  const Window window = openWindow(display, options, options.title);
  const Window second =
      options.secondWindow ? openWindow(display, options, options.title + " 2") : 0;

  int unmapped = second ? 2 : 1;
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    switch (event.type) {
      case MapNotify:
        if (--unmapped == 0) {
          std::printf("ready 0x%lx 0x%lx\n", window, second);
          std::fflush(stdout);
        }
        break;
      case KeyPress:
      case KeyRelease:
        report(event.xkey, event.xkey.window == second ? " second" : "");
        break;
      case ClientMessage:
        if (event.xclient.message_type == mark && event.xclient.format == 32) {
          std::printf("mark %ld\n", event.xclient.data.l[0]);
          std::fflush(stdout);
        }
        break;
      default:
        break;
    }
  }
}
