#include <glib.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gtk/xdg_autostart.h"

namespace lumivane {
namespace {

namespace fs = std::filesystem;
using platform::NSError;
using platform::SMAppServiceStatus;
using platform::gtk::AutostartFolders;
using platform::gtk::XdgAutostartLoginItems;

std::string contents(const fs::path& file) {
  std::stringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  return text.str();
}

void writeFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

// A key of the entry as GLib (which desktop sessions read entries with)
// reads it; absent when the entry does not parse or lacks the key.
std::optional<std::string> entryValue(const fs::path& file, const char* key) {
  std::unique_ptr<GKeyFile, decltype(&g_key_file_free)> keys(g_key_file_new(), g_key_file_free);
  if (!g_key_file_load_from_file(keys.get(), file.c_str(), G_KEY_FILE_NONE, nullptr))
    return std::nullopt;
  std::unique_ptr<gchar, decltype(&g_free)> text(
      g_key_file_get_string(keys.get(), "Desktop Entry", key, nullptr), g_free);
  return text ? std::optional<std::string>(text.get()) : std::nullopt;
}

// The command the entry's Exec runs, split into arguments as GLib's launcher
// splits it, its one field code ("%%") expanded.
std::vector<std::string> command(const fs::path& file) {
  std::string exec = entryValue(file, "Exec").value_or("");
  for (auto at = exec.find("%%"); at != std::string::npos; at = exec.find("%%", at + 1))
    exec.erase(at, 1);
  std::vector<std::string> words;
  gchar** argv = nullptr;
  if (g_shell_parse_argv(exec.c_str(), nullptr, &argv, nullptr)) {
    for (gchar** word = argv; *word; ++word)
      words.emplace_back(*word);
    g_strfreev(argv);
  }
  return words;
}

class X11LoginItemsTest : public ::testing::Test {
 protected:
  X11LoginItemsTest() {
    std::string pattern = (fs::temp_directory_path() / "lumivane-autostart-XXXXXX").string();
    if (::mkdtemp(pattern.data()))
      root = pattern;
  }
  ~X11LoginItemsTest() override {
    std::error_code ignored;
    for (const auto& folder : {root, root / "config", userFolder()})
      fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root, ignored);
  }
  void SetUp() override { ASSERT_FALSE(root.empty()); }

  fs::path userFolder() const { return root / "config" / "autostart"; }
  fs::path userEntry() const { return userFolder() / "lumivane.desktop"; }
  fs::path systemEntry(int n) const {
    return root / ("xdg" + std::to_string(n)) / "autostart" / "lumivane.desktop";
  }
  XdgAutostartLoginItems items(
      std::optional<fs::path> executable = fs::path("/usr/bin/lumivane")) const {
    return XdgAutostartLoginItems(
        {.executable = std::move(executable),
         .folders = AutostartFolders{
             userFolder(), {systemEntry(1).parent_path(), systemEntry(2).parent_path()}}});
  }
  // The names in the user's folder besides the entry: what a write left.
  std::vector<std::string> strayFiles() const {
    std::vector<std::string> stray;
    for (const auto& file : fs::directory_iterator(userFolder())) {
      if (file.path() != userEntry())
        stray.push_back(file.path().filename());
    }
    return stray;
  }

