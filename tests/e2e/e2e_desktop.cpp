#include "tests/e2e/e2e_desktop.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/support/wait_until.h"

namespace lumivane::e2e {
namespace {

using platform::x11::XcbReply;
using test_support::waitUntil;
using Clock = std::chrono::steady_clock;

double secondsLeft(Clock::time_point deadline) {
  return std::chrono::duration<double>(deadline - Clock::now()).count();
}

Clock::time_point deadlineAfter(double seconds) {
  return Clock::now() +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A program run to its end on the session, with its output.
struct Ran {
  std::optional<int> status;
  std::string output;
};

Ran run(XSession& session, std::vector<std::string> argv, double seconds) {
  ChildProcess::Options options;
  options.argv = std::move(argv);
  options.environment = session.environment();
  options.pipeOutput = true;
  ChildProcess process(std::move(options));
  Ran ran;
  if (auto output = process.readAll(seconds))
    ran.output = std::move(*output);
  ran.status = process.waitForExit(seconds);
  return ran;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty())
      result.push_back(line);
  }
  return result;
}

}  // namespace

// HostProcess -----------------------------------------------------------------

HostProcess::HostProcess(XSession& session,
                         const std::filesystem::path& executable,
                         Environment extra,
                         Interface interface)
    : process_(session.spawn({executable.string(), "--desktop", "x11", "--interface",
                              interface == Interface::console ? "console" : "gtk"},
                             std::move(extra),
                             /*pipeInput=*/true,
                             /*pipeOutput=*/true)) {}

std::string HostProcess::standardError() const {
  return readFile(process_.logFile());
}

bool HostProcess::send(const std::string& statement) {
  ++lines_;
  return process_.write(statement + "\n");
}

bool HostProcess::readOne(double seconds) {
  auto line = process_.readLine(seconds);
  if (!line)
    return false;
  Json event = Json::parse(*line, nullptr, /*allow_exceptions=*/false);
  if (event.is_discarded() || !event.is_object())
    event = Json{{"event", "unreadable"}, {"line", *line}};
  events_.push_back(std::move(event));
  taken_.push_back(false);
  return true;
}

void HostProcess::readAvailable() {
  while (readOne(0)) {
  }
}

std::optional<Json> HostProcess::waitFor(const Match& match, double seconds) {
  const auto deadline = deadlineAfter(seconds);
  std::size_t checked = 0;
  for (;;) {
    for (; checked < events_.size(); ++checked) {
      if (!taken_[checked] && match(events_[checked])) {
        taken_[checked] = true;
        return events_[checked];
      }
    }
    // Taken events are passed over for good; the rest are looked at again
    // only when a new line comes.
    const double left = secondsLeft(deadline);
    if (left <= 0 || !readOne(left)) {
      return std::nullopt;
    }
  }
}

std::optional<Json> HostProcess::waitForEvent(const std::string& name, double seconds) {
  return waitFor([&](const Json& event) { return event.value("event", "") == name; }, seconds);
}

std::optional<Json> HostProcess::call(const std::string& channel,
                                      const std::string& method,
                                      const std::string& arguments,
                                      double seconds) {
  const auto deadline = deadlineAfter(seconds);
  if (!send("call " + channel + " " + method + (arguments.empty() ? "" : " " + arguments)))
    return std::nullopt;
  const int line = lines_;
  if (!waitFor(
          [&](const Json& event) {
            return event.value("event", "") == "step" && event.value("line", 0) == line;
          },
          secondsLeft(deadline))) {
    return std::nullopt;
  }
  // The console answers each call before it runs the next line.
  return waitFor(
      [&](const Json& event) {
        return event.value("event", "") == "reply" && event.value("method", "") == method;
      },
      secondsLeft(deadline));
}

std::optional<int> HostProcess::quit(double seconds) {
  if (!send("quit"))
    return process_.waitForExit(0);
  return process_.waitForExit(seconds);
}

std::optional<int> HostProcess::terminate(double seconds) {
  process_.signal(SIGTERM);
  return process_.waitForExit(seconds);
}

// Editors ----------------------------------------------------------------------

const EditorKind& l3afpad() {
  static const EditorKind kind{"l3afpad", {"l3afpad"}, "l3afpad", {}};
  return kind;
}

const EditorKind& featherpad() {
  static const EditorKind kind{
      "featherpad", {"featherpad"}, "featherpad", {{"QT_QPA_PLATFORM", "xcb"}}};
  return kind;
}

std::vector<EditorKind> editors() {
  return {l3afpad(), featherpad()};
}

