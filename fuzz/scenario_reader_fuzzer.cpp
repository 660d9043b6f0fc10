// The headless scenario reader against arbitrary text: it never crashes or
// leaks, and what it answers is consistent: either statements or an error,
// never both, on lines that exist, in the order they appear.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/round_trip.h"
#include "headless/scenario.h"

using lumivane::fuzz::fail;
using lumivane::headless::needsHost;
using lumivane::headless::readScenario;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto reading = readScenario(text);
  // Lines are counted from 1; a text that ends without a line break still
  // has its last line.
  const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;

  if (reading.error) {
    if (!reading.statements.empty()) {
      fail("a scenario with an error still has statements");
    }
    if (reading.error->line < 1 || reading.error->line > lines) {
      fail("an error names a line the text does not have");
    }
    if (reading.error->message.empty()) {
      fail("an error says nothing");
    }
    (void)toString(*reading.error);
    return 0;
  }

  int previous = 0;
  for (const auto& statement : reading.statements) {
    if (statement.line <= previous || statement.line > lines) {
      fail("statements are not on increasing lines of the text");
    }
    previous = statement.line;
    if (statement.text.empty()) {
      fail("a statement has no text");
    }
    (void)needsHost(statement.action);
  }

  // Reading has no side effects: the same text reads the same way again.
  const auto again = readScenario(text);
  if (again.error || again.statements.size() != reading.statements.size()) {
    fail("reading the same scenario twice gives different answers");
  }
  return 0;
}
