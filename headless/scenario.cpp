#include "headless/scenario.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "headless/readable_text.h"
#include "platform/sim/sim_desktop.h"
#include "platform/utf8.h"

namespace lumivane::headless {
namespace {

using Json = nlohmann::ordered_json;
using platform::EncodableList;
using platform::EncodableMap;
using platform::EncodableValue;

// --- Text helpers ---

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

// A token as an error message shows it: quoted, escaped, and cut short (on a
// character boundary) when long.
std::string quote(std::string_view token) {
  constexpr std::size_t kShown = 40;
  std::string shown(token.substr(0, kShown));
  if (token.size() > kShown) {
    while (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0xC0) == 0x80) {
      shown.pop_back();
    }
    if (!shown.empty() && static_cast<unsigned char>(shown.back()) >= 0xC0)
      shown.pop_back();
  }
  std::string out = quoteText(shown);
  if (token.size() > kShown)
    out += "...";
  return out;
}

std::string found(std::string_view token) {
  return token.empty() ? "found the end of the line" : "found " + quote(token);
}

// For the value after an option's '=', which may be followed by more words.
std::string foundValue(std::string_view value) {
  return value.empty() ? "found nothing" : "found " + quote(value);
}

// Library messages may quote raw input; keep only printable ASCII of them.
std::string printableAscii(std::string_view text) {
  std::string out;
  for (char c : text)
    out += (c >= 0x20 && c < 0x7F) ? c : '?';
  return out;
}

// --- Numbers ---

std::optional<std::uint32_t> readUnsigned32(std::string_view token) {
  int base = 10;
  if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
    token.remove_prefix(2);
    base = 16;
  }
  std::uint32_t value = 0;
  const char* end = token.data() + token.size();
  auto [ptr, ec] = std::from_chars(token.data(), end, value, base);
  if (token.empty() || ec != std::errc() || ptr != end)
    return std::nullopt;
  return value;
}