Editor::Editor(Desktop& desktop, const EditorKind& kind, const std::string& text)
    : desktop_(desktop),
      kind_(kind),
      file_(desktop.session().directory() /
            (kind.name + "-" + std::to_string(++desktop.files_) + kind.extension)),
      process_([&]() -> ChildProcess& {
        std::ofstream(file_, std::ios::binary) << text;
        auto argv = kind.argv;
        argv.push_back(file_.string());
        return desktop.session().spawn(argv, kind.environment);
      }()) {
  // The visible window of this process: a program may make others (a client
  // leader) that are never shown and cannot be brought forward.
  waitUntil(
      [&] {
        const Ran found =
            run(desktop_.session(),
                {"xdotool", "search", "--onlyvisible", "--class", kind_.windowClass}, kBound);
        for (const auto& id : lines(found.output)) {
          const auto window = static_cast<xcb_window_t>(std::stoul(id));
          if (kind_.windowOfAnotherProcess || desktop_.windowPid(window) == process_.pid()) {
            window_ = window;
            return true;
          }
        }
        return false;
      },
      kBound);
}

bool Editor::activate() {
  if (desktop_.session().hasWindowManager())
    return desktop_.user().activate(window_);
  // Without a window manager the focus is set directly, as a user's click
  // would have one set.
  return desktop_.xdotool({"windowfocus", "--sync", std::to_string(window_)});
}

bool Editor::type(const std::string& text) {
  return activate() && desktop_.xdotool({"type", "--delay", "20", "--", text});
}

bool Editor::key(const std::string& keys) {
  return activate() && desktop_.xdotool({"key", "--clearmodifiers", keys});
}

bool Editor::typeAndSelectAll(const std::string& text) {
  return type(text) && key("ctrl+a");
}

std::string Editor::savedTextOnceItIs(const std::string& expected) {
  // Some editors end the last line of a file they save; that line break is
  // the file's, not the text's.
  auto text = [&] {
    std::string saved = readFile(file_);
    if (!saved.empty() && saved.back() == '\n' && (expected.empty() || expected.back() != '\n'))
      saved.pop_back();
    return saved;
  };
  // A key can be lost while the focus moves; pressing it again does no harm.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (key("ctrl+s") && waitUntil([&] { return text() == expected; }, 10))
      return expected;
  }
  return text();
}

// Desktop ------------------------------------------------------------------------

bool isMetaTarget(const std::string& target) {
  return target == "TARGETS" || target == "TIMESTAMP" || target == "MULTIPLE" ||
         target == "SAVE_TARGETS" || target == "DELETE" || target == "INSERT_SELECTION" ||
         target == "INSERT_PROPERTY" || target == "LENGTH";
}

Desktop::Desktop(XSession::Options options)
    : session_(options), user_(session_.ready() ? session_.display() : std::string("-")) {}

std::string Desktop::failure() const {
  if (!session_.ready())
    return session_.failure();
  return user_.ready() ? std::string() : "cannot connect to the display";
}

std::filesystem::path Desktop::hostExecutable() {
  return LUMIVANE_EXECUTABLE;
}

HostProcess* Desktop::startHost(Environment extra, Interface interface) {
  // In a ThreadSanitizer build, a data race the host's threads run into ends
  // it at once, with its report on standard error, rather than only when it
  // exits. GLib, GTK and Xlib are not built with the sanitizer: the calls
  // they make (their own locks, their allocator) are left out, since their
  // synchronization is invisible to it; everything of the host's is checked.
  const char* sanitizer = std::getenv("TSAN_OPTIONS");
  extra.emplace("TSAN_OPTIONS", std::string(sanitizer ? sanitizer : "") +
                                    " halt_on_error=1 exitcode=66 second_deadlock_stack=1"
                                    " ignore_noninstrumented_modules=1");
  host_ = std::make_unique<HostProcess>(session_, hostExecutable(), std::move(extra), interface);
  // The host shows its panel once it has launched.
  const bool launched = interface == Interface::console
                            ? host_->waitForEvent("launched").has_value()
                            : waitUntil(
                                  [&] {
                                    const xcb_window_t panel = hostPanel();
                                    return panel != XCB_WINDOW_NONE && viewable(panel);
                                  },
                                  kBound);
  // The panel the host shows at launch takes the keyboard; until it has, the
  // window manager may still hand it the focus a test moves elsewhere.
  if (!launched || (session_.hasWindowManager() &&
                    !waitUntil([&] { return activeWindowBelongsTo(host_->pid()); }, kBound)))
    return nullptr;
  return host_.get();
}

Editor* Desktop::startEditor(const EditorKind& kind, const std::string& text) {
  editors_.push_back(std::make_unique<Editor>(*this, kind, text));
  return editors_.back()->ready() ? editors_.back().get() : nullptr;
}

bool Desktop::xdotool(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "xdotool");
  return run(session_, std::move(arguments), kBound).status == 0;
}

std::optional<std::string> Desktop::output(std::vector<std::string> argv, double seconds) {
  Ran ran = run(session_, std::move(argv), seconds);
  if (ran.status != 0)
    return std::nullopt;
  return std::move(ran.output);
}

