#include "headless/scenario.h"

#include <cstdio>
#include <limits>
#include <map>
#include <set>

#include "headless/readable_text.h"
#include "headless/scenario_json.h"
#include "headless/scenario_words.h"
#include "platform/sim/sim_desktop.h"
#include "platform/utf8.h"

namespace lumivane::headless {
namespace {

using scenario_json::checkJson;
using scenario_json::readJson;
using scenario_json::readJsonString;
using scenario_json::readPasteboardJson;
using scenario_json::toEncodable;
using scenario_words::found;
using scenario_words::foundValue;
using scenario_words::quote;
using scenario_words::readDecimal;
using scenario_words::readSeconds;
using scenario_words::readUnsigned32;
using scenario_words::splitComment;
using scenario_words::SplitLine;
using scenario_words::Words;

// The applications declared so far, for checking references and pids.
struct Declared {
  // Name to the line that declared it.
  std::map<std::string, int, std::less<>> apps;
  // Pids named with pid=, to their application's name.
  std::map<platform::pid_t, std::string> explicitPids;
};

class LineReader {
 public:
  LineReader(std::string_view body, std::size_t offset, Declared& declared, int line)
      : words_(body, offset), declared_(declared), line_(line) {}

  std::optional<StatementAction> read() {
    const std::string_view keyword = words_.next();
    if (keyword == "app")
      return readApp();
    if (keyword == "front")
      return readFront();
    if (keyword == "pasteboard")
      return readPasteboard();
    if (keyword == "trust")
      return readTrust();
    if (keyword == "key")
      return chord<KeyStatement>("key");
    if (keyword == "hotkey-taken")
      return chord<HotKeyTakenStatement>("hotkey-taken");
    if (keyword == "click")
      return readClick();
    if (keyword == "call")
      return readCall();
    if (keyword == "login-service")
      return readLoginService();
    if (keyword == "os")
      return readOs();
    if (keyword == "wait")
      return readWait();
    if (keyword == "show")
      return readShow();
    return fail(
        "expected a statement (app, front, pasteboard, trust, key, click, call, hotkey-taken, "
        "login-service, os, wait or show), " +
        found(keyword));
  }

  const std::string& error() const { return error_; }

 private:
  std::nullopt_t fail(std::string message) {
    error_ = std::move(message);
    return std::nullopt;
  }

  // Nothing may follow a complete statement but its comment.
  std::optional<StatementAction> done(StatementAction action, const std::string& what) {
    const auto extra = words_.peek();
    if (!extra.empty())
      return fail("expected the end of the line after " + what + ", " + found(extra));
    return action;
  }

  // A word, or a JSON string for a name with blanks in it. When it is
  // neither, `why` says what is wrong with it, following an expectation.
  std::optional<std::string> name(std::string_view word, std::string& why) {
    if (word.empty()) {
      why = ", found the end of the line";
      return std::nullopt;
    }
    if (word.front() == '"')
      return readJsonString(word, words_.columnOf(word), why);
    if (word.find('"') != std::string_view::npos) {
      why = ", found " + quote(word) +
            ", a word with '\"' in it (a name with quotes is written as a JSON string)";
      return std::nullopt;
    }
    return std::string(word);
  }

  // The same for an option's value: after '=', nothing is "nothing".
  std::optional<std::string> optionValue(std::string_view value, std::string& why) {
    auto text = name(value, why);
    if (value.empty())
      why = ", found nothing";
    return text;
  }

