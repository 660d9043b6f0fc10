#include "tests/support/sway_session.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>

#include "tests/support/wait_until.h"

namespace lumivane::test_support {
namespace {

namespace fs = std::filesystem;

// The unprivileged user sway runs as when the tests run as root.
constexpr uid_t kCompositorUser = 65534;

// Whether a server listens on the Unix socket at `path`.
bool acceptsConnections(const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (text.size() >= sizeof address.sun_path)
    return false;
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// A file the compositor's user can read.
bool writeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  out.close();
  std::error_code error;
  fs::permissions(path, fs::perms::others_read | fs::perms::group_read, fs::perm_options::add,
                  error);
  return out && !error;
}

std::string userName() {
  const passwd* user = ::getpwuid(::geteuid());
  return user ? user->pw_name : std::to_string(::geteuid());
}

}  // namespace

SwaySession::SwaySession() : SwaySession(Options{}) {}

SwaySession::SwaySession(Options options) {
  start(options);
}

SwaySession::~SwaySession() {
  end(compositor_);
}

void SwaySession::start(const Options& options) {
  if (!makeFolders("lumivane-sway"))
    return;
  // The compositor's user reads its configuration from here, and runs in a
  // runtime folder of its own.
  fs::permissions(directory_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::replace);
  fs::create_directories(directory_ / "compositor");
  fs::permissions(directory_ / "compositor", fs::perms::owner_all, fs::perm_options::replace);

  // The bus comes first, for the compositor to pass on to what it runs (a
  // key binding's command, as the compositor's user).
  if (options.sessionBus) {
    std::string address;
    bus_ = startSessionBus(environment_, directory_ / "logs" / "dbus-daemon.log", address,
                           /*openToEveryUser=*/true);
    if (!bus_) {
      failure_ = "the session bus did not start";
      return;
    }
    environment_["DBUS_SESSION_BUS_ADDRESS"] = address;
  }
  if (startCompositor(options))
    waitUntilServing();
}

bool SwaySession::startCompositor(const Options& options) {
  const fs::path own = directory_ / "compositor";
  const bool root = ::geteuid() == 0;
  if (root && ::chown(own.c_str(), kCompositorUser, kCompositorUser) != 0) {
    failure_ = "cannot hand the compositor its runtime folder";
    return false;
  }
  // sway runs this once it serves: it lets the tests' user into XWayland (which
  // admits only its own user otherwise), then says where everything is.
  const fs::path announce = own / "ready";
  const std::string script = "if [ -n \"$DISPLAY\" ] && ! xhost +si:localuser:" + userName() +
                             " >/dev/null; then exit 1; fi\n"
                             "printf '%s\\n%s\\n' \"$WAYLAND_DISPLAY\" \"$DISPLAY\" > " +
                             announce.string() + ".new && mv " + announce.string() + ".new " +
                             announce.string() + "\n";
  // XWayland is started with the compositor ("force") rather than on the
  // first X client, so that it is ready when the session is.
  const std::string config = std::string("xwayland ") + (options.xwayland ? "force" : "disable") +
                             "\noutput * resolution " + std::to_string(options.width) + "x" +
                             std::to_string(options.height) + "\nexec sh " +
                             (directory_ / "announce.sh").string() + "\n";
  if (!writeFile(directory_ / "announce.sh", script) ||
      !writeFile(directory_ / "sway.config", config)) {
    failure_ = "cannot write the compositor's configuration";
    return false;
  }

  ChildProcess::Options sway;
  if (root) {
    // setpriv sets the parent-death signal again after changing the user,
    // which clears it: a test that dies takes the compositor with it.
    const std::string user = std::to_string(kCompositorUser);
    sway.argv = {"setpriv",        "--reuid=" + user, "--regid=" + user,
                 "--clear-groups", "--pdeathsig",     "KILL"};
  }
  sway.argv.insert(sway.argv.end(), {"sway", "-c", (directory_ / "sway.config").string()});
  sway.environment = {{"PATH", environment_["PATH"]},    {"HOME", own.string()},
                      {"XDG_RUNTIME_DIR", own.string()}, {"SWAYSOCK", (own / "ipc.sock").string()},
                      {"WLR_BACKENDS", "headless"},      {"WLR_LIBINPUT_NO_DEVICES", "1"},
                      {"WLR_RENDERER", "pixman"}};
  if (environment_.contains("DBUS_SESSION_BUS_ADDRESS"))
    sway.environment["DBUS_SESSION_BUS_ADDRESS"] = environment_["DBUS_SESSION_BUS_ADDRESS"];
  sway.logFile = directory_ / "logs" / "sway.log";
  compositor_ = std::make_unique<ChildProcess>(std::move(sway));
  if (!waitUntil([&] { return fs::exists(announce) || !compositor_->running(); }, 60) ||
      !compositor_->running()) {
    failure_ = "sway did not start (is it installed? see " + (directory_ / "logs").string() + ")";
    return false;
  }
  std::ifstream in(announce);
  std::getline(in, waylandDisplay_);
  std::getline(in, display_);
  if (waylandDisplay_.empty() || (options.xwayland && display_.empty())) {
    failure_ = "sway did not say where it serves";
    return false;
  }
  // Clients keep a runtime folder of their own (the compositor's belongs to
  // its user) and find the socket there under its usual name.
  std::error_code error;
  fs::create_symlink(own / waylandDisplay_, directory_ / "runtime" / waylandDisplay_, error);
  environment_["WAYLAND_DISPLAY"] = waylandDisplay_;
  environment_["SWAYSOCK"] = (own / "ipc.sock").string();
  if (!display_.empty())
    environment_["DISPLAY"] = display_;
  return true;
}

bool SwaySession::waitUntilServing() {
  const bool serving = waitUntil(
      [&] {
        return acceptsConnections(directory_ / "runtime" / waylandDisplay_) &&
               (display_.empty() || acceptsConnections("/tmp/.X11-unix/X" + display_.substr(1))) &&
               message("get_version");
      },
      60);
  if (!serving)
    failure_ = "sway does not answer on its sockets";
  return serving;
}

std::optional<std::string> SwaySession::message(const std::string& type,
                                                const std::string& payload) {
  ChildProcess::Options swaymsg;
  swaymsg.argv = {"swaymsg", "-s", environment_["SWAYSOCK"], "-r", "-t", type};
  if (!payload.empty())
    swaymsg.argv.push_back(payload);
  swaymsg.environment = environment_;
  swaymsg.pipeOutput = true;
  ChildProcess process(std::move(swaymsg));
  auto reply = process.readAll(30);
  if (process.waitForExit(30) != 0)
    return std::nullopt;
  return reply;
}

bool SwaySession::addToConfiguration(const std::string& line) {
  std::ofstream(directory_ / "sway.config", std::ios::app) << line << "\n";
  return message("command", "reload") && waitUntil([&] {
           const auto reply = message("get_config");
           const auto config = nlohmann::json::parse(reply.value_or(""), nullptr, false);
           return config.is_object() && config.value("config", "").find(line) != std::string::npos;
         });
}

bool SwaySession::offerClipboard(const std::string& mimeType,
                                 const std::string& bytes,
                                 bool primary) {
  // wl-copy returns once the compositor has made it the selection, and
  // leaves a child of its own serving it until another client takes it.
  std::vector<std::string> argv = {"wl-copy", "-t", mimeType};
  if (primary)
    argv.emplace_back("--primary");
  auto& copy = spawn(std::move(argv), {}, /*pipeInput=*/true);
  if (!copy.write(bytes))
    return false;
  copy.closeInput();
  return copy.waitForExit(60) == 0;
}

std::optional<std::string> SwaySession::readClipboard(const std::string& mimeType,
                                                      bool primary,
                                                      double seconds) {
  std::vector<std::string> argv = {"wl-paste", "--no-newline", "-t", mimeType};
  if (primary)
    argv.emplace_back("--primary");
  return outputOf(std::move(argv), seconds);
}

}  // namespace lumivane::test_support
