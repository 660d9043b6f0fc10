#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/platform/x11/raw_x_client.h"
#include "tests/platform/x11/x_test_user.h"
#include "tests/support/x_session.h"

// The host as a user runs it, on a private X desktop: `lumivane --desktop x11
// --interface console` started with the session's environment, the editors
// the user works in, the keyboard, the tray, and the clipboard as every other
// client sees it. Shared by the end-to-end tests and their benchmark, so it
// asserts nothing itself: every step says whether it worked.
namespace lumivane::e2e {

using Json = nlohmann::json;
using test_support::ChildProcess;
using test_support::Environment;
using test_support::RawOwner;
using test_support::RawTarget;
using test_support::XSession;
using test_support::XTestUser;

// Generous bounds: a loaded machine, or a sanitizer build, is many times
// slower than an idle one, and a bound that is hit fails the test.
inline constexpr double kBound = 60;

// The interface the host runs: the console the tests speak through, or
// Lumivane's own in the panel, as a user sees it (its console then says
// nothing).
enum class Interface { console, panel };

// The host's process and the interface's side of its console.
class HostProcess {
 public:
  HostProcess(XSession& session,
              const std::filesystem::path& executable,
              Environment extra,
              Interface interface = Interface::console);
  // The host already started as `process`, on whatever desktop.
  explicit HostProcess(ChildProcess& process) : process_(process) {}

  pid_t pid() const { return process_.pid(); }
  ChildProcess& process() { return process_; }
  // Everything the host wrote on its standard error.
  std::string standardError() const;

  // One statement, as a line on the console.
  bool send(const std::string& statement);
  // The first event not yet taken that `match` accepts, reading more lines
  // for at most `seconds`; it is then taken, so the next wait finds the next
  // one. Absent when none came (or the host's output ended).
  using Match = std::function<bool(const Json&)>;
  std::optional<Json> waitFor(const Match& match, double seconds = kBound);
  std::optional<Json> waitForEvent(const std::string& name, double seconds = kBound);
  // The interface calls METHOD on a channel with `arguments` (JSON text,
  // empty for none): the host's reply event, {"result"} or {"error"}.
  std::optional<Json> call(const std::string& channel,
                           const std::string& method,
                           const std::string& arguments = "",
                           double seconds = kBound);
  // Every event read so far, taken or not.
  const std::vector<Json>& events() const { return events_; }
  // Reads what the host has printed by now, without waiting.
  void readAvailable();

  // Ends the host as a user does: `quit` on the console, or SIGTERM as at
  // logout. Its exit status; absent when it did not exit in time.
  std::optional<int> quit(double seconds = kBound);
  std::optional<int> terminate(double seconds = kBound);

 private:
  bool readOne(double seconds);

  ChildProcess& process_;
  std::vector<Json> events_;
  std::vector<bool> taken_;
  int lines_ = 0;
};

// A text editor the user works in, editing a file of its own.
struct EditorKind {
  std::string name;
  std::vector<std::string> argv;
  // What `xdotool search --class` finds its windows by.
  std::string windowClass;
  Environment environment;
  // The file it opens is named with this ending (".html" for a browser).
  std::string extension = ".txt";
  // Its window may belong to another process than the one started (a
  // launcher that starts the application and waits, as LibreOffice's does).
  bool windowOfAnotherProcess = false;
};
// Test names and messages show editors by name.
inline void PrintTo(const EditorKind& kind, std::ostream* out) {
  *out << kind.name;
}
const EditorKind& l3afpad();     // GTK 3
const EditorKind& featherpad();  // Qt 5
std::vector<EditorKind> editors();

class Desktop;

class Editor {
 public:
  // Opens a file of its own holding `text`: text typed with xdotool can lose
  // characters beyond the keyboard's, which it types by remapping a key.
  Editor(Desktop& desktop, const EditorKind& kind, const std::string& text);

  bool ready() const { return window_ != XCB_WINDOW_NONE; }
  const EditorKind& kind() const { return kind_; }
  pid_t pid() const { return process_.pid(); }
  xcb_window_t window() const { return window_; }
  const std::filesystem::path& file() const { return file_; }

  // Brings the editor's window to the front with the keyboard, through the
  // window manager when there is one.
  bool activate();
  // Types into it (in front first), or presses keys ("ctrl+a").
  bool type(const std::string& text);
  bool key(const std::string& keys);
  // Types `text` and selects all of the editor's text.
  bool typeAndSelectAll(const std::string& text);
  // What the editor holds, read from its file after saving it with
  // Control+S; the clipboard is not touched. Waits until the file holds
  // `expected` (with or without a final line break), and gives what it holds
  // at the end either way.
  std::string savedTextOnceItIs(const std::string& expected);