  std::optional<StatementAction> readApp() {
    const auto word = words_.next();
    std::string why;
    auto appName = name(word, why);
    if (appName && appName->empty())
      why = ", found an empty name";
    if (!appName || appName->empty())
      return fail("expected an application name (a word or a JSON string) after app" + why);
    if (*appName == "host") {
      return fail("expected an application name other than \"host\", which means Lumivane itself");
    }
    if (auto it = declared_.apps.find(*appName); it != declared_.apps.end()) {
      return fail("expected a new application name, found " + quote(*appName) +
                  ", declared on line " + std::to_string(it->second));
    }
    AppStatement app;
    app.name = *appName;
    app.bundleId = "com.example." + app.name;
    std::optional<platform::pid_t> pid;
    std::set<std::string, std::less<>> seen;
    for (auto option = words_.next(); !option.empty(); option = words_.next()) {
      const auto equals = option.find('=');
      const std::string_view key = option.substr(0, equals);
      const std::string_view value =
          equals == std::string_view::npos ? std::string_view() : option.substr(equals + 1);
      const bool known = key == "bundle" || key == "pid" || key == "selection" ||
                         key == "copy-delay" || key == "copies";
      if (equals == std::string_view::npos || !known) {
        return fail("expected an option bundle=, pid=, selection=, copy-delay= or copies=, " +
                    found(option));
      }
      if (!seen.insert(std::string(key)).second) {
        return fail("expected " + std::string(key) + "= at most once, found it again");
      }
      if (key == "bundle") {
        std::string why;
        auto id = optionValue(value, why);
        if (id && id->empty())
          why = ", found an empty identifier";
        if (!id || id->empty())
          return fail("expected a bundle identifier or none after bundle=" + why);
        app.bundleId = value == "none" ? std::nullopt : std::optional<std::string>(*id);
      } else if (key == "pid") {
        auto number = readDecimal(value, 1, std::numeric_limits<platform::pid_t>::max());
        if (!number || *number == platform::sim::kHostPid) {
          return fail("expected a process id from 1 to 2147483647 other than " +
                      std::to_string(platform::sim::kHostPid) + " (Lumivane's) after pid=, " +
                      foundValue(value));
        }
        pid = static_cast<platform::pid_t>(*number);
        if (auto owner = declared_.explicitPids.find(*pid); owner != declared_.explicitPids.end()) {
          return fail("expected a process id no other application has, found " +
                      std::string(value) + ", the pid of " + quote(owner->second));
        }
      } else if (key == "selection") {
        std::string why;
        auto text = optionValue(value, why);
        if (!text)
          return fail("expected a word or a JSON string after selection=" + why);
        app.selection = *text;
      } else if (key == "copy-delay") {
        auto seconds = readSeconds(value);
        if (!seconds) {
          return fail("expected seconds from 0 to 86400 after copy-delay=, " + foundValue(value));
        }
        app.copyDelay = *seconds;
      } else {
        if (value == "text") {
          app.copies = CopyKind::text;
        } else if (value == "image") {
          app.copies = CopyKind::image;
        } else if (value == "nothing") {
          app.copies = CopyKind::nothing;
        } else {
          return fail("expected text, image or nothing after copies=, " + foundValue(value));
        }
      }
    }
    if (pid)
      declared_.explicitPids.emplace(*pid, app.name);
    app.pid = pid.value_or(0);
    declared_.apps.emplace(app.name, line_);
    return app;
  }

  std::optional<StatementAction> readFront() {
    const auto word = words_.next();
    if (word == "host")
      return done(FrontStatement{std::nullopt}, "front host");
    std::string why;
    auto appName = name(word, why);
    if (appName && !declared_.apps.count(*appName))
      why = ", found " + quote(*appName) + ", which no app statement before this line declares";
    if (!appName || !declared_.apps.count(*appName))
      return fail("expected host or the name of an application declared earlier with app" + why);
    return done(FrontStatement{*appName}, "front " + std::string(word));
  }

  std::optional<StatementAction> readPasteboard() {
    const std::string_view text = words_.rest();
    const std::string expected =
        "expected null or a JSON array of items, each an object from type to content string "
        "(or null for unreadable data), after pasteboard";
    if (text.empty())
      return fail(expected + ", found the end of the line");
    std::string problem;
    if (!checkJson(text, words_.column(), problem))
      return fail(expected + ": " + problem);
    auto pasteboard = readPasteboardJson(text);
    if (!pasteboard.misfit.empty())
      return fail(expected + ", found " + pasteboard.misfit);
    return PasteboardStatement{std::move(pasteboard.items)};
  }