std::optional<std::vector<std::string>> Desktop::clipboardTargets(const std::string& selection) {
  auto list = readClipboard("TARGETS", kBound, selection);
  if (!list)
    return std::nullopt;
  std::vector<std::string> targets;
  for (auto& name : lines(*list)) {
    if (!isMetaTarget(name))
      targets.push_back(std::move(name));
  }
  std::sort(targets.begin(), targets.end());
  return targets;
}

std::optional<std::string> Desktop::readClipboard(const std::string& target,
                                                  double seconds,
                                                  const std::string& selection) {
  return output({"xclip", "-selection", selection, "-o", "-t", target}, seconds);
}

std::vector<ClipboardTarget> Desktop::clipboardContents(const std::string& selection) {
  std::vector<ClipboardTarget> contents;
  for (const auto& target : clipboardTargets(selection).value_or(std::vector<std::string>{})) {
    if (auto bytes = readClipboard(target, kBound, selection))
      contents.push_back({target, std::move(*bytes)});
  }
  return contents;
}

std::map<std::string, std::string> Desktop::clipboardTypes() {
  std::map<std::string, std::string> types;
  test_support::RawClient reader(session_.display());
  for (const auto& target : clipboardTargets().value_or(std::vector<std::string>{})) {
    if (auto value = reader.read(target))
      types[target] = reader.name(value->type);
  }
  return types;
}

bool Desktop::clipboardHolds(const std::vector<ClipboardTarget>& expected, std::string* why) {
  std::vector<std::string> names;
  for (const auto& target : expected)
    names.push_back(target.target);
  std::sort(names.begin(), names.end());
  const auto targets = clipboardTargets();
  if (targets != names) {
    std::string listed;
    for (const auto& name : targets.value_or(std::vector<std::string>{}))
      listed += " " + name;
    *why = targets ? "the clipboard lists" + listed : "the clipboard lists nothing";
    return false;
  }
  for (const auto& target : expected) {
    const auto bytes = readClipboard(target.target);
    if (bytes != target.bytes) {
      *why = target.target + ": " + (bytes ? difference(target.bytes, *bytes) : "not readable");
      return false;
    }
  }
  why->clear();
  return true;
}

bool Desktop::waitUntilClipboardHolds(const std::vector<ClipboardTarget>& expected,
                                      std::string* why,
                                      double seconds) {
  return waitUntil([&] { return clipboardHolds(expected, why); }, seconds);
}

xcb_window_t Desktop::clipboardOwner() {
  return static_cast<xcb_window_t>(session_.clipboardOwner());
}

bool Desktop::waitUntilClipboardOwnerIsNot(xcb_window_t owner, double seconds) {
  return waitUntil([&] { return clipboardOwner() != owner; }, seconds);
}

RawOwner* Desktop::offerClipboard(const std::vector<ClipboardTarget>& targets,
                                  RawOwner::Behaviour behaviour) {
  std::vector<RawTarget> raw;
  for (const auto& target : targets)
    raw.push_back({target.target, target.target, 8, target.bytes});
  owners_.push_back(std::make_unique<RawOwner>(session_.display(), std::move(raw), behaviour));
  return owners_.back()->owns() ? owners_.back().get() : nullptr;
}

std::optional<pid_t> Desktop::windowPid(xcb_window_t window) {
  auto& x = user_.connection();
  auto value = x.getProperty(window, x.atom("_NET_WM_PID"), false, XCB_ATOM_CARDINAL);
  if (!value || value->values32().empty())
    return std::nullopt;
  return static_cast<pid_t>(value->values32()[0]);
}

