#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The words of a scenario's lines: a line split into its statement and its
// comment, the statement into words, words read as numbers, and words shown
// in the reader's messages.
namespace lumivane::headless::scenario_words {

// A blank between words: a space or a tab.
bool isBlank(char c);
std::string_view trim(std::string_view text);

// A word as an error message shows it: quoted, escaped, and cut short (on a
// character boundary) when long.
std::string quote(std::string_view token);
// "found WORD", or "found the end of the line" for none.
std::string found(std::string_view token);
// For the value after an option's '=', which may be followed by more words:
// "found VALUE", or "found nothing".
std::string foundValue(std::string_view value);
// Library messages may quote raw input; keeps only printable ASCII of them.
std::string printableAscii(std::string_view text);

// Decimal, or hexadecimal after 0x.
std::optional<std::uint32_t> readUnsigned32(std::string_view token);
// Decimal, from `low` to `high`.
std::optional<long> readDecimal(std::string_view token, long low, long high);
// Decimal seconds from 0 to kMaxSeconds, in exponent form too ("1e-3"); a
// value too small for a double is 0.
std::optional<double> readSeconds(std::string_view token);

// The statement part of a line and its comment. A '#' outside a JSON string
// starts the comment; a string left open is an error.
struct SplitLine {
  std::string_view body;
  std::string_view comment;
  bool unterminatedString = false;
};
SplitLine splitComment(std::string_view line);

// Words of a statement, separated by blanks. A JSON string inside a word
// belongs to it whole, blanks included: selection="two words" is one word.
class Words {
 public:
  // `body` starts at byte `offset` of its line (0-based).
  Words(std::string_view body, std::size_t offset) : body_(body), offset_(offset) {}

  // The next word; empty at the end.
  std::string_view next();

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

}  // namespace lumivane::headless::scenario_words
