// The host as a user runs it on a Wayland desktop: the built executable on
// one private headless sway for the whole program (its XWayland too), with
// the hot key's binding made in sway, native GTK and Qt editors, an editor
// on XWayland, a native terminal, and the clipboard as wl-clipboard sees it.
// The user's keyboard is a virtual keyboard of the test's own, made before
// any application starts (an application misses the keys of a keyboard that
// appeared after it): sway handles its chords as a real keyboard's.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "platform/gtk/key_symbols.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_keyboard_events.h"
#include "platform/wayland/wayland_pasteboard.h"
#include "tests/e2e/e2e_desktop.h"
#include "tests/support/sway_session.h"
#include "tests/support/wait_until.h"

namespace lumivane::e2e {
namespace {

using platform::CGEventFlags;
using platform::wayland::WaylandConnection;
using platform::wayland::WaylandKeyboardEvents;
using platform::wayland::WaylandPasteboard;
using test_support::SwaySession;
using test_support::waitUntil;

constexpr const char* kText = "The quick brown fox";
constexpr const char* kPasted = "jumps over the lazy dog";
constexpr CGEventFlags kControl = platform::kCGEventFlagMaskCommand;
constexpr CGEventFlags kShift = platform::kCGEventFlagMaskShift;
constexpr std::uint32_t kReturn = 0xff0d;  // XK_Return

// An application of the test, as sway knows it.
struct App {
  std::string name;
  std::vector<std::string> argv;
  Environment environment;
  // Whether it opens a file of its own, which holds kText.
  bool editsFile = true;
  // The modifiers of its keys that select all (A) and copy (C).
  CGEventFlags modifiers = kControl;
};

const App kNativeGtk{"native GTK", {"l3afpad"}, {{"GDK_BACKEND", "wayland"}}};
const App kNativeQt{"native Qt", {"featherpad"}, {{"QT_QPA_PLATFORM", "wayland"}}};
const App kXWayland{"XWayland GTK", {"l3afpad"}, {{"GDK_BACKEND", "x11"}}};
// Its profile copies with Control+Shift+C; Control+C would end `cat` and
// with it the terminal.
const App kTerminal{"native terminal",
                    {"xfce4-terminal", "--disable-server", "-x", "sh", "-c",
                     std::string("printf '") + kText + "'; exec cat"},
                    {{"GDK_BACKEND", "wayland"}},
                    false,
                    kControl | kShift};

class WaylandE2eTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A host that has ended must fail the test, not end it.
    ::signal(SIGPIPE, SIG_IGN);
    session_ = std::make_unique<SwaySession>();
    if (!session_->ready())
      return;
    std::string error;
    connection_ = WaylandConnection::open(session_->socketPath(), &error);
    if (!connection_)
      return;
    keyboard_ =
        std::make_unique<WaylandKeyboardEvents>(*connection_, WaylandKeyboardEvents::Options{});
    // Another application's clipboard, for the user's contents.
    other_ = WaylandPasteboard::open(connection_, {}, &error);
  }
  static void TearDownTestSuite() {
    other_.reset();
    keyboard_.reset();
    connection_.reset();
    session_.reset();
  }

  void SetUp() override {
    ASSERT_TRUE(session_->ready()) << session_->failure();
    ASSERT_TRUE(other_ && keyboard_ && keyboard_->ready());
  }

  // The host ends cleanly; a failing test shows what it printed.
  void TearDown() override {
    if (host_ && host_->process().running()) {
      EXPECT_EQ(host_->terminate(), 0) << "the host did not end cleanly on SIGTERM";
    }
    if (host_ && HasFailure()) {
      host_->readAvailable();
      for (const auto& event : host_->events())
        std::cerr << event.dump() << "\n";
      std::cerr << host_->standardError();
    }
  }

  // The host, as a user starts it in a sway session.
  HostProcess* startHost() {
    auto& process = session_->spawn(
        {Desktop::hostExecutable().string(), "--desktop", "wayland", "--interface", "console"}, {},
        /*pipeInput=*/true, /*pipeOutput=*/true);
    host_ = std::make_unique<HostProcess>(process);
    return host_->waitForEvent("launched") ? host_.get() : nullptr;
  }

  // The user types the key of `keysym` with `flags` on their keyboard.
  static void press(std::uint32_t keysym, CGEventFlags flags) {
    const auto code = platform::gtk::virtualKeyForKeysym(keysym);
    ASSERT_TRUE(code);
    for (const bool down : {true, false}) {
      auto* event = keyboard_->CGEventCreateKeyboardEvent(nullptr, *code, down);
      keyboard_->CGEventSetFlags(event, flags);
      keyboard_->CGEventPost(platform::CGEventTapLocation::hidEventTap, event);
      keyboard_->CFRelease(event);
    }
  }

  // Brings the window of process `pid` forward, once it has one: sway
  // refuses while no window matches.
  static bool focus(pid_t pid) {
    return waitUntil(
        [&] {
          return session_->message("command", "[pid=" + std::to_string(pid) + "] focus")
              .has_value();
        },
        kBound);
  }