namespace {

// Calls `visit` for `window` and every window below it, with whether one of
// its ancestors (or itself) passed `marks`.
void walk(platform::x11::XcbConnection& x,
          xcb_window_t window,
          bool marked,
          const std::function<bool(xcb_window_t)>& marks,
          const std::function<void(xcb_window_t, bool)>& visit) {
  marked = marked || marks(window);
  visit(window, marked);
  xcb_connection_t* c = x.get();
  XcbReply<xcb_query_tree_reply_t> tree(
      xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
  if (!tree)
    return;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  const std::vector<xcb_window_t> list(children,
                                       children + xcb_query_tree_children_length(tree.get()));
  for (xcb_window_t child : list)
    walk(x, child, marked, marks, visit);
}

bool hasWindowType(platform::x11::XcbConnection& x, xcb_window_t window, const std::string& type) {
  auto value = x.getProperty(window, x.atom("_NET_WM_WINDOW_TYPE"), false, XCB_ATOM_ATOM);
  if (!value)
    return false;
  const auto wanted = x.atom(type);
  for (auto atom : value->values32()) {
    if (atom == wanted)
      return true;
  }
  return false;
}

bool isTrayWindow(platform::x11::XcbConnection& x, xcb_window_t window) {
  auto value = x.getProperty(window, XCB_ATOM_WM_CLASS, false, XCB_ATOM_STRING);
  if (!value)
    return false;
  std::string classes(value->data.begin(), value->data.end());
  std::transform(classes.begin(), classes.end(), classes.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return classes.find("trayer") != std::string::npos;
}

}  // namespace

std::vector<xcb_window_t> Desktop::hostWindows() {
  std::vector<xcb_window_t> found;
  if (!host_)
    return found;
  auto& x = user_.connection();
  walk(
      x, x.root(), false, [](xcb_window_t) { return false; },
      [&](xcb_window_t window, bool) {
        if (windowPid(window) == host_->pid())
          found.push_back(window);
      });
  return found;
}

xcb_window_t Desktop::hostPanel() {
  auto& x = user_.connection();
  for (xcb_window_t window : hostWindows()) {
    if (hasWindowType(x, window, "_NET_WM_WINDOW_TYPE_UTILITY"))
      return window;
  }
  return XCB_WINDOW_NONE;
}

xcb_window_t Desktop::hostMenu() {
  auto& x = user_.connection();
  for (xcb_window_t window : hostWindows()) {
    if (hasWindowType(x, window, "_NET_WM_WINDOW_TYPE_POPUP_MENU") && viewable(window))
      return window;
  }
  return XCB_WINDOW_NONE;
}

xcb_window_t Desktop::trayIcon() {
  if (!host_)
    return XCB_WINDOW_NONE;
  auto& x = user_.connection();
  xcb_window_t icon = XCB_WINDOW_NONE;
  walk(
      x, x.root(), false, [&](xcb_window_t window) { return isTrayWindow(x, window); },
      [&](xcb_window_t window, bool inTray) {
        if (inTray && icon == XCB_WINDOW_NONE && windowPid(window) == host_->pid() &&
            viewable(window)) {
          icon = window;
        }
      });
  return icon;
}

bool Desktop::viewable(xcb_window_t window) {
  xcb_connection_t* c = user_.connection().get();
  XcbReply<xcb_get_window_attributes_reply_t> attributes(
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
  return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

bool Desktop::screenshot(xcb_window_t window, const std::filesystem::path& file) {
  std::error_code ignored;
  std::filesystem::create_directories(file.parent_path(), ignored);
  return run(session_, {"import", "-window", std::to_string(window), "png:" + file.string()},
             kBound)
             .status == 0;
}

bool Desktop::activeWindowBelongsTo(pid_t pid) {
  const xcb_window_t active = user_.activeWindow();
  return active != XCB_WINDOW_NONE && windowPid(active) == pid;
}

bool Desktop::startTray() {
  session_.spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                  "--height", "24", "--SetDockType", "true", "--transparent", "false"});
  return waitUntil(
      [&] {
        auto& x = user_.connection();
        xcb_connection_t* c = x.get();
        XcbReply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
            c, xcb_get_selection_owner(c, x.atom("_NET_SYSTEM_TRAY_S0")), nullptr));
        return owner && owner->owner != XCB_WINDOW_NONE;
      },
      kBound);
}

bool Desktop::click(xcb_window_t window, int button, int times) {
  xcb_connection_t* c = user_.connection().get();
  auto pointerIsOver = [&] {
    xcb_window_t current = user_.connection().root();
    for (int depth = 0; depth < 32 && current != XCB_WINDOW_NONE; ++depth) {
      if (current == window)
        return true;
      XcbReply<xcb_query_pointer_reply_t> pointer(
          xcb_query_pointer_reply(c, xcb_query_pointer(c, current), nullptr));
      if (!pointer)
        return false;
      current = pointer->child;
    }
    return false;
  };
  // The middle, else a point another window (the host's panel) leaves free.
  for (int attempt = 0; attempt < 20; ++attempt) {
    XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (!geometry)
      return false;
    const int eighths = attempt % 2 ? 1 : 4;
    if (!xdotool({"mousemove", "--window", std::to_string(window),
                  std::to_string(geometry->width * eighths / 8),
                  std::to_string(geometry->height * eighths / 8)})) {
      return false;
    }
    if (waitUntil(pointerIsOver, 1))
      return xdotool(
          {"click", "--repeat", std::to_string(times), "--delay", "80", std::to_string(button)});
  }
  return false;
}

// Helpers -------------------------------------------------------------------------

std::string difference(const std::string& expected, const std::string& actual) {
  if (expected == actual)
    return "the same";
  const auto mismatch =
      std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  std::ostringstream out;
  out << "expected " << expected.size() << " bytes, got " << actual.size()
      << "; they differ from byte " << (mismatch.first - expected.begin());
  if (actual.size() < 200)
    out << " (got \"" << actual << "\")";
  return out.str();
}

}  // namespace lumivane::e2e
