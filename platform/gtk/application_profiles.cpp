#include "platform/gtk/application_profiles.h"

#include <gdk/gdk.h>
#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "platform/gtk/glib_handles.h"
#include "platform/gtk/key_symbols.h"

namespace lumivane::platform::gtk {

// The built-in table, compiled in from applications.conf.
std::string_view builtInApplicationsTable();

namespace {

struct GKeyFileFree {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
struct GStrvFree {
  void operator()(gchar** strings) const { g_strfreev(strings); }
};

std::string lowered(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(g_ascii_tolower(c)); });
  return result;
}

bool matchesAny(const std::vector<std::string>& patterns, const std::string& name) {
  if (name.empty())
    return false;
  const std::string subject = lowered(name);
  return std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
    return g_pattern_match_simple(pattern.c_str(), subject.c_str());
  });
}

std::optional<std::uint16_t> modifierNamed(std::string_view name) {
  const std::string lower = lowered(name);
  if (lower == "control" || lower == "ctrl")
    return kControlMask;
  if (lower == "shift")
    return kShiftMask;
  if (lower == "alt" || lower == "mod1")
    return kMod1Mask;
  if (lower == "super" || lower == "mod4")
    return kMod4Mask;
  return std::nullopt;
}

std::vector<std::string> listOf(GKeyFile* file, const char* group, const char* key) {
  std::vector<std::string> values;
  gsize count = 0;
  std::unique_ptr<gchar*, GStrvFree> list(
      g_key_file_get_string_list(file, group, key, &count, nullptr));
  for (gsize i = 0; list && i < count; ++i) {
    std::string value = lowered(g_strstrip(list.get()[i]));
    if (!value.empty())
      values.push_back(std::move(value));
  }
  return values;
}

// "keys...", "primary [keys...]" or "none"; `paste` allows keys after
// "primary", which copying has no use for.
std::optional<EditAction> parseAction(std::string_view text, bool paste, std::string* problem) {
  const std::string trimmed = [&] {
    GCharPtr copy(g_strndup(text.data(), text.size()));
    return std::string(g_strstrip(copy.get()));
  }();
  EditAction action;
  std::string_view keys = trimmed;
  if (trimmed == "none") {
    action.kind = EditAction::Kind::none;
    return action;
  }
  if (trimmed == "primary" || trimmed.starts_with("primary ")) {
    action.kind = EditAction::Kind::primary;
    keys.remove_prefix(std::string_view("primary").size());
    if (!paste && keys.find_first_not_of(' ') != std::string_view::npos) {
      *problem = "copying from PRIMARY presses no keys";
      return std::nullopt;
    }
    if (paste && keys.find_first_not_of(' ') == std::string_view::npos) {
      *problem = "pasting PRIMARY needs the application's keys that paste it";
      return std::nullopt;
    }
  }
  auto strokes = parseKeys(keys, problem);
  if (!strokes)
    return std::nullopt;
  if (action.kind == EditAction::Kind::keys && strokes->empty()) {
    *problem = "no keys given (write none for no action)";
    return std::nullopt;
  }
  action.keys = std::move(*strokes);
  return action;
}

}  // namespace

std::string processNameOf(pid_t pid) {
  // The longest name /proc/PID/comm holds.
  constexpr std::size_t kCommLength = 15;
  if (pid <= 0)
    return {};
  const std::filesystem::path folder = "/proc/" + std::to_string(pid);
  std::string comm;
  std::getline(std::ifstream(folder / "comm"), comm);
  std::error_code error;
  const std::string executable = std::filesystem::read_symlink(folder / "exe", error).filename();
  // A script's comm is the script's name where its executable is the
  // interpreter's; a long name is cut short in comm and whole in the link.
  if (comm.empty() || (comm.size() == kCommLength && executable.starts_with(comm)))
    return executable;
  return comm;
}

std::optional<std::vector<KeyStroke>> parseKeys(std::string_view text, std::string* problem) {
  std::vector<KeyStroke> strokes;
  std::size_t start = 0;
  while (start < text.size()) {
    if (text[start] == ' ') {
      ++start;
      continue;
    }
    if (text[start] == '"') {
      // Text typed as it stands, spaces and all, up to the closing quote.
      const std::size_t close = text.find('"', start + 1);
      if (close == std::string_view::npos) {
        *problem = "a quoted text has no closing \"";
        return std::nullopt;
      }
      const std::string_view quoted = text.substr(start + 1, close - start - 1);
      if (!g_utf8_validate(quoted.data(), static_cast<gssize>(quoted.size()), nullptr)) {
        *problem = "a quoted text is not UTF-8";
        return std::nullopt;
      }
      for (const char* c = quoted.data(); c < quoted.data() + quoted.size();
           c = g_utf8_next_char(c))
        strokes.push_back({gdk_unicode_to_keyval(g_utf8_get_char(c)), 0});
      start = close + 1;
      continue;
    }
    const std::size_t end = std::min(text.find(' ', start), text.size());
    const std::string_view chord = text.substr(start, end - start);
    start = end;
    KeyStroke stroke;
    std::size_t partStart = 0;
    for (;;) {
      const std::size_t plus = chord.find('+', partStart);
      // A '+' at the very end is the key itself ("Control++" is not needed:
      // the key is named "plus").
      if (plus == std::string_view::npos || plus + 1 == chord.size()) {
        const std::string name(chord.substr(partStart));
        stroke.keysym = gdk_keyval_from_name(name.c_str());
        if (name.empty() || stroke.keysym == GDK_KEY_VoidSymbol || stroke.keysym == 0) {
          *problem = "no key is named \"" + name + "\"";
          return std::nullopt;
        }
        break;
      }
      const auto modifier = modifierNamed(chord.substr(partStart, plus - partStart));
      if (!modifier) {
        *problem = "no modifier is named \"" +
                   std::string(chord.substr(partStart, plus - partStart)) +
                   "\" (Control, Shift, Alt or Super)";
        return std::nullopt;
      }
      stroke.modifiers |= *modifier;
      partStart = plus + 1;
    }
    strokes.push_back(stroke);
  }
  return strokes;
}

