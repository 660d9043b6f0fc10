#include "headless/scenario_words.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "headless/readable_text.h"
#include "headless/scenario.h"

namespace lumivane::headless::scenario_words {
namespace {

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

}  // namespace

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

std::string foundValue(std::string_view value) {
  return value.empty() ? "found nothing" : "found " + quote(value);
}

std::string printableAscii(std::string_view text) {
  std::string out;
  for (char c : text)
    out += (c >= 0x20 && c < 0x7F) ? c : '?';
  return out;
}

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

std::string_view Words::next() {
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

}  // namespace lumivane::headless::scenario_words