  // The user selects all the text of `app`, in front, and copies it: true
  // once the clipboard holds `expected` (a terminal's copy may end in
  // blanks).
  static bool selectAllAndCopy(const App& app, const std::string& expected) {
    // Again until it holds: a terminal may not show its text yet.
    return waitUntil(
        [&] {
          press('a', app.modifiers);
          press('c', app.modifiers);
          return trimmed(read("text/plain")) == expected;
        },
        kBound);
  }

  // Starts `app`, brings it forward and selects all its text (kText).
  ChildProcess* startWithSelection(const App& app) {
    auto argv = app.argv;
    if (app.editsFile) {
      argv.push_back((session_->directory() / (std::to_string(++files_) + ".txt")).string());
      std::ofstream(argv.back()) << kText;
    }
    auto& process = session_->spawn(argv, app.environment);
    return focus(process.pid()) && selectAllAndCopy(app, kText) ? &process : nullptr;
  }

  // A program run to its end on the session: its output; absent when it
  // failed.
  static std::optional<std::string> run(std::vector<std::string> argv) {
    ChildProcess::Options options;
    options.argv = std::move(argv);
    options.environment = session_->environment();
    options.pipeOutput = true;
    ChildProcess process(std::move(options));
    auto output = process.readAll(kBound);
    return process.waitForExit(kBound) == 0 ? output : std::nullopt;
  }
  // What another client reads from the clipboard.
  static std::optional<std::string> read(const std::string& type) {
    return run({"wl-paste", "--no-newline", "--type", type});
  }

  static std::string trimmed(const std::optional<std::string>& text) {
    std::string t = text.value_or("");
    t.erase(t.find_last_not_of(" \n") + 1);
    return t;
  }

  // The user's clipboard: text, a web page's markup and an image, from
  // another application.
  static const std::vector<ClipboardTarget>& userClipboard() {
    static const std::vector<ClipboardTarget> clipboard = {
        {"text/plain", "the user's own words"},
        {"text/html", "<p>the user's <b>own</b> words</p>"},
        {"image/png", noise(std::size_t{1} << 20, 7)}};
    return clipboard;
  }
  static bool offerUserClipboard() {
    auto item = other_->makeItem();
    for (const auto& [type, bytes] : userClipboard())
      item->setDataForType(platform::Bytes(bytes.begin(), bytes.end()), type);
    other_->clearContents();
    return other_->writeObjects({item}) && clipboardHoldsUsers();
  }
  // Every type of the user's clipboard, byte for byte, and no other, as
  // another client reads them (a reader may see the offer before for a
  // moment).
  static bool clipboardHoldsUsers() {
    return waitUntil(
        [] {
          std::set<std::string> expected, listed;
          for (const auto& target : userClipboard())
            expected.insert(target.target);
          std::istringstream types(run({"wl-paste", "--list-types"}).value_or(""));
          for (std::string type; std::getline(types, type);)
            listed.insert(type);
          return listed == expected &&
                 std::all_of(userClipboard().begin(), userClipboard().end(),
                             [](const auto& t) { return read(t.target) == t.bytes; });
        },
        kBound);
  }

  // The user presses the host's hot key; the selection the interface is
  // given.
  std::optional<std::string> captureWithHotKey() {
    const auto pressed = std::chrono::steady_clock::now();
    press('t', kControl | kShift);
    const auto selection = host_->waitForEvent("updateSelection");
    if (!selection)
      return std::nullopt;
    std::cout << "hot key to updateSelection: "
              << std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                           pressed)
                     .count()
              << " ms\n";
    return selection->value("text", "");
  }

  // With the user's clipboard offered, the hot key delivers kText, the
  // user's clipboard is back, and "pasteText" takes kPasted.
  void captureThenPaste() {
    ASSERT_TRUE(offerUserClipboard());
    EXPECT_EQ(captureWithHotKey(), kText);
    EXPECT_TRUE(clipboardHoldsUsers());
    const auto reply = host_->call("selection", "pasteText", "\"" + std::string(kPasted) + "\"");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->value("result", false), true) << reply->dump();
  }

  static inline std::unique_ptr<SwaySession> session_;
  static inline std::shared_ptr<WaylandConnection> connection_;
  static inline std::unique_ptr<WaylandKeyboardEvents> keyboard_;
  static inline std::unique_ptr<WaylandPasteboard> other_;
  static inline int files_ = 0;
  std::unique_ptr<HostProcess> host_;
};

// In native GTK and Qt editors and an editor on XWayland: the hot key, typed
// by the user and bound in sway, delivers the selection, and "pasteText"
// replaces it; the user's clipboard is back, every type, after each.
TEST_F(WaylandE2eTest, TheHotKeyCapturesAndPasteTextReplacesInEachEditor) {
  ASSERT_TRUE(startHost());
  for (const App& app : {kNativeGtk, kNativeQt, kXWayland}) {
    SCOPED_TRACE(app.name);
    ChildProcess* editor = startWithSelection(app);
    ASSERT_TRUE(editor);
    ASSERT_NO_FATAL_FAILURE(captureThenPaste());
    EXPECT_TRUE(clipboardHoldsUsers());
    // The editor holds the pasted text alone.
    EXPECT_TRUE(selectAllAndCopy(app, kPasted));
    editor->terminate();
  }
}