std::optional<long> readDecimal(std::string_view token, long low, long high) {
  long value = 0;
  const char* end = token.data() + token.size();
  auto [ptr, ec] = std::from_chars(token.data(), end, value);
  if (token.empty() || ec != std::errc() || ptr != end || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

// Whether a well-formed decimal number too far from zero or too close to it
// for a double is the second kind: less than 1 in size.
bool isTiny(std::string_view token) {
  const auto e = token.find_first_of("eE");
  // The number is 0.DIGITS x 10^(point + exponent), DIGITS starting non-zero.
  long long exponent = 0;
  if (e != std::string_view::npos) {
    std::string_view digits = token.substr(e + 1);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+'))
      digits.remove_prefix(1);
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
    if (ec == std::errc::result_out_of_range)
      exponent = std::numeric_limits<int>::max();  // far beyond any number of digits
    if (negative)
      exponent = -exponent;
  }
  long long point = 0;
  bool significant = false;
  bool fraction = false;
  for (const char c : token.substr(0, e)) {
    if (c == '.') {
      fraction = true;
    } else if (c >= '0' && c <= '9') {
      significant = significant || c != '0';
      if (significant && !fraction)
        ++point;
      else if (!significant && fraction)
        --point;
    }
  }
  return point + exponent <= 0;
}

// Decimal seconds, in exponent form too ("1e-3"); a value too small for a
// double is 0.
std::optional<double> readSeconds(std::string_view token) {
  double value = 0;
  const char* end = token.data() + token.size();
  auto [ptr, ec] = std::from_chars(token.data(), end, value, std::chars_format::general);
  if (token.empty() || ptr != end)
    return std::nullopt;
  if (ec == std::errc::result_out_of_range && isTiny(token) && token.front() != '-')
    value = 0;
  else if (ec != std::errc())
    return std::nullopt;
  if (!std::isfinite(value) || value < 0 || value > kMaxSeconds)
    return std::nullopt;
  return value;
}

// --- JSON ---

// A first pass over JSON text that stops at the first thing the reader will
// not take: nesting deeper than kMaxJsonNesting (so that nothing later has to
// recurse deeply) and integers outside 64 signed bits (which the parser would
// otherwise turn into inexact doubles). Syntax errors are kept for the message.
class JsonGuard {
 public:
  bool null() { return true; }
  bool boolean(bool /*value*/) { return true; }
  bool number_integer(Json::number_integer_t /*value*/) { return true; }
  bool number_unsigned(Json::number_unsigned_t value) {
    if (value > static_cast<Json::number_unsigned_t>(std::numeric_limits<std::int64_t>::max())) {
      return fail("integers must be from -2^63 to 2^63-1");
    }
    return true;
  }
  bool number_float(Json::number_float_t /*value*/, const Json::string_t& text) {
    // Digits alone that came out as a double overflowed the integers.
    if (text.find_first_of(".eE") == std::string::npos) {
      return fail("integers must be from -2^63 to 2^63-1");
    }
    return true;
  }
  bool string(Json::string_t& /*value*/) { return true; }
  bool binary(Json::binary_t& /*value*/) { return true; }
  bool start_object(std::size_t /*elements*/) { return enter(); }
  bool key(Json::string_t& /*value*/) { return true; }
  bool end_object() { return leave(); }
  bool start_array(std::size_t /*elements*/) { return enter(); }
  bool end_array() { return leave(); }
  bool parse_error(std::size_t position,
                   const std::string& /*lastToken*/,
                   const nlohmann::detail::exception& error) {
    // "[json.exception.parse_error.101] parse error at line 1, column 4: why"
    std::string_view what = error.what();
    if (auto bracket = what.find("] ");
        !what.empty() && what.front() == '[' && bracket != std::string_view::npos) {
      what.remove_prefix(bracket + 2);
    }
    if (what.substr(0, 11) == "parse error") {
      if (auto colon = what.find(": "); colon != std::string_view::npos) {
        what.remove_prefix(colon + 2);
      }
    }
    problem_ = printableAscii(what);
    position_ = position;
    return false;
  }

  const std::string& problem() const { return problem_; }
  // How many bytes of the text were read when reading stopped; 0 when it
  // did not stop at a syntax error.
  std::size_t position() const { return position_; }

 private:
  bool enter() {
    if (++depth_ > kMaxJsonNesting) {
      return fail("lists and objects may nest at most " + std::to_string(kMaxJsonNesting) +
                  " deep");
    }
    return true;
  }
  bool leave() {
    --depth_;
    return true;
  }
  bool fail(const std::string& problem) {
    problem_ = problem;
    return false;
  }

  int depth_ = 0;
  std::string problem_;
  std::size_t position_ = 0;
};

// Whether `text` (which starts at byte `column` of its line, 1-based) is one
// JSON value the reader takes; says why not.
bool checkJson(std::string_view text, std::size_t column, std::string& problem) {
  JsonGuard guard;
  if (Json::sax_parse(text.begin(), text.end(), &guard))
    return true;
  problem = guard.problem();
  if (guard.position() > 0) {
    problem += " (reading stopped at column " + std::to_string(column + guard.position() - 1) + ")";
  }
  return false;
}

// Parses `text` as one JSON value, or says why not. Objects come out as
// nlohmann::json's, sorted by key: keeping members in order costs a look-up
// among the earlier keys for each new one, quadratic in an object's size.
std::optional<nlohmann::json> readJson(std::string_view text,
                                       std::size_t column,
                                       std::string& problem) {
  if (!checkJson(text, column, problem))
    return std::nullopt;
  auto value = nlohmann::json::parse(text.begin(), text.end(), nullptr,
                                     /*allow_exceptions=*/false);
  if (value.is_discarded()) {
    problem = "not valid JSON";
    return std::nullopt;
  }
  return value;
}

// Nesting is bounded by JsonGuard, so the recursion is too.
EncodableValue toEncodable(const nlohmann::json& json) {
  using Json = nlohmann::json;
  switch (json.type()) {
    case Json::value_t::boolean:
      return EncodableValue(json.get<bool>());
    case Json::value_t::number_integer:
      return EncodableValue(json.get<std::int64_t>());
    case Json::value_t::number_unsigned:
      return EncodableValue(static_cast<std::int64_t>(json.get<std::uint64_t>()));
    case Json::value_t::number_float:
      return EncodableValue(json.get<double>());
    case Json::value_t::string:
      return EncodableValue(json.get<std::string>());
    case Json::value_t::array: {
      EncodableList list;
      list.reserve(json.size());
      for (const auto& element : json)
        list.push_back(toEncodable(element));
      return EncodableValue(std::move(list));
    }
    case Json::value_t::object: {
      EncodableMap map;
      for (const auto& [key, element] : json.items()) {
        map.insert_or_assign(EncodableValue(key), toEncodable(element));
      }
      return EncodableValue(std::move(map));
    }
    default:
      return EncodableValue();
  }
}

// A JSON string that is a whole word (starting at `column`). When it is not
// one, `problem` says why after the expectation: ": ..." when it is not valid
// JSON, ", found ..." otherwise.
std::optional<std::string> readJsonString(std::string_view token,
                                          std::size_t column,
                                          std::string& problem) {
  std::string why;
  auto value = readJson(token, column, why);
  if (!value) {
    problem = ": " + why;
    return std::nullopt;
  }
  if (!value->is_string()) {
    problem = ", found " + quote(token) + ", which is " + std::string(value->type_name()) +
              ", not a string";
    return std::nullopt;
  }
  return value->get<std::string>();
}

// Reads a pasteboard statement's JSON (once checkJson has passed it) straight
// into items, in one pass: a JSON object keeps its members in order by
// looking each new key up among the earlier ones, which for an item with a
// hundred thousand types would take minutes. A type given twice in an item
// keeps its first place and its last content, as in a JSON object.
class PasteboardJsonReader {
 public:
  // Null JSON: absent.
  std::optional<std::vector<PasteboardItemEntries>>& items() { return items_; }
  // What the JSON holds where items were expected, following "found"; empty
  // when it has the expected shape.
  const std::string& misfit() const { return misfit_; }

  bool null() { return value("null", std::nullopt); }
  bool boolean(bool /*value*/) { return value("boolean"); }
  bool number_integer(Json::number_integer_t /*value*/) { return value("number"); }
  bool number_unsigned(Json::number_unsigned_t /*value*/) { return value("number"); }
  bool number_float(Json::number_float_t /*value*/, const Json::string_t& /*text*/) {
    return value("number");
  }
  bool string(Json::string_t& text) { return value("string", std::move(text)); }
  bool binary(Json::binary_t& /*value*/) { return value("binary"); }
  bool start_object(std::size_t /*elements*/) { return open("object"); }
  bool key(Json::string_t& key) {
    if (depth_ == kInItem)
      key_ = std::move(key);
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t /*elements*/) { return open("array"); }
  bool end_array() { return close(); }
  bool parse_error(std::size_t /*position*/,
                   const std::string& /*lastToken*/,
                   const nlohmann::detail::exception& /*error*/) {
    misfit_ = "text that is not valid JSON";
    return false;
  }

 private:
  static constexpr int kInList = 1;
  static constexpr int kInItem = 2;

  struct Entry {
    std::string type;
    std::optional<std::string> content;
    // The JSON type of content that is neither a string nor null.
    const char* misfit = nullptr;
  };

  // A scalar, or the start of a list or object, at the current depth.
  bool value(const char* type, std::optional<std::string> content = std::nullopt) {
    if (depth_ == 0) {
      if (std::string_view(type) != "null")
        return fail(type);
      return true;  // no item list
    }
    if (depth_ == kInList)
      return fail(std::string("an item that is ") + type);
    if (depth_ == kInItem) {
      const bool fits = std::string_view(type) == "string" || std::string_view(type) == "null";
      auto [at, added] = itemIndex_.try_emplace(key_, item_.size());
      if (added)
        item_.push_back({key_, std::nullopt, nullptr});
      item_[at->second].content = fits ? std::move(content) : std::nullopt;
      item_[at->second].misfit = fits ? nullptr : type;
    }
    return true;  // deeper: inside content that is already a misfit
  }

  bool open(const char* type) {
    if (depth_ == 0 && std::string_view(type) == "array") {
      items_.emplace();
    } else if (depth_ == kInList && std::string_view(type) == "object") {
      item_.clear();
      itemIndex_.clear();
    } else if (!value(type)) {
      return false;
    }
    ++depth_;
    return true;
  }

  bool close() {
    --depth_;
    if (depth_ != kInList)
      return true;
    // The end of an item: its contents are final only now.
    PasteboardItemEntries entries;
    entries.reserve(item_.size());
    for (auto& entry : item_) {
      if (entry.misfit)
        return fail(std::string(entry.misfit) + " for type " + quote(entry.type));
      entries.push_back({std::move(entry.type), std::move(entry.content)});
    }
    items_->push_back(std::move(entries));
    return true;
  }

  bool fail(std::string misfit) {
    misfit_ = std::move(misfit);
    return false;
  }

  std::optional<std::vector<PasteboardItemEntries>> items_;
  int depth_ = 0;
  std::string key_;
  std::vector<Entry> item_;
  std::unordered_map<std::string, std::size_t> itemIndex_;
  std::string misfit_;
};

// --- One line ---

// The statement part of a line and its comment. A '#' outside a JSON string
// starts the comment; a string left open is an error.
struct SplitLine {
  std::string_view body;
  std::string_view comment;
  bool unterminatedString = false;
};

SplitLine splitComment(std::string_view line) {
  bool inString = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '#') {
      return {trim(line.substr(0, i)), trim(line.substr(i + 1)), false};
    }
  }
  return {trim(line), {}, inString};
}