 private:
  Desktop& desktop_;
  EditorKind kind_;
  std::filesystem::path file_;
  ChildProcess& process_;
  xcb_window_t window_ = XCB_WINDOW_NONE;
};

// One target of a clipboard as another client reads it.
struct ClipboardTarget {
  std::string target;
  std::string bytes;
  bool operator==(const ClipboardTarget&) const = default;
};
inline void PrintTo(const ClipboardTarget& target, std::ostream* out) {
  *out << target.target << " (" << target.bytes.size() << " bytes: \"" << target.bytes.substr(0, 40)
       << "\")";
}
// Targets that describe a clipboard rather than hold its contents.
bool isMetaTarget(const std::string& target);

// A private desktop with everything the end-to-end tests and the benchmark
// use on it.
class Desktop {
 public:
  explicit Desktop(XSession::Options options = {});

  bool ready() const { return session_.ready() && user_.ready(); }
  std::string failure() const;
  XSession& session() { return session_; }
  XTestUser& user() { return user_; }
  const std::string& display() const { return session_.display(); }

  // The host, started as a user starts it; null when it does not say it has
  // launched (with its own interface: when its panel does not show). `extra`
  // adds to the session's environment.
  HostProcess* startHost(Environment extra = {}, Interface interface = Interface::console);
  HostProcess* host() { return host_.get(); }
  // The built host executable.
  static std::filesystem::path hostExecutable();

  Editor* startEditor(const EditorKind& kind, const std::string& text = "");

  // Runs xdotool with `arguments` and waits for it; true when it succeeded.
  bool xdotool(std::vector<std::string> arguments);
  // Runs `argv` on the desktop to its end: its output, absent when it failed.
  std::optional<std::string> output(std::vector<std::string> argv, double seconds = kBound);
  // The user presses the host's hot key, Control+Shift+T, with whatever
  // modifiers they hold let go of for it.
  bool pressHotKey() { return xdotool({"key", "--clearmodifiers", "ctrl+shift+t"}); }

  // The clipboard as another client sees it, through xclip: the names
  // TARGETS lists (without those describing the clipboard), sorted; and the
  // bytes of one target, absent when it is refused or nobody answers.
  // `selection` is xclip's name for it: "clipboard" or "primary".
  std::optional<std::vector<std::string>> clipboardTargets(
      const std::string& selection = "clipboard");
  std::optional<std::string> readClipboard(const std::string& target,
                                           double seconds = kBound,
                                           const std::string& selection = "clipboard");
  // Every target the clipboard lists, with its bytes, and the type each is
  // sent as ("TEXT" as COMPOUND_TEXT, say), by name.
  std::vector<ClipboardTarget> clipboardContents(const std::string& selection = "clipboard");
  std::map<std::string, std::string> clipboardTypes();
  // Whether the clipboard holds exactly `expected`: the same targets, each
  // with the same bytes. `why` says what differs.
  bool clipboardHolds(const std::vector<ClipboardTarget>& expected, std::string* why);
  bool waitUntilClipboardHolds(const std::vector<ClipboardTarget>& expected,
                               std::string* why,
                               double seconds = kBound);
  xcb_window_t clipboardOwner();
  bool waitUntilClipboardOwnerIsNot(xcb_window_t owner, double seconds = kBound);

  // Another application owning the clipboard with `targets` (each sent as
  // its own type, 8-bit), until another client takes it.
  RawOwner* offerClipboard(const std::vector<ClipboardTarget>& targets,
                           RawOwner::Behaviour behaviour = {});

  // The host's windows, as another client finds them: its panel (by its
  // window type) and its tray icon (in a tray's window). None when absent.
  xcb_window_t hostPanel();
  xcb_window_t trayIcon();
  bool viewable(xcb_window_t window);
  // Saves what `window` shows as a PNG image at `file`.
  bool screenshot(xcb_window_t window, const std::filesystem::path& file);
  // Whether the window the window manager calls active belongs to `pid`.
  bool activeWindowBelongsTo(pid_t pid);
  // A tray on the top edge, as a desktop's panel has; true once it runs.
  bool startTray();
  // Clicks `button` on `window` `times` in a row (3 selects a line), once
  // the pointer is seen over it (a tray may still be moving an icon it has
  // just embedded).
  bool click(xcb_window_t window, int button, int times = 1);
  std::optional<pid_t> windowPid(xcb_window_t window);
  // The popup menu the host has open; none when it has none.
  xcb_window_t hostMenu();

 private:
  std::vector<xcb_window_t> hostWindows();

  XSession session_;
  XTestUser user_;
  std::unique_ptr<HostProcess> host_;
  std::vector<std::unique_ptr<Editor>> editors_;
  std::vector<std::unique_ptr<RawOwner>> owners_;
  int files_ = 0;
  friend class Editor;
};

using test_support::noise;

// How two byte strings differ: their sizes, or the first offset that does.
std::string difference(const std::string& expected, const std::string& actual);

}  // namespace lumivane::e2e