ApplicationProfiles ApplicationProfiles::builtIn(std::vector<std::string>* problems) {
  ApplicationProfiles profiles;
  profiles.add(builtInApplicationsTable(), "the built-in table", problems);
  return profiles;
}

std::optional<std::filesystem::path> ApplicationProfiles::userFile() {
  std::filesystem::path config;
  if (const char* home = std::getenv("XDG_CONFIG_HOME"); home && *home == '/') {
    config = home;
  } else if (const char* user = std::getenv("HOME"); user && *user == '/') {
    config = std::filesystem::path(user) / ".config";
  } else {
    return std::nullopt;
  }
  return config / "lumivane" / "applications.conf";
}

ApplicationProfiles ApplicationProfiles::forUser(std::vector<std::string>* problems) {
  ApplicationProfiles profiles = builtIn();
  const auto path = userFile();
  if (!path)
    return profiles;
  gchar* contents = nullptr;
  gsize length = 0;
  GError* rawError = nullptr;
  if (!g_file_get_contents(path->c_str(), &contents, &length, &rawError)) {
    GErrorPtr error(rawError);
    // No file is the usual case: the user has added nothing.
    if (!g_error_matches(error.get(), G_FILE_ERROR, G_FILE_ERROR_NOENT) && problems)
      problems->push_back(path->string() + ": cannot be read: " + error->message);
    return profiles;
  }
  GCharPtr text(contents);
  std::vector<std::string> found;
  profiles.add(std::string_view(text.get(), length), path->string(), &found);
  if (problems)
    problems->insert(problems->end(), found.begin(), found.end());
  return profiles;
}

bool ApplicationProfiles::add(std::string_view text,
                              const std::string& origin,
                              std::vector<std::string>* problems) {
  std::unique_ptr<GKeyFile, GKeyFileFree> file(g_key_file_new());
  GError* rawError = nullptr;
  if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE,
                                 &rawError)) {
    GErrorPtr error(rawError);
    if (problems)
      problems->push_back(origin + ": not read, not a key file: " + error->message);
    return false;
  }
  std::vector<Entry> added;
  std::unique_ptr<gchar*, GStrvFree> groups(g_key_file_get_groups(file.get(), nullptr));
  for (gchar** group = groups.get(); group && *group; ++group) {
    auto report = [&](const std::string& what) {
      if (problems)
        problems->push_back(origin + ": [" + *group + "] left out: " + what);
    };
    Entry entry;
    entry.profile.name = *group;
    entry.names = listOf(file.get(), *group, "match");
    entry.processes = listOf(file.get(), *group, "processes");
    if (entry.names.empty() && entry.processes.empty()) {
      report("it names no application (match= or processes=)");
      continue;
    }
    bool valid = true;
    for (const auto& [key, action, paste] : {std::tuple{"copy", &entry.profile.copy, false},
                                             std::tuple{"paste", &entry.profile.paste, true}}) {
      GCharPtr value(g_key_file_get_string(file.get(), *group, key, nullptr));
      if (!value) {
        report(std::string(key) + "= is missing");
        valid = false;
        break;
      }
      std::string problem;
      auto parsed = parseAction(value.get(), paste, &problem);
      if (!parsed) {
        report(std::string(key) + "=" + value.get() + ": " + problem);
        valid = false;
        break;
      }
      *action = std::move(*parsed);
    }
    if (valid)
      added.push_back(std::move(entry));
  }
  entries_.insert(entries_.begin(), std::make_move_iterator(added.begin()),
                  std::make_move_iterator(added.end()));
  return true;
}

std::optional<ApplicationProfile> ApplicationProfiles::profileFor(
    const ApplicationIdentity& application) const {
  for (const Entry& entry : entries_) {
    if (matchesAny(entry.names, application.className) ||
        matchesAny(entry.names, application.instanceName) ||
        matchesAny(entry.processes, application.processName)) {
      return entry.profile;
    }
  }
  return std::nullopt;
}

}  // namespace lumivane::platform::gtk
