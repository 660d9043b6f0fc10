#include <fcntl.h>
#include <gio/gdesktopappinfo.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11/x11_login_items.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;
using platform::NSError;
using platform::SMAppServiceStatus;
using platform::x11::AutostartFolders;
using platform::x11::X11LoginItems;

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "lumivane-autostart-XXXXXX").string();
    if (::mkdtemp(pattern.data()))
      path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    // Folders a test made read-only must be writable again to be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

struct KeyFileFree {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileFree>;

// The entry as the desktop reads it; null when it does not parse.
KeyFile parse(const fs::path& file) {
  KeyFile keys(g_key_file_new());
  if (!g_key_file_load_from_file(keys.get(), file.c_str(), G_KEY_FILE_NONE, nullptr))
    return nullptr;
  return keys;
}

std::optional<std::string> value(const KeyFile& keys, const char* key) {
  gchar* text = g_key_file_get_string(keys.get(), "Desktop Entry", key, nullptr);
  if (!text)
    return std::nullopt;
  std::string result(text);
  g_free(text);
  return result;
}

// The command an entry's Exec runs, split into arguments as GLib's launcher
// splits it (field codes aside, of which the entry has none but "%%").
std::vector<std::string> command(const KeyFile& keys) {
  std::string exec = value(keys, "Exec").value_or("");
  for (std::size_t at = exec.find("%%"); at != std::string::npos; at = exec.find("%%", at + 1))
    exec.erase(at, 1);
  gchar** argv = nullptr;
  std::vector<std::string> words;
  if (g_shell_parse_argv(exec.c_str(), nullptr, &argv, nullptr)) {
    for (gchar** word = argv; *word; ++word)
      words.emplace_back(*word);
    g_strfreev(argv);
  }
  return words;
}

// Every file in `folder` whose name is not `keep`: what a write left behind.
std::vector<std::string> strayFiles(const fs::path& folder, const std::string& keep) {
  std::vector<std::string> stray;
  std::error_code ignored;
  for (const auto& file : fs::directory_iterator(folder, ignored)) {
    if (file.path().filename() != keep)
      stray.push_back(file.path().filename().string());
  }
  return stray;
}

class X11LoginItemsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(root.path().empty()); }

  AutostartFolders folders() const {
    return AutostartFolders{
        userFolder(), {root.path() / "xdg1" / "autostart", root.path() / "xdg2" / "autostart"}};
  }
  fs::path userFolder() const { return root.path() / "config" / "autostart"; }
  fs::path userEntry() const { return userFolder() / "lumivane.desktop"; }
  fs::path systemEntry(int n) const {
    return root.path() / ("xdg" + std::to_string(n)) / "autostart" / "lumivane.desktop";
  }
  X11LoginItems items(std::optional<fs::path> executable = fs::path("/usr/bin/lumivane")) const {
    return X11LoginItems({.executable = std::move(executable), .folders = folders()});
  }

  TemporaryFolder root;
};

