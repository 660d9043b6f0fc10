#include "headless/scenario_json.h"

#include <cstdint>
#include <limits>
#include <unordered_map>
#include <utility>

#include "headless/scenario_words.h"

namespace lumivane::headless::scenario_json {
namespace {

using Json = nlohmann::ordered_json;
using platform::EncodableList;
using platform::EncodableMap;
using platform::EncodableValue;
using scenario_words::printableAscii;
using scenario_words::quote;

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

}  // namespace

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

PasteboardJson readPasteboardJson(std::string_view text) {
  PasteboardJsonReader reader;
  Json::sax_parse(text.begin(), text.end(), &reader);
  return {std::move(reader.items()), reader.misfit()};
}

}  // namespace lumivane::headless::scenario_json