  fs::path root;
};

// Registering writes an entry that the desktop reads and that starts exactly
// the given program, whatever characters its path holds, making the missing
// folders private to the user on the way.
TEST_F(X11LoginItemsTest, RegisteringWritesAnEntryThatStartsTheProgram) {
  for (const std::string program : {"/usr/bin/lumivane", "/opt/Lumivane Host/bin/lumivane",
                                    "/home/jo/it's \"q\" `t` $HOME \\\\ (1)&b;c=d|e<f>g~h*?#/x 9%",
                                    "/opt/L\u00fcmivane/lumivane"}) {
    SCOPED_TRACE(program);
    auto loginItems = items(fs::path(program));
    std::optional<NSError> error;
    ASSERT_TRUE(loginItems.isSupported());
    ASSERT_TRUE(loginItems.mainAppService().registerAndReturnError(error));
    EXPECT_FALSE(error);
    EXPECT_EQ(loginItems.mainAppService().status(), SMAppServiceStatus::enabled);
    EXPECT_EQ(command(userEntry()), std::vector<std::string>{program})
        << entryValue(userEntry(), "Exec").value_or("(no Exec)");
    EXPECT_EQ(entryValue(userEntry(), "Type"), "Application");
    EXPECT_EQ(entryValue(userEntry(), "Name"), "Lumivane");
    EXPECT_EQ(entryValue(userEntry(), "Hidden"), std::nullopt);
  }
  for (const auto& folder : {root / "config", userFolder()})
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
  EXPECT_EQ(strayFiles(), std::vector<std::string>{});

  // Without a path of its own, the entry starts the running program.
  std::optional<NSError> error;
  ASSERT_TRUE(items(std::nullopt).mainAppService().registerAndReturnError(error));
  EXPECT_EQ(command(userEntry()), std::vector<std::string>{fs::read_symlink("/proc/self/exe")});
}

// Unregistering hides the program from the session, a system-wide entry of
// the same name included, which stays as it was; registering wins over it.
TEST_F(X11LoginItemsTest, UnregisteringMasksASystemWideEntry) {
  const std::string systemText = "[Desktop Entry]\nType=Application\nName=L\nExec=lumivane\n";
  writeFile(systemEntry(2), systemText);
  auto loginItems = items();
  auto& service = loginItems.mainAppService();
  EXPECT_EQ(service.status(), SMAppServiceStatus::enabled);
  std::optional<NSError> error;
  ASSERT_TRUE(service.unregisterAndReturnError(error));
  EXPECT_EQ(service.status(), SMAppServiceStatus::notRegistered);
  EXPECT_EQ(entryValue(userEntry(), "Hidden"), "true");
  EXPECT_EQ(contents(systemEntry(2)), systemText);
  ASSERT_TRUE(service.registerAndReturnError(error));
  EXPECT_EQ(service.status(), SMAppServiceStatus::enabled);
  ASSERT_TRUE(service.unregisterAndReturnError(error));
  ASSERT_TRUE(service.unregisterAndReturnError(error));
  EXPECT_EQ(service.status(), SMAppServiceStatus::notRegistered);
  EXPECT_FALSE(error);
}

// The status is that of the entry the session would use (the user's, else
// the first system-wide one), read anew on every call.
TEST_F(X11LoginItemsTest, StatusFollowsTheEffectiveEntry) {
  const std::string on = "[Desktop Entry]\nType=Application\nName=L\nExec=lumivane\n";
  const std::string hidden = on + "Hidden=true\n";
  using Files = std::vector<std::optional<std::string>>;  // user, system 1, system 2
  const std::vector<std::pair<Files, SMAppServiceStatus>> cases = {
      {{{}, {}, {}}, SMAppServiceStatus::notRegistered},
      {{on, {}, {}}, SMAppServiceStatus::enabled},
      {{{}, {}, on}, SMAppServiceStatus::enabled},
      {{hidden, on, {}}, SMAppServiceStatus::notRegistered},
      {{on + "X-GNOME-Autostart-enabled=false\n", {}, {}}, SMAppServiceStatus::notRegistered},
      {{on + "Hidden=perhaps\n", {}, {}}, SMAppServiceStatus::enabled},
      {{"Exec=lumivane\n[Desktop Entry\n", on, {}}, SMAppServiceStatus::notRegistered},
      {{"[Something Else]\nExec=lumivane\n", {}, {}}, SMAppServiceStatus::notRegistered},
      {{{}, hidden, on}, SMAppServiceStatus::notRegistered},
  };
  auto loginItems = items();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const fs::path paths[] = {userEntry(), systemEntry(1), systemEntry(2)};
    for (int f = 0; f < 3; ++f) {
      fs::remove(paths[f]);
      if (cases[i].first[f])
        writeFile(paths[f], *cases[i].first[f]);
    }
    EXPECT_EQ(loginItems.mainAppService().status(), cases[i].second) << "case " << i;
  }
}