// Words of a statement, separated by blanks. A JSON string inside a word
// belongs to it whole, blanks included: selection="two words" is one word.
class Words {
 public:
  // `body` starts at byte `offset` of its line (0-based).
  Words(std::string_view body, std::size_t offset) : body_(body), offset_(offset) {}

  std::string_view next() {
    skipBlanks();
    const std::size_t start = pos_;
    bool inString = false;
    while (pos_ < body_.size() && (inString || !isBlank(body_[pos_]))) {
      const char c = body_[pos_];
      if (inString && c == '\\') {
        ++pos_;
      } else if (c == '"') {
        inString = !inString;
      }
      ++pos_;
    }
    pos_ = std::min(pos_, body_.size());
    return body_.substr(start, pos_ - start);
  }

  std::string_view peek() {
    const std::size_t saved = pos_;
    auto word = next();
    pos_ = saved;
    return word;
  }

  // Everything not yet read, and the 1-based column where it starts.
  std::string_view rest() {
    skipBlanks();
    return body_.substr(pos_);
  }
  std::size_t column() const { return offset_ + pos_ + 1; }
  // The 1-based column where `word`, a part of the body, starts.
  std::size_t columnOf(std::string_view word) const {
    return offset_ + static_cast<std::size_t>(word.data() - body_.data()) + 1;
  }

 private:
  void skipBlanks() {
    while (pos_ < body_.size() && isBlank(body_[pos_]))
      ++pos_;
  }

  std::string_view body_;
  std::size_t offset_ = 0;
  std::size_t pos_ = 0;
};

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
    PasteboardJsonReader reader;
    Json::sax_parse(text.begin(), text.end(), &reader);
    if (!reader.misfit().empty())
      return fail(expected + ", found " + reader.misfit());
    return PasteboardStatement{std::move(reader.items())};
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
