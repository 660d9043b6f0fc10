#include "platform/gtk/xdg_autostart.h"

#include <glib.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/gtk/glib_handles.h"
#include "platform/utf8.h"

namespace lumivane::platform::gtk {
namespace {

constexpr const char* kEntryName = "lumivane.desktop";
constexpr const char* kEntryGroup = "Desktop Entry";
// What the entry runs when the host cannot find its own program file: a
// hidden entry still needs a command, and the one on PATH is the best guess.
constexpr const char* kFallbackCommand = "lumivane";

std::string describe(int error) {
  return std::system_category().message(error);
}

NSError posixError(int code, std::string description) {
  return NSError{kPosixErrorDomain, code, std::move(description)};
}

struct KeyFileFree {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileFree>;

// The errno behind a failure GLib reported for a file. GLib's codes stand
// for errnos, though not for all (EFBIG, a file grown past a limit, has
// none); its message always ends with the errno's own description.
int errnoOf(const GError& error) {
  constexpr int kLastErrno = 255;
  for (int code = 1; code <= kLastErrno; ++code) {
    if (g_file_error_from_errno(code) == error.code &&
        g_str_has_suffix(error.message, g_strerror(code))) {
      return code;
    }
  }
  return EIO;
}

std::optional<std::filesystem::path> absolutePath(const std::map<std::string, std::string>& env,
                                                  const char* name) {
  auto it = env.find(name);
  if (it == env.end() || it->second.empty() || it->second.front() != '/')
    return std::nullopt;
  return std::filesystem::path(it->second);
}

// The running program's file. /proc names a program that was replaced
// while running (an update) "… (deleted)"; the file now at its path is the
// one to start next time.
std::optional<std::filesystem::path> runningExecutable(int& error) {
  std::error_code failure;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failure);
  if (failure) {
    error = failure.value();
    return std::nullopt;
  }
  const std::string deleted = " (deleted)";
  std::string text = self.string();
  if (text.size() > deleted.size() && text.ends_with(deleted) &&
      !std::filesystem::exists(self, failure)) {
    text.resize(text.size() - deleted.size());
    self = text;
  }
  return self;
}

// The entry, as the desktop reads it. GKeyFile escapes what the format
// reserves in each value.
std::string entryText(const std::string& exec, bool hidden) {
  KeyFilePtr file(g_key_file_new());
  g_key_file_set_string(file.get(), kEntryGroup, "Type", "Application");
  g_key_file_set_string(file.get(), kEntryGroup, "Name", "Lumivane");
  g_key_file_set_string(file.get(), kEntryGroup, "Comment",
                        "Writing assistant, ready from a hot key");
  g_key_file_set_string(file.get(), kEntryGroup, "Exec", exec.c_str());
  g_key_file_set_string(file.get(), kEntryGroup, "Icon", "lumivane");
  g_key_file_set_boolean(file.get(), kEntryGroup, "Terminal", FALSE);
  g_key_file_set_boolean(file.get(), kEntryGroup, "X-GNOME-Autostart-enabled", !hidden);
  if (hidden)
    g_key_file_set_boolean(file.get(), kEntryGroup, "Hidden", TRUE);
  gsize length = 0;
  GCharPtr text(g_key_file_to_data(file.get(), &length, nullptr));
  return std::string(text.get(), length);
}

// The command line of an Exec key that runs `program` with no arguments:
// quoted where the program's path needs it. Absent for a path that an entry
// cannot hold (one that is not UTF-8 or holds a control character).
std::optional<std::string> execCommandLine(const std::string& program) {
  if (program.empty() || !isValidUtf8(program))
    return std::nullopt;
  bool needsQuotes = false;
  for (const char c : program) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      return std::nullopt;
    // Characters a command line reserves, and "=", which may not appear
    // unquoted in the program's name.
    if (std::string_view(" \"'\\><~|&;$*?#`()=").find(c) != std::string_view::npos)
      needsQuotes = true;
  }
  // Inside quotes, ", `, $ and \ take a backslash; a literal % is written %%
  // everywhere, as % starts a field code.
  std::string line;
  if (needsQuotes)
    line += '"';
  for (const char c : program) {
    if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\'))
      line += '\\';
    if (c == '%')
      line += '%';
    line += c;
  }
  if (needsQuotes)
    line += '"';
  return line;
}

}  // namespace

// --- AutostartFolders ---

AutostartFolders AutostartFolders::fromEnvironment(
    const std::map<std::string, std::string>& environment) {
  AutostartFolders folders;
  if (auto config = absolutePath(environment, "XDG_CONFIG_HOME"))
    folders.user = *config / "autostart";
  else if (auto home = absolutePath(environment, "HOME"))
    folders.user = *home / ".config" / "autostart";

  std::string dirs;
  if (auto it = environment.find("XDG_CONFIG_DIRS"); it != environment.end())
    dirs = it->second;
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string dir = dirs.substr(start, end - start);
    if (!dir.empty() && dir.front() == '/')
      folders.system.push_back(std::filesystem::path(dir) / "autostart");
    start = end + 1;
  }
  if (folders.system.empty())
    folders.system.push_back("/etc/xdg/autostart");
  return folders;
}