// A terminal copies with the keys of its profile, never Control+C.
TEST_F(WaylandE2eTest, ATerminalCopiesWithTheKeysOfItsProfile) {
  ASSERT_TRUE(startHost());
  ChildProcess* terminal = startWithSelection(kTerminal);
  ASSERT_TRUE(terminal);
  ASSERT_TRUE(offerUserClipboard());
  EXPECT_EQ(trimmed(captureWithHotKey()), kText);
  EXPECT_TRUE(clipboardHoldsUsers());
  EXPECT_TRUE(terminal->running());
  // The panel, on the screen since the start, took the keyboard at the hot
  // key and has it back after the copy.
  const std::string panel = "[pid=" + std::to_string(host_->pid()) + " con_id=__focused__] nop";
  EXPECT_TRUE(waitUntil([&] { return session_->message("command", panel).has_value(); }, kBound));
  terminal->terminate();
}

// An application whose profile copies from the primary selection: the text
// it selected since the user brought it forward is captured, no key pressed.
TEST_F(WaylandE2eTest, AProfileCopiesFromThePrimarySelection) {
  const auto profiles = session_->configHome() / "lumivane" / "applications.conf";
  std::filesystem::create_directories(profiles.parent_path());
  std::ofstream(profiles) << "[Editor]\nmatch=l3afpad\ncopy=primary\npaste=Control+v\n";
  ASSERT_TRUE(startHost());
  std::filesystem::remove(profiles);
  ChildProcess* editor = startWithSelection(kNativeGtk);
  ASSERT_TRUE(editor);
  ASSERT_TRUE(offerUserClipboard());
  EXPECT_EQ(captureWithHotKey(), kText);
  EXPECT_TRUE(clipboardHoldsUsers());
  editor->terminate();
}

// xterm, on XWayland, keeps its selection in the primary selection and
// pastes it with Shift+Insert: the host captures what the user selected
// there without a key, and pastes through the primary selection it lends for
// the moment. The terminal's program gets the text and nothing else, and the
// user's primary selection and clipboard are back after both.
TEST_F(WaylandE2eTest, XtermCopiesAndPastesThroughThePrimarySelection) {
  ASSERT_TRUE(startHost());
  const auto received = session_->directory() / "xterm-received";
  // At the user's Return the program selects kText as the user would with
  // the mouse (xterm owns PRIMARY through its selection escape), then takes
  // every byte typed into a file.
  const std::string program = std::string("read line; printf '\\033]52;p;%s\\007' $(printf '") +
                              kText + "' | base64); stty raw -echo; exec cat > " +
                              received.string();
  auto& xterm = session_->spawn(
      {"xterm", "-xrm", "XTerm*allowWindowOps: true", "-e", "sh", "-c", program}, {});
  ASSERT_TRUE(focus(xterm.pid()));
  auto primary = [] { return run({"wl-paste", "--primary", "--no-newline"}); };
  // Again should XWayland have given xterm the keyboard too late for it.
  ASSERT_TRUE(waitUntil(
      [&] {
        press(kReturn, 0);
        return waitUntil([&] { return primary() == kText; }, 5);
      },
      kBound));
  ASSERT_NO_FATAL_FAILURE(captureThenPaste());
  // A Return typed again above may come first.
  auto typed = [&] {
    std::ostringstream bytes;
    bytes << std::ifstream(received).rdbuf();
    std::string text = bytes.str();
    text.erase(0, text.find_first_not_of("\r\n"));
    return text;
  };
  EXPECT_TRUE(waitUntil([&] { return typed() == kPasted; }, kBound)) << typed();
  EXPECT_TRUE(clipboardHoldsUsers());
  EXPECT_EQ(primary(), kText);
  EXPECT_TRUE(xterm.running());
  xterm.terminate();
}

// Quitting, and SIGTERM as at logout, leave the user's clipboard in place,
// which the host held (it put it back after a capture).
TEST_F(WaylandE2eTest, QuitAndSigtermLeaveTheClipboardInPlace) {
  ChildProcess* editor = startWithSelection(kNativeGtk);
  ASSERT_TRUE(editor);
  for (const bool quit : {true, false}) {
    SCOPED_TRACE(quit ? "quit" : "SIGTERM");
    ASSERT_TRUE(startHost());
    ASSERT_TRUE(offerUserClipboard());
    ASSERT_TRUE(focus(editor->pid()));
    EXPECT_EQ(captureWithHotKey(), kText);
    ASSERT_TRUE(clipboardHoldsUsers());
    EXPECT_EQ(quit ? host_->quit() : host_->terminate(), 0);
    EXPECT_TRUE(clipboardHoldsUsers());
  }
}

}  // namespace
}  // namespace lumivane::e2e
