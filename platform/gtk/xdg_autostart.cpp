#include "platform/gtk/xdg_autostart.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

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

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and says whether the data reached the file: close reports
  // late write errors on some file systems.
  int close() {
    const int error = ::close(std::exchange(fd_, -1)) == 0 ? 0 : errno;
    return error == EINTR ? 0 : error;
  }
  void reset() {
    if (fd_ >= 0)
      ::close(std::exchange(fd_, -1));
  }

 private:
  int fd_;
};

// A file that is removed when this goes, unless kept.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty())
      ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& path() const { return path_; }
  void keep() { path_.clear(); }

 private:
  std::string path_;
};

struct KeyFileFree {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};

int writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return errno;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Makes `folder` and the folders above it that are missing, private to the
// user as configuration folders are. 0, or the errno of the failed mkdir
// with `failed` naming its folder.
int makeFolders(const std::filesystem::path& folder, std::filesystem::path& failed) {
  std::filesystem::path partial;
  for (const auto& part : folder) {
    partial /= part;
    if (::mkdir(partial.c_str(), 0700) == 0 || errno == EEXIST)
      continue;
    const int error = errno;
    // A folder above ours that we may not create but that exists is fine.
    struct stat info {};
    if (::stat(partial.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
      continue;
    failed = partial;
    return error;
  }
  return 0;
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

std::string entryText(const std::string& exec, bool hidden) {
  std::string text;
  text += "[Desktop Entry]\n";
  text += "Type=Application\n";
  text += "Name=Lumivane\n";
  text += "Comment=Writing assistant, ready from a hot key\n";
  text += "Exec=" + exec + "\n";
  text += "Icon=lumivane\n";
  text += "Terminal=false\n";
  text += hidden ? "X-GNOME-Autostart-enabled=false\n" : "X-GNOME-Autostart-enabled=true\n";
  if (hidden)
    text += "Hidden=true\n";
  return text;
}

}  // namespace

std::optional<std::string> desktopEntryExec(const std::string& program) {
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
  // First the command line's own rules: inside quotes, ", `, $ and \ take a
  // backslash; a literal % is written %% everywhere, as % starts a field
  // code. Then the entry file's: every backslash is doubled once more.
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
  std::string value;
  for (const char c : line) {
    if (c == '\\')
      value += '\\';
    value += c;
  }
  return value;
}

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
    exec = desktopEntryExec(program->string());
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

  const std::filesystem::path folder = entry->parent_path();
  std::filesystem::path failedFolder;
  if (const int failed = makeFolders(folder, failedFolder)) {
    error = posixError(
        failed, "Could not create the folder " + failedFolder.string() + ": " + describe(failed));
    return false;
  }

  auto fail = [&](int code) {
    error = posixError(code, "Could not write " + entry->string() + ": " + describe(code));
    return false;
  };
  // The entry is written beside itself under a name the desktop ignores and
  // then renamed over it, so that a reader (the session starting up, the next
  // status()) finds the old entry or the new one, never a part of one, and a
  // failed write leaves the old entry as it was.
  std::string pattern = (folder / ".lumivane.desktop.XXXXXX").string();
  FileDescriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
  if (file.get() < 0)
    return fail(errno);
  TemporaryFile temporary(pattern);
  if (const int failed = writeAll(file.get(), text))
    return fail(failed);
  if (::fchmod(file.get(), 0644) != 0 || ::fsync(file.get()) != 0)
    return fail(errno);
  if (const int failed = file.close())
    return fail(failed);
  if (::rename(temporary.path().c_str(), entry->c_str()) != 0)
    return fail(errno);
  temporary.keep();
  // The rename itself reaches the disk with the folder. The entry is in
  // place whatever this says, so a failure here is not the user's concern.
  FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() >= 0)
    ::fsync(directory.get());
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

  std::unique_ptr<GKeyFile, KeyFileFree> file(g_key_file_new());
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