  std::optional<StatementAction> readTrust() {
    const auto word = words_.next();
    if (word != "on" && word != "off") {
      return fail("expected on or off after trust, " + found(word));
    }
    return done(TrustStatement{word == "on"}, "trust " + std::string(word));
  }

  template <class T>
  std::optional<StatementAction> chord(const char* keyword) {
    const auto code = words_.next();
    auto keyCode = readUnsigned32(code);
    if (!keyCode) {
      return fail(std::string("expected a key code (decimal or 0x hex, up to 32 bits) after ") +
                  keyword + ", " + found(code));
    }
    const auto mask = words_.next();
    auto modifiers = readUnsigned32(mask);
    if (!modifiers) {
      return fail(
          "expected a modifier mask (decimal or 0x hex, e.g. 0x300 for Command+Shift) after the "
          "key code, " +
          found(mask));
    }
    return done(T{Chord{*keyCode, *modifiers}},
                std::string(keyword) + " " + std::string(code) + " " + std::string(mask));
  }

  std::optional<StatementAction> readClick() {
    const auto word = words_.next();
    if (word != "left" && word != "right") {
      return fail("expected left or right after click, " + found(word));
    }
    ClickStatement click{word == "left" ? MouseButton::left : MouseButton::right, std::nullopt};
    const auto option = words_.peek();
    if (click.button == MouseButton::right && option.substr(0, 7) == "choose=") {
      words_.next();
      std::string why;
      click.choose = optionValue(option.substr(7), why);
      if (!click.choose)
        return fail("expected a menu item title (a word or a JSON string) after choose=" + why);
    }
    return done(click, "click " + std::string(word));
  }

  std::optional<StatementAction> readCall() {
    const auto channel = words_.next();
    if (channel != "selection" && channel != "system") {
      return fail("expected selection or system after call, " + found(channel));
    }
    const auto method = words_.next();
    std::string why;
    auto methodName = name(method, why);
    if (methodName && methodName->empty())
      why = ", found an empty name";
    if (!methodName || methodName->empty())
      return fail("expected a method name after call " + std::string(channel) + why);
    CallStatement call{channel == "selection" ? ChannelName::selection : ChannelName::system,
                       *methodName, std::nullopt};
    const std::string_view argument = words_.rest();
    const std::size_t column = words_.column();
    if (!argument.empty()) {
      std::string problem;
      auto json = readJson(argument, column, problem);
      if (!json) {
        return fail("expected one JSON value as the argument of " + shownName(*methodName) + ": " +
                    problem);
      }
      call.arguments = toEncodable(*json);
    }
    return call;
  }

  std::optional<StatementAction> readLoginService() {
    const auto word = words_.next();
    LoginServiceStatement statement;
    if (word == "enabled") {
      statement.answer = LoginServiceAnswer::enabled;
    } else if (word == "requires-approval") {
      statement.answer = LoginServiceAnswer::requiresApproval;
    } else if (word == "refuse") {
      statement.answer = LoginServiceAnswer::refuses;
      const auto description = words_.peek();
      if (!description.empty()) {
        words_.next();
        std::string why = ", found " + quote(description);
        if (description.front() == '"') {
          statement.description = readJsonString(description, words_.columnOf(description), why);
        }
        if (!statement.description)
          return fail("expected the refusal's description as a JSON string after refuse" + why);
      }
    } else {
      return fail("expected enabled, requires-approval or refuse after login-service, " +
                  found(word));
    }
    return done(statement, "login-service " + std::string(word));
  }

  std::optional<StatementAction> readOs() {
    const auto word = words_.next();
    OsStatement os;
    long* parts[] = {&os.major, &os.minor, &os.patch};
    std::size_t count = 0;
    std::string_view rest = word;
    bool valid = !word.empty();
    while (valid && count < 3) {
      const auto dot = rest.find('.');
      auto number = readDecimal(rest.substr(0, dot), 0, 999999);
      valid = number.has_value();
      if (valid)
        *parts[count++] = *number;
      if (dot == std::string_view::npos)
        break;
      rest.remove_prefix(dot + 1);
      valid = valid && count < 3;
    }
    if (!valid || count < 2) {
      return fail("expected a system version MAJOR.MINOR.PATCH (e.g. 12.7.1) after os, " +
                  found(word));
    }
    return done(os, "os " + std::string(word));
  }