// The entry that registering writes is one the desktop reads and that starts
// exactly the given program, whatever characters its path holds.
TEST_F(X11LoginItemsTest, RegisteringWritesAnEntryThatStartsTheProgram) {
  const std::vector<std::string> programs = {
      "/usr/bin/lumivane",
      "/opt/Lumivane Host/bin/lumivane",
      "/home/jo/it's \"quoted\" `ticked` $HOME \\ back (1)&b;c=d|e<f>g~h*i?#/lumivane 100%",
      "/opt/L\u00fcmivane/lumivane",
  };
  for (const auto& program : programs) {
    SCOPED_TRACE(program);
    auto loginItems = items(fs::path(program));
    ASSERT_TRUE(loginItems.isSupported());
    std::optional<NSError> error;
    ASSERT_TRUE(loginItems.mainAppService().registerAndReturnError(error));
    EXPECT_FALSE(error);
    EXPECT_EQ(loginItems.mainAppService().status(), SMAppServiceStatus::enabled);

    auto keys = parse(userEntry());
    ASSERT_TRUE(keys) << contents(userEntry());
    EXPECT_EQ(value(keys, "Type"), "Application");
    EXPECT_EQ(value(keys, "Name"), "Lumivane");
    EXPECT_EQ(value(keys, "Icon"), "lumivane");
    EXPECT_EQ(value(keys, "Terminal"), "false");
    EXPECT_EQ(value(keys, "X-GNOME-Autostart-enabled"), "true");
    EXPECT_EQ(value(keys, "Hidden"), std::nullopt);
    EXPECT_TRUE(value(keys, "Comment"));
    EXPECT_EQ(command(keys), std::vector<std::string>{program}) << value(keys, "Exec").value_or("");
    EXPECT_EQ(fs::status(userEntry()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
  }

  // Without a path of its own, the entry starts the running program.
  auto loginItems = items(std::nullopt);
  std::optional<NSError> error;
  ASSERT_TRUE(loginItems.mainAppService().registerAndReturnError(error));
  EXPECT_EQ(command(parse(userEntry())),
            std::vector<std::string>{fs::read_symlink("/proc/self/exe").string()});
  EXPECT_EQ(strayFiles(userFolder(), "lumivane.desktop"), std::vector<std::string>{});
}

// GLib's launcher, which desktop sessions start autostart entries with, runs
// the program at an awkward path from the entry. (GLib looks the program up
// before it turns "%%" into "%", so a path with "%" is left to the test
// above.)
TEST_F(X11LoginItemsTest, TheDesktopsLauncherStartsTheProgramFromTheEntry) {
  const fs::path marker = root.path() / "started";
  const fs::path program = root.path() / "my \"apps\" & $things" / "run me (now).sh";
  writeFile(program, "#!/bin/sh\nprintf '%s' \"$0\" > '" + marker.string() + "'\n");
  fs::permissions(program, fs::perms::owner_all);

  auto loginItems = items(program);
  std::optional<NSError> error;
  ASSERT_TRUE(loginItems.mainAppService().registerAndReturnError(error));

  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(userEntry().c_str());
  ASSERT_NE(info, nullptr) << contents(userEntry());
  GPid pid = 0;
  GError* failure = nullptr;
  const bool launched = g_desktop_app_info_launch_uris_as_manager(
      info, nullptr, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
      [](GDesktopAppInfo*, GPid child, gpointer out) { *static_cast<GPid*>(out) = child; }, &pid,
      &failure);
  g_object_unref(info);
  ASSERT_TRUE(launched) << (failure ? failure->message : "");
  ASSERT_GT(pid, 0);
  int status = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(WIFEXITED(status)) << "the program did not end";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(contents(marker), program.string());
}

// Switching the login item off hides the program from the session, a
// system-wide entry of the same name included; switching it on again wins
// over that entry too.
TEST_F(X11LoginItemsTest, UnregisteringMasksASystemWideEntry) {
  const std::string systemText =
      "[Desktop Entry]\nType=Application\nName=Lumivane\nExec=/usr/bin/lumivane\n";
  writeFile(systemEntry(2), systemText);
  auto loginItems = items();
  auto& service = loginItems.mainAppService();
  EXPECT_EQ(service.status(), SMAppServiceStatus::enabled);

  std::optional<NSError> error;
  ASSERT_TRUE(service.unregisterAndReturnError(error));
  EXPECT_FALSE(error);
  EXPECT_EQ(service.status(), SMAppServiceStatus::notRegistered);
  auto keys = parse(userEntry());
  ASSERT_TRUE(keys);
  EXPECT_EQ(value(keys, "Hidden"), "true");
  EXPECT_EQ(contents(systemEntry(2)), systemText);

  ASSERT_TRUE(service.registerAndReturnError(error));
  EXPECT_EQ(service.status(), SMAppServiceStatus::enabled);
  EXPECT_EQ(value(parse(userEntry()), "Hidden"), std::nullopt);

  // Unregistering twice is no failure.
  ASSERT_TRUE(service.unregisterAndReturnError(error));
  ASSERT_TRUE(service.unregisterAndReturnError(error));
  EXPECT_EQ(service.status(), SMAppServiceStatus::notRegistered);
  EXPECT_EQ(strayFiles(userFolder(), "lumivane.desktop"), std::vector<std::string>{});
}

// The status is that of the entry the session would use: the user's, else
// the first system-wide one, read anew on every call.
TEST_F(X11LoginItemsTest, StatusFollowsTheEffectiveEntry) {
  const std::string enabled = "[Desktop Entry]\nType=Application\nName=L\nExec=lumivane\n";
  struct Case {
    const char* what;
    std::optional<std::string> user;
    std::optional<std::string> system1;
    std::optional<std::string> system2;
    SMAppServiceStatus expected;
  };
  const std::vector<Case> cases = {
      {"no entry anywhere", {}, {}, {}, SMAppServiceStatus::notRegistered},
      {"the user's entry", enabled, {}, {}, SMAppServiceStatus::enabled},
      {"a system-wide entry", {}, {}, enabled, SMAppServiceStatus::enabled},
      {"a hidden entry", enabled + "Hidden=true\n", {}, {}, SMAppServiceStatus::notRegistered},
      {"an entry switched off",
       enabled + "X-GNOME-Autostart-enabled=false\n",
       {},
       {},
       SMAppServiceStatus::notRegistered},
      {"an entry switched on",
       enabled + "X-GNOME-Autostart-enabled=true\nHidden=false\n",
       {},
       {},
       SMAppServiceStatus::enabled},
      {"a flag that is not a boolean",
       enabled + "Hidden=perhaps\n",
       {},
       {},
       SMAppServiceStatus::enabled},
      {"an entry that does not parse",
       "Exec=lumivane\n[Desktop Entry\n",
       {},
       {},
       SMAppServiceStatus::notRegistered},
      {"a file without an entry group",
       "[Something Else]\nExec=lumivane\n",
       {},
       {},
       SMAppServiceStatus::notRegistered},
      {"the user's hidden entry over a system one",
       enabled + "Hidden=true\n",
       enabled,
       {},
       SMAppServiceStatus::notRegistered},
      {"the user's broken entry over a system one",
       "not an entry",
       enabled,
       {},
       SMAppServiceStatus::notRegistered},
      {"the first system folder over the second",
       {},
       enabled + "Hidden=true\n",
       enabled,
       SMAppServiceStatus::notRegistered},
      {"the second system folder when the first has none",
       {},
       {},
       enabled,
       SMAppServiceStatus::enabled},
  };
  auto loginItems = items();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::pair<fs::path, std::optional<std::string>>> files = {
        {userEntry(), c.user}, {systemEntry(1), c.system1}, {systemEntry(2), c.system2}};
    for (const auto& [file, text] : files) {
      fs::remove(file);
      if (text)
        writeFile(file, *text);
    }
    EXPECT_EQ(loginItems.mainAppService().status(), c.expected);
  }
}

// Where the entry goes follows the environment; without a place for it the
// system has no login items, and a write says why.
TEST_F(X11LoginItemsTest, TheEnvironmentPlacesTheAutostartFolders) {
  using Env = std::map<std::string, std::string>;
  auto placed = AutostartFolders::fromEnvironment(
      Env{{"XDG_CONFIG_HOME", "/x/config"}, {"HOME", "/home/u"}, {"XDG_CONFIG_DIRS", "/a:rel:/b"}});
  EXPECT_EQ(placed.user, fs::path("/x/config/autostart"));
  EXPECT_EQ(placed.system, (std::vector<fs::path>{"/a/autostart", "/b/autostart"}));

  placed = AutostartFolders::fromEnvironment(Env{{"XDG_CONFIG_HOME", "relative"}, {"HOME", "/h"}});
  EXPECT_EQ(placed.user, fs::path("/h/.config/autostart"));
  EXPECT_EQ(placed.system, std::vector<fs::path>{"/etc/xdg/autostart"});

  placed = AutostartFolders::fromEnvironment(Env{{"XDG_CONFIG_HOME", ""}, {"XDG_CONFIG_DIRS", ""}});
  EXPECT_EQ(placed.user, std::nullopt);
  EXPECT_EQ(placed.system, std::vector<fs::path>{"/etc/xdg/autostart"});

  X11LoginItems nowhere(
      {.executable = fs::path("/usr/bin/lumivane"), .folders = AutostartFolders{std::nullopt, {}}});
  EXPECT_FALSE(nowhere.isSupported());
  std::optional<NSError> error;
  EXPECT_FALSE(nowhere.mainAppService().registerAndReturnError(error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, ENOENT);
  EXPECT_NE(error->localizedDescription.find("HOME"), std::string::npos);
}

// A missing configuration folder is made, private to the user.
TEST_F(X11LoginItemsTest, RegisteringMakesMissingFoldersPrivately) {
  ASSERT_FALSE(fs::exists(root.path() / "config"));
  auto loginItems = items();
  std::optional<NSError> error;
  ASSERT_TRUE(loginItems.mainAppService().registerAndReturnError(error));
  EXPECT_TRUE(fs::is_regular_file(userEntry()));
  for (const auto& folder : {root.path() / "config", userFolder()})
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all) << folder;
}

// Paths an entry cannot name are refused rather than written wrong; switching
// the item off still works with them.
TEST_F(X11LoginItemsTest, AProgramPathAnEntryCannotHoldIsRefused) {
  const std::vector<std::string> programs = {"/opt/line\nbreak/lumivane",
                                             "/opt/latin1-\xe9/lumivane"};
  for (const auto& program : programs) {
    auto loginItems = items(fs::path(program));
    std::optional<NSError> error;
    EXPECT_FALSE(loginItems.mainAppService().registerAndReturnError(error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "NSPOSIXErrorDomain");
    EXPECT_EQ(error->code, EINVAL);
    EXPECT_NE(error->localizedDescription.find(userEntry().string()), std::string::npos);
    EXPECT_FALSE(fs::exists(userEntry()));

    error.reset();
    EXPECT_TRUE(loginItems.mainAppService().unregisterAndReturnError(error));
    EXPECT_EQ(loginItems.mainAppService().status(), SMAppServiceStatus::notRegistered);
    EXPECT_TRUE(parse(userEntry()));
    fs::remove(userEntry());
  }
}

// Runs `body` as a user who may not write to folders this test's user made:
// in a child process that gives up root when the tests run as root.
// Returns what `body` returned, or "child failed".
std::string asUnprivilegedUser(const std::function<std::string()>& body) {
  if (::geteuid() != 0)
    return body();
  int fds[2];
  if (::pipe(fds) != 0)
    return "child failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      ::_exit(1);
    const std::string result = body();
    const ssize_t written = ::write(fds[1], result.data(), result.size());
    ::_exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
  }
  ::close(fds[1]);
  std::string result;
  char buffer[512];
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    result.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : "child failed";
}

// A write that fails says which file and why, and leaves the entry that was
// there as it was, with nothing half-written beside it.
TEST_F(X11LoginItemsTest, AFailedWriteReportsWhyAndKeepsThePreviousEntry) {
  auto loginItems = items();
  auto& service = loginItems.mainAppService();
  std::optional<NSError> error;
  ASSERT_TRUE(service.registerAndReturnError(error));
  const std::string before = contents(userEntry());

  // A folder the user may not write to.
  fs::permissions(root.path(), fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
  for (const auto& folder : {root.path() / "config", userFolder()}) {
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
  }
  const std::string outcome = asUnprivilegedUser([&] {
    std::optional<NSError> failure;
    const bool done = service.unregisterAndReturnError(failure);
    if (done || !failure)
      return std::string("succeeded");
    return failure->domain + "|" + std::to_string(failure->code) + "|" +
           failure->localizedDescription;
  });
  EXPECT_EQ(outcome, "NSPOSIXErrorDomain|" + std::to_string(EACCES) + "|Could not write " +
                         userEntry().string() + ": Permission denied");
  fs::permissions(userFolder(), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(contents(userEntry()), before);
  EXPECT_EQ(service.status(), SMAppServiceStatus::enabled);

  // A disk that fills up in the middle of the write: the size limit stops
  // the write after a few bytes, as a full disk would.
  struct sigaction ignore {};
  struct sigaction previousAction {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &previousAction);
  rlimit previousLimit{};
  ::getrlimit(RLIMIT_FSIZE, &previousLimit);
  rlimit tiny = previousLimit;
  tiny.rlim_cur = 16;
  ::setrlimit(RLIMIT_FSIZE, &tiny);
  error.reset();
  const bool done = service.unregisterAndReturnError(error);
  ::setrlimit(RLIMIT_FSIZE, &previousLimit);
  ::sigaction(SIGXFSZ, &previousAction, nullptr);
  EXPECT_FALSE(done);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, EFBIG);
  EXPECT_EQ(error->localizedDescription,
            "Could not write " + userEntry().string() + ": File too large");
  EXPECT_EQ(contents(userEntry()), before);
  EXPECT_EQ(strayFiles(userFolder(), "lumivane.desktop"), std::vector<std::string>{});

  // Where the folder should be, a file.
  fs::remove_all(root.path() / "config");
  writeFile(root.path() / "config", "not a folder");
  error.reset();
  EXPECT_FALSE(service.registerAndReturnError(error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, ENOTDIR);
  EXPECT_NE(error->localizedDescription.find(userFolder().string()), std::string::npos)
      << error->localizedDescription;
}

}  // namespace
}  // namespace lumivane
