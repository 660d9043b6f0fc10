#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "headless/scenario.h"
#include "platform/flutter/encodable_value.h"

// The JSON in a scenario's statements: the values of calls, the pasteboard's
// items, and names written as JSON strings. Input is checked for what the
// reader will not take (nesting beyond kMaxJsonNesting, integers beyond 64
// signed bits) before it is parsed, so hostile text costs no deep recursion
// and no exception.
namespace lumivane::headless::scenario_json {

// Whether `text` (which starts at byte `column` of its line, 1-based) is one
// JSON value the reader takes; says why not.
bool checkJson(std::string_view text, std::size_t column, std::string& problem);

// Parses `text` as one JSON value, or says why not. Objects come out as
// nlohmann::json's, sorted by key: keeping members in order costs a look-up
// among the earlier keys for each new one, quadratic in an object's size.
std::optional<nlohmann::json> readJson(std::string_view text,
                                       std::size_t column,
                                       std::string& problem);

// A value readJson gave, as the method codec carries it.
platform::EncodableValue toEncodable(const nlohmann::json& json);

// A JSON string that is a whole word (starting at `column`). When it is not
// one, `problem` says why after the expectation: ": ..." when it is not valid
// JSON, ", found ..." otherwise.
std::optional<std::string> readJsonString(std::string_view token,
                                          std::size_t column,
                                          std::string& problem);

// A pasteboard statement's items: absent for null. When the JSON is not
// null or a list of objects from type to string or null content, `misfit`
// says what it holds instead, following "found".
struct PasteboardJson {
  std::optional<std::vector<PasteboardItemEntries>> items;
  std::string misfit;
};
// Reads `text`, which checkJson has passed.
PasteboardJson readPasteboardJson(std::string_view text);

}  // namespace lumivane::headless::scenario_json