AutostartFolders AutostartFolders::fromProcess() {
  std::map<std::string, std::string> environment;
  for (const char* name : {"XDG_CONFIG_HOME", "HOME", "XDG_CONFIG_DIRS"}) {
    if (const char* value = std::getenv(name))
      environment[name] = value;
  }
  return fromEnvironment(environment);
}

// --- XdgAppService ---

XdgAppService::XdgAppService(AutostartFolders folders,
                             std::optional<std::filesystem::path> executable)
    : folders_(std::move(folders)), executable_(std::move(executable)) {}

std::optional<std::filesystem::path> XdgAppService::entryPath() const {
  if (!folders_.user)
    return std::nullopt;
  return *folders_.user / kEntryName;
}

bool XdgAppService::registerAndReturnError(std::optional<NSError>& error) {
  return write(/*hidden=*/false, error);
}

bool XdgAppService::unregisterAndReturnError(std::optional<NSError>& error) {
  return write(/*hidden=*/true, error);
}

bool XdgAppService::write(bool hidden, std::optional<NSError>& error) {
  const auto entry = entryPath();
  if (!entry) {
    error = posixError(ENOENT,
                       "Could not find the folder for programs that start at login: neither "
                       "XDG_CONFIG_HOME nor HOME is set to an absolute path");
    return false;
  }

  std::optional<std::string> exec;
  int lookupError = 0;
  const auto program = executable_ ? executable_ : runningExecutable(lookupError);
  if (program)
    exec = execCommandLine(program->string());
  if (!exec && !hidden) {
    // An entry must not start something else, or nothing at all.
    if (!program) {
      error = posixError(lookupError,
                         "Could not find Lumivane's program file: " + describe(lookupError));
    } else {
      error = posixError(EINVAL, "Could not write " + entry->string() +
                                     ": Lumivane's program is at a path that a login item "
                                     "cannot name: " +
                                     program->string());
    }
    return false;
  }
  // A hidden entry starts nothing, and failing to find the program must not
  // stop the user from switching the login item off.
  const std::string text = entryText(exec.value_or(kFallbackCommand), hidden);

  // Missing folders are made private to the user, as configuration folders
  // are.
  const std::filesystem::path folder = entry->parent_path();
  if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) {
    const int failed = errno;
    error = posixError(failed,
                       "Could not create the folder " + folder.string() + ": " + describe(failed));
    return false;
  }
  // Written beside the entry and renamed over it once on the disk, so that a
  // reader (the session starting up, the next status()) finds the old entry
  // or the new one, never a part of one, and a failed write leaves the old
  // entry as it was.
  GError* failure = nullptr;
  if (!g_file_set_contents_full(entry->c_str(), text.data(), static_cast<gssize>(text.size()),
                                static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                                                   G_FILE_SET_CONTENTS_DURABLE),
                                0644, &failure)) {
    GErrorPtr owned(failure);
    const int failed = errnoOf(*owned);
    error = posixError(failed, "Could not write " + entry->string() + ": " + describe(failed));
    return false;
  }
  return true;
}

SMAppServiceStatus XdgAppService::status() {
  // The user's entry wins over the system's; among the system's, the first.
  std::optional<std::filesystem::path> effective;
  std::error_code ignored;
  if (auto entry = entryPath(); entry && std::filesystem::exists(*entry, ignored))
    effective = entry;
  for (const auto& folder : folders_.system) {
    if (effective)
      break;
    if (std::filesystem::exists(folder / kEntryName, ignored))
      effective = folder / kEntryName;
  }
  if (!effective)
    return SMAppServiceStatus::notRegistered;

  KeyFilePtr file(g_key_file_new());
  if (!g_key_file_load_from_file(file.get(), effective->c_str(), G_KEY_FILE_NONE, nullptr) ||
      !g_key_file_has_group(file.get(), kEntryGroup)) {
    return SMAppServiceStatus::notRegistered;
  }
  // A value that is not a boolean counts as the key's default.
  auto flag = [&](const char* key, bool fallback) {
    GError* failure = nullptr;
    const gboolean value = g_key_file_get_boolean(file.get(), kEntryGroup, key, &failure);
    if (failure != nullptr) {
      g_error_free(failure);
      return fallback;
    }
    return value != FALSE;
  };
  if (flag("Hidden", false) || !flag("X-GNOME-Autostart-enabled", true))
    return SMAppServiceStatus::notRegistered;
  return SMAppServiceStatus::enabled;
}

// --- XdgAutostartLoginItems ---

XdgAutostartLoginItems::XdgAutostartLoginItems() : XdgAutostartLoginItems(Options{}) {}

XdgAutostartLoginItems::XdgAutostartLoginItems(Options options)
    : service_(options.folders ? std::move(*options.folders) : AutostartFolders::fromProcess(),
               std::move(options.executable)) {}

bool XdgAutostartLoginItems::isSupported() {
  return service_.entryPath().has_value();
}

}  // namespace lumivane::platform::gtk