// The environment places the folders; without a place for the user's entry
// there are no login items, and a write says why.
TEST_F(X11LoginItemsTest, TheEnvironmentPlacesTheAutostartFolders) {
  auto placed = AutostartFolders::fromEnvironment(
      {{"XDG_CONFIG_HOME", "/x/config"}, {"HOME", "/home/u"}, {"XDG_CONFIG_DIRS", "/a:rel:/b"}});
  EXPECT_EQ(placed.user, fs::path("/x/config/autostart"));
  EXPECT_EQ(placed.system, (std::vector<fs::path>{"/a/autostart", "/b/autostart"}));
  placed = AutostartFolders::fromEnvironment({{"XDG_CONFIG_HOME", "relative"}, {"HOME", "/h"}});
  EXPECT_EQ(placed.user, fs::path("/h/.config/autostart"));
  EXPECT_EQ(placed.system, std::vector<fs::path>{"/etc/xdg/autostart"});

  XdgAutostartLoginItems nowhere(
      {.executable = std::nullopt, .folders = AutostartFolders::fromEnvironment({{"HOME", ""}})});
  EXPECT_FALSE(nowhere.isSupported());
  std::optional<NSError> error;
  EXPECT_FALSE(nowhere.mainAppService().registerAndReturnError(error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, ENOENT);
}

// A path that an entry cannot name (a line break, bytes that are not UTF-8)
// is refused rather than written wrong; switching the item off still works.
TEST_F(X11LoginItemsTest, AProgramPathAnEntryCannotHoldIsRefused) {
  for (const std::string program : {"/opt/line\nbreak/lumivane", "/opt/latin1-\xe9/lumivane"}) {
    auto loginItems = items(fs::path(program));
    std::optional<NSError> error;
    EXPECT_FALSE(loginItems.mainAppService().registerAndReturnError(error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, EINVAL);
    EXPECT_NE(error->localizedDescription.find(userEntry().string()), std::string::npos);
    EXPECT_FALSE(fs::exists(userEntry()));
    EXPECT_TRUE(loginItems.mainAppService().unregisterAndReturnError(error));
    EXPECT_EQ(entryValue(userEntry(), "Hidden"), "true");
    fs::remove(userEntry());
  }
}

// Runs `body` as a user who may not write where this test's user made
// folders read-only: when the tests run as root, in a child process that
// gives root up. Returns what `body` returned.
std::string asUnprivilegedUser(const std::function<std::string()>& body) {
  if (::geteuid() != 0)
    return body();
  int fds[2];
  if (::pipe(fds) != 0)
    return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      ::_exit(1);
    const std::string result = body();
    ::_exit(::write(fds[1], result.data(), result.size()) == ssize_t(result.size()) ? 0 : 1);
  }
  ::close(fds[1]);
  std::string result;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    result.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : "child failed";
}

// A write that fails says which file and why, and leaves the previous entry
// as it was with nothing half-written beside it: in a folder the user may
// not write to, and when the disk fills up in the middle of the write.
TEST_F(X11LoginItemsTest, AFailedWriteReportsWhyAndKeepsThePreviousEntry) {
  auto loginItems = items();
  auto& service = loginItems.mainAppService();
  std::optional<NSError> error;
  ASSERT_TRUE(service.registerAndReturnError(error));
  const std::string before = contents(userEntry());

  const auto readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                        fs::perms::others_exec;
  for (const auto& folder : {root, root / "config", userFolder()})
    fs::permissions(folder, readOnly);
  const std::string outcome = asUnprivilegedUser([&] {
    std::optional<NSError> failure;
    if (service.unregisterAndReturnError(failure) || !failure)
      return std::string("succeeded");
    return failure->domain + "|" + std::to_string(failure->code) + "|" +
           failure->localizedDescription;
  });
  EXPECT_EQ(outcome, "NSPOSIXErrorDomain|" + std::to_string(EACCES) + "|Could not write " +
                         userEntry().string() + ": Permission denied");
  for (const auto& folder : {root, root / "config", userFolder()})
    fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(contents(userEntry()), before);

  // The size limit stops the write after a few bytes, as a full disk would.
  struct sigaction ignore {};
  struct sigaction previousAction {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &previousAction);
  rlimit previousLimit{};
  ::getrlimit(RLIMIT_FSIZE, &previousLimit);
  rlimit tiny = previousLimit;
  tiny.rlim_cur = 16;
  ::setrlimit(RLIMIT_FSIZE, &tiny);
  const bool done = service.unregisterAndReturnError(error);
  ::setrlimit(RLIMIT_FSIZE, &previousLimit);
  ::sigaction(SIGXFSZ, &previousAction, nullptr);
  EXPECT_FALSE(done);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, EFBIG);
  EXPECT_EQ(error->localizedDescription,
            "Could not write " + userEntry().string() + ": File too large");
  EXPECT_EQ(contents(userEntry()), before);
  EXPECT_EQ(service.status(), SMAppServiceStatus::enabled);
  EXPECT_EQ(strayFiles(), std::vector<std::string>{});
}

}  // namespace
}  // namespace lumivane
