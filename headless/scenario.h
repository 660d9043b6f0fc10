#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/flutter/encodable_value.h"
#include "platform/workspace.h"

namespace lumivane::headless {

// A scenario is a text of statements, one a line, each telling what the user,
// another application or the interface does next on the simulated desktop.
// The reader turns the whole text into statements before anything runs, so a
// mistake anywhere stops the run before it starts.

// What an application does when it is sent the copy chord.
enum class CopyKind { text, image, nothing };

// app NAME [bundle=ID|none] [pid=N] [selection=STRING] [copy-delay=S] [copies=K]
struct AppStatement {
  std::string name;
  // Absent for bundle=none: an application without a bundle identifier.
  std::optional<std::string> bundleId;
  // Always set: the reader numbers applications that name no pid.
  platform::pid_t pid = 0;
  std::string selection;
  double copyDelay = 0.05;
  CopyKind copies = CopyKind::text;
};

// front NAME | front host
struct FrontStatement {
  // Absent: the host itself.
  std::optional<std::string> app;
};

// One type of a pasteboard item and its content; absent content is data the
// pasteboard lists but cannot hand out.
struct PasteboardEntry {
  std::string type;
  std::optional<std::string> content;
  friend bool operator==(const PasteboardEntry&, const PasteboardEntry&) = default;
};
using PasteboardItemEntries = std::vector<PasteboardEntry>;

// pasteboard JSON
struct PasteboardStatement {
  // Absent for null: the pasteboard reports no item list at all.
  std::optional<std::vector<PasteboardItemEntries>> items;
};

// trust on | trust off
struct TrustStatement {
  bool trusted = false;
};

// A chord of Carbon key code and modifier mask, as hot keys are registered.
struct Chord {
  std::uint32_t keyCode = 0;
  std::uint32_t modifiers = 0;
};

// key KEYCODE MODIFIERS
struct KeyStatement {
  Chord chord;
};

// hotkey-taken KEYCODE MODIFIERS
struct HotKeyTakenStatement {
  Chord chord;
};

enum class MouseButton { left, right };

// click left | click right [choose=TITLE]
struct ClickStatement {
  MouseButton button = MouseButton::left;
  // The menu item the user picks in the menu the click opens; absent: the
  // user dismisses any menu.
  std::optional<std::string> choose;
};

enum class ChannelName { selection, system };

// call selection|system METHOD [JSON]
struct CallStatement {
  ChannelName channel = ChannelName::selection;
  std::string method;
  // Absent when the line gives none: the call carries no argument.
  std::optional<platform::EncodableValue> arguments;
};

enum class LoginServiceAnswer { enabled, requiresApproval, refuses };

// login-service enabled | requires-approval | refuse ["DESCRIPTION"]
struct LoginServiceStatement {
  LoginServiceAnswer answer = LoginServiceAnswer::enabled;
  // The refusal's description; absent: the platform's usual one.
  std::optional<std::string> description;
};

// os MAJOR.MINOR[.PATCH]
struct OsStatement {
  long major = 0;
  long minor = 0;
  long patch = 0;
};

// wait SECONDS
struct WaitStatement {
  double seconds = 0;
};

// show pasteboard
struct ShowPasteboardStatement {};

using StatementAction = std::variant<AppStatement,
                                     FrontStatement,
                                     PasteboardStatement,
                                     TrustStatement,
                                     KeyStatement,
                                     HotKeyTakenStatement,
                                     ClickStatement,
                                     CallStatement,
                                     LoginServiceStatement,
                                     OsStatement,
                                     WaitStatement,
                                     ShowPasteboardStatement>;

struct Statement {
  // 1-based line of the scenario text.
  int line = 0;
  // The statement as written, without its comment or surrounding blanks.
  std::string text;
  // The comment after it on the same line, without the '#'; may be empty.
  std::string comment;
  StatementAction action;
};

struct ScenarioError {
  int line = 0;
  // What the reader expected there and what it found, e.g. "expected 'on' or
  // 'off' after trust, found \"maybe\"".
  std::string message;
};

// "line 3: expected ...".
std::string toString(const ScenarioError& error);

struct ScenarioReading {
  // Empty when `error` is set: a scenario is taken whole or not at all.
  std::vector<Statement> statements;
  std::optional<ScenarioError> error;
};

// Limits that keep hostile input from costing more than it is worth.
inline constexpr double kMaxSeconds = 86400;
inline constexpr int kMaxJsonNesting = 64;
// Applications that name no pid are numbered from here, skipping pids taken
// by others.
inline constexpr platform::pid_t kFirstAutomaticPid = 201;

// Reads a whole scenario. Has no side effects; never throws or crashes on any
// input (malformed UTF-8, deep JSON nesting, huge numbers included).
ScenarioReading readScenario(std::string_view text);

// Whether the host must be running for the statement to mean anything: the
// user's key presses and clicks, the interface's calls, time passing and
// bringing the host to the front. The rest set up the desktop and may come
// before the host starts.
bool needsHost(const StatementAction& action);

}  // namespace lumivane::headless