  std::optional<StatementAction> readWait() {
    const auto word = words_.next();
    auto seconds = readSeconds(word);
    if (!seconds)
      return fail("expected seconds from 0 to 86400 after wait, " + found(word));
    return done(WaitStatement{*seconds}, "wait " + std::string(word));
  }

  std::optional<StatementAction> readShow() {
    const auto word = words_.next();
    if (word != "pasteboard")
      return fail("expected pasteboard after show, " + found(word));
    return done(ShowPasteboardStatement{}, "show pasteboard");
  }

  Words words_;
  Declared& declared_;
  int line_;
  std::string error_;
};

struct ControlCharacter {
  unsigned codePoint = 0;
  std::size_t column = 0;  // 1-based, in bytes
};

// The first control character of a UTF-8 line other than tab: C0, DEL, or C1
// (U+0080 to U+009F, which terminals act on as they do on ESC sequences).
// Statements are echoed as written, so none may reach the output.
std::optional<ControlCharacter> findControlCharacter(std::string_view line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F)
      return ControlCharacter{byte, i + 1};
    if (byte == 0xC2 && i + 1 < line.size()) {
      const auto next = static_cast<unsigned char>(line[i + 1]);
      if (next >= 0x80 && next <= 0x9F)
        return ControlCharacter{next, i + 1};
    }
  }
  return std::nullopt;
}

std::string codePointName(unsigned codePoint) {
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", codePoint);
  return name;
}

// Numbers the applications that named no pid, in the order they were
// declared, skipping the host's pid and every pid named anywhere.
void numberApplications(std::vector<Statement>& statements, const Declared& declared) {
  platform::pid_t next = kFirstAutomaticPid;
  for (auto& statement : statements) {
    auto* app = std::get_if<AppStatement>(&statement.action);
    if (!app || app->pid != 0)
      continue;
    while (next == platform::sim::kHostPid || declared.explicitPids.count(next))
      ++next;
    app->pid = next++;
  }
}

}  // namespace

std::string toString(const ScenarioError& error) {
  return "line " + std::to_string(error.line) + ": " + error.message;
}

ScenarioReading readScenario(std::string_view text) {
  ScenarioReading reading;
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  Declared declared;
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);

    auto fail = [&](std::string message) {
      reading.statements.clear();
      reading.error = ScenarioError{lineNumber, std::move(message)};
      return reading;
    };
    if (const std::size_t valid = platform::utf8ValidPrefix(
            reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
        valid < line.size()) {
      return fail("expected UTF-8 text, found bytes that are not at column " +
                  std::to_string(valid + 1));
    }
    if (const auto control = findControlCharacter(line)) {
      return fail("expected printable text, found the control character " +
                  codePointName(control->codePoint) + " at column " +
                  std::to_string(control->column));
    }
    const SplitLine split = splitComment(line);
    if (split.unterminatedString) {
      return fail("expected a closing '\"' for the string, found the end of the line");
    }
    if (split.body.empty())
      continue;

    LineReader reader(split.body, static_cast<std::size_t>(split.body.data() - line.data()),
                      declared, lineNumber);
    auto action = reader.read();
    if (!action)
      return fail(reader.error());
    reading.statements.push_back(Statement{lineNumber, std::string(split.body),
                                           std::string(split.comment), std::move(*action)});
  }
  numberApplications(reading.statements, declared);
  return reading;
}

bool needsHost(const StatementAction& action) {
  if (const auto* front = std::get_if<FrontStatement>(&action))
    return !front->app;
  return std::holds_alternative<KeyStatement>(action) ||
         std::holds_alternative<ClickStatement>(action) ||
         std::holds_alternative<CallStatement>(action) ||
         std::holds_alternative<WaitStatement>(action);
}

}  // namespace lumivane::headless
