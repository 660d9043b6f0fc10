#include "platform/wayland/sway_bindings.h"

#include <glib.h>
#include <wordexp.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/gtk/key_symbols.h"

namespace lumivane::platform::wayland {
namespace {

namespace fs = std::filesystem;

// Includes nest at most this deep (a file including itself stops here).
constexpr int kIncludeDepth = 8;
// A configuration file larger than this is not read.
constexpr std::uintmax_t kLargestFile = 1 << 20;

struct ModifierName {
  const char* name;
  std::uint16_t bit;
};
// sway's names, the first of each bit being the one written.
constexpr ModifierName kModifierNames[] = {
    {"Shift", gtk::kShiftMask}, {"Ctrl", gtk::kControlMask}, {"Control", gtk::kControlMask},
    {"Mod1", gtk::kMod1Mask},   {"Alt", gtk::kMod1Mask},     {"Mod4", gtk::kMod4Mask},
    {"Super", gtk::kMod4Mask},  {"Lock", gtk::kLockMask},    {"Mod2", 1u << 4},
    {"Mod3", 1u << 5},          {"Mod5", 1u << 7},
};

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos)
    return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::vector<std::string> words(std::string_view line) {
  std::istringstream in{std::string(line)};
  std::vector<std::string> result;
  for (std::string word; in >> word;)
    result.push_back(word);
  return result;
}

// Reads a configuration as sway does, as far as key bindings go.
class BindingReader {
 public:
  void read(const std::string& text, int depth);
  std::vector<SwayChord> chords;

 private:
  std::string substituted(std::string line) const;
  void statement(const std::string& line, int depth);
  void bindsym(const std::vector<std::string>& arguments);
  void include(const std::string& pattern, int depth);

  std::map<std::string, std::string> variables_;
  // The blocks open around the current line: their first words.
  std::vector<std::vector<std::string>> blocks_;
};

void BindingReader::read(const std::string& text, int depth) {
  std::istringstream in(text);
  std::string joined;
  for (std::string raw; std::getline(in, raw);) {
    std::string_view line = trimmed(raw);
    if (!line.empty() && line.back() == '\\') {
      joined += std::string(line.substr(0, line.size() - 1)) + " ";
      continue;
    }
    joined += std::string(line);
    statement(std::string(trimmed(joined)), depth);
    joined.clear();
  }
  if (!joined.empty())
    statement(std::string(trimmed(joined)), depth);
}

std::string BindingReader::substituted(std::string line) const {
  // The longest variable name that fits wins, as in sway.
  for (std::size_t at = line.find('$'); at != std::string::npos; at = line.find('$', at + 1)) {
    const std::string* best = nullptr;
    for (const auto& [name, value] : variables_) {
      if (line.compare(at, name.size(), name) == 0 && (!best || name.size() > best->size()))
        best = &name;
    }
    if (best) {
      const std::string& value = variables_.at(*best);
      line.replace(at, best->size(), value);
      at += value.empty() ? 0 : value.size() - 1;
    }
  }
  return line;
}

void BindingReader::statement(const std::string& line, int depth) {
  if (line.empty() || line.front() == '#')
    return;
  if (line == "}") {
    if (!blocks_.empty())
      blocks_.pop_back();
    return;
  }
  std::vector<std::string> parts = words(substituted(line));
  if (parts.empty())
    return;
  if (parts.back() == "{") {
    parts.pop_back();
    blocks_.push_back(std::move(parts));
    return;
  }
  if (!blocks_.empty()) {
    // Only a block of bindsym lines binds in the default mode.
    const auto& block = blocks_.back();
    if (blocks_.size() == 1 && !block.empty() && block.front() == "bindsym") {
      std::vector<std::string> arguments(block.begin() + 1, block.end());
      arguments.insert(arguments.end(), parts.begin(), parts.end());
      bindsym(arguments);
    }
    return;
  }
  const std::string& command = parts.front();
  if (command == "set" && parts.size() >= 3 && parts[1].size() > 1 && parts[1][0] == '$') {
    std::string value;
    for (std::size_t i = 2; i < parts.size(); ++i)
      value += (i > 2 ? " " : "") + parts[i];
    variables_[parts[1]] = value;
  } else if (command == "bindsym") {
    bindsym(std::vector<std::string>(parts.begin() + 1, parts.end()));
  } else if (command == "include" && parts.size() >= 2) {
    include(std::string(trimmed(line.substr(line.find("include") + 7))), depth);
  }
}

void BindingReader::bindsym(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (argument.rfind("--", 0) == 0) {
      // A binding on the key's release does not hold its press.
      if (argument == "--release")
        return;
      continue;
    }
    if (auto chord = parseSwayChord(argument))
      chords.push_back(std::move(*chord));
    return;
  }
}

void BindingReader::include(const std::string& pattern, int depth) {
  if (depth >= kIncludeDepth)
    return;
  wordexp_t expanded{};
  if (::wordexp(substituted(pattern).c_str(), &expanded, WRDE_NOCMD) != 0)
    return;
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const fs::path base = configHome && *configHome ? fs::path(configHome) / "sway"
                        : home                    ? fs::path(home) / ".config" / "sway"
                                                  : fs::path();
  for (std::size_t i = 0; i < expanded.we_wordc; ++i) {
    fs::path file = expanded.we_wordv[i];
    if (file.is_relative())
      file = base / file;
    std::error_code error;
    if (!fs::is_regular_file(file, error) || fs::file_size(file, error) > kLargestFile)
      continue;
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    read(text.str(), depth + 1);
  }
  ::wordfree(&expanded);
}

}  // namespace

std::optional<SwayChord> parseSwayChord(std::string_view text) {
  SwayChord chord;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('+', start), text.size());
    const std::string part(text.substr(start, end - start));
    start = end + 1;
    if (part.empty())
      return std::nullopt;
    const auto modifier = std::find_if(
        std::begin(kModifierNames), std::end(kModifierNames),
        [&](const ModifierName& name) { return g_ascii_strcasecmp(name.name, part.c_str()) == 0; });
    if (modifier != std::end(kModifierNames)) {
      chord.modifiers |= modifier->bit;
      continue;
    }
    const xkb_keysym_t keysym = xkb_keysym_from_name(part.c_str(), XKB_KEYSYM_CASE_INSENSITIVE);
    if (keysym == XKB_KEY_NoSymbol)
      return std::nullopt;
    chord.keysyms.push_back(keysym);
  }
  if (chord.keysyms.empty())
    return std::nullopt;
  std::sort(chord.keysyms.begin(), chord.keysyms.end());
  return chord;
}

std::optional<std::string> swayChordText(std::uint16_t modifiers, std::uint32_t keysym) {
  char name[64];
  if (xkb_keysym_get_name(keysym, name, sizeof name) <= 0)
    return std::nullopt;
  std::string text;
  std::uint16_t written = 0;
  for (const ModifierName& modifier : kModifierNames) {
    if ((modifiers & modifier.bit) && !(written & modifier.bit)) {
      text += std::string(modifier.name) + "+";
      written |= modifier.bit;
    }
  }
  return text + name;
}

std::vector<SwayChord> chordsBoundIn(const std::string& configuration) {
  BindingReader reader;
  reader.read(configuration, 0);
  return std::move(reader.chords);
}

}  // namespace lumivane::platform::wayland
