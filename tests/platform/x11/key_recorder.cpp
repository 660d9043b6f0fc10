// A window that reports every key it receives, for tests that type into
// other applications.
//
//   key_recorder [--title TEXT] [--class NAME] [--geometry WxH+X+Y] [--no-pid]
//                [--second-window] [--owns-primary TEXT]
//                [--reads SELECTION [--read-delay MS]]
//
// Opens one top-level window titled TEXT (default "key recorder") with
// WM_CLASS NAME and, unless --no-pid, _NET_WM_PID set to its own process id;
// with --second-window another one like it, mapped after it. With
// --owns-primary, an unmapped window of its own owns PRIMARY and offers TEXT
// as UTF8_STRING, as a terminal does with its selection. With --reads, it
// pastes as an application would: at the press of v or Insert, it asks for
// SELECTION's TARGETS, waits MS (an application busy with something else)
// and then reads it as UTF8_STRING.
// Writes one line per event to standard output, flushed at once:
//   ready 0x<window> 0x<second> once the windows are mapped (0x0: no second)
//   press <keysym> <state>      a KeyPress
//   release <keysym> <state>    a KeyRelease
// (followed by " second" for the second window's keys)
//   read <text>                 what a read found ("read" alone: nothing)
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
#include <X11/keysym.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

struct Options {
  std::string title = "key recorder";
  std::string className = "KeyRecorder";
  std::string geometry = "400x300+0+0";
  bool setPid = true;
  bool secondWindow = false;
  std::optional<std::string> primaryText;
  std::string reads;
  int readDelay = 0;
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
    } else if (arg == "--owns-primary" && hasValue) {
      options.primaryText = argv[++i];
    } else if (arg == "--reads" && hasValue) {
      options.reads = argv[++i];
    } else if (arg == "--read-delay" && hasValue) {
      options.readDelay = std::atoi(argv[++i]);
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

// Serves the PRIMARY selection it owns: its text as UTF8_STRING, nothing
// else.
void answer(Display* display, const XSelectionRequestEvent& request, const std::string& text) {
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  XSelectionEvent notify{
      SelectionNotify, 0,    False,       display, request.requestor, request.selection,
      request.target,  None, request.time};
  if (request.target == utf8 && request.property != None) {
    XChangeProperty(display, request.requestor, request.property, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()),
                    static_cast<int>(text.size()));
    notify.property = request.property;
  }
  XSendEvent(display, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&notify));
  XFlush(display);
}

// Converts `selection` to `target` into a property of `window`; whether the
// owner put it there.
bool convert(Display* display, Window window, const std::string& selection, const char* target) {
  XConvertSelection(display, XInternAtom(display, selection.c_str(), False),
                    XInternAtom(display, target, False),
                    XInternAtom(display, "KEY_RECORDER_READ", False), window, CurrentTime);
  XEvent event;
  XIfEvent(
      display, &event,
      [](Display*, XEvent* e, XPointer) -> Bool { return e->type == SelectionNotify; }, nullptr);
  return event.xselection.property != None;
}

// Asks for `selection`'s targets at once, as a browser does when it is
// activated, reads its text `delay` ms later and prints what came.
void read(Display* display, Window window, const std::string& selection, int delay) {
  const Atom property = XInternAtom(display, "KEY_RECORDER_READ", False);
  convert(display, window, selection, "TARGETS");
  ::usleep(static_cast<useconds_t>(delay) * 1000);
  const bool converted = convert(display, window, selection, "UTF8_STRING");
  std::string text;
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (converted &&
      XGetWindowProperty(display, window, property, 0, 1 << 20, True, AnyPropertyType, &type,
                         &format, &count, &after, &data) == Success &&
      data) {
    text.assign(reinterpret_cast<const char*>(data), count);
    XFree(data);
  }
  std::printf("read%s%s\n", text.empty() ? "" : " ", text.c_str());
  std::fflush(stdout);
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

  if (options.primaryText) {
    const Window owner =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(display, XA_PRIMARY, owner, CurrentTime);
  }

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
      case KeyRelease: {
        report(event.xkey, event.xkey.window == second ? " second" : "");
        const KeySym keysym = XLookupKeysym(&event.xkey, 0);
        if (event.type == KeyPress && !options.reads.empty() &&
            (keysym == XK_v || keysym == XK_Insert)) {
          read(display, window, options.reads, options.readDelay);
        }
        break;
      }
      case SelectionRequest:
        answer(display, event.xselectionrequest, options.primaryText.value_or(""));
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
