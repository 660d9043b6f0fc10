#include "tests/support/x_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

namespace lumivane::test_support {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadlineAfter(double seconds) {
  return Clock::now() +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int remainingMilliseconds(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

int decodeStatus(int status) {
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  if (WIFSIGNALED(status))
    return 128 + WTERMSIG(status);
  return -1;
}

// Reads one line from `fd` within `seconds`; what the server or bus prints
// on its numbered descriptor when it is ready.
std::optional<std::string> readReadyLine(int fd, double seconds) {
  const auto deadline = deadlineAfter(seconds);
  std::string line;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, remainingMilliseconds(deadline));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return std::nullopt;
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return std::nullopt;
    if (c == '\n')
      return line;
    line.push_back(c);
  }
}

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      read = fds[0];
      write = fds[1];
    }
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  void closeRead() {
    if (read >= 0)
      ::close(read);
    read = -1;
  }
  void closeWrite() {
    if (write >= 0)
      ::close(write);
    write = -1;
  }
  int takeRead() { return std::exchange(read, -1); }
  int takeWrite() { return std::exchange(write, -1); }
};

}  // namespace

bool waitUntil(const std::function<bool()>& condition, double seconds) {
  const auto deadline = deadlineAfter(seconds);
  for (;;) {
    if (condition())
      return true;
    if (Clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::filesystem::path executableDirectory() {
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path() : self.parent_path();
}

// ChildProcess ---------------------------------------------------------------

ChildProcess::ChildProcess(Options options) : logFile_(std::move(options.logFile)) {
  if (options.argv.empty())
    return;
  Pipe input;
  Pipe output;
  if ((options.pipeInput && input.read < 0) || (options.pipeOutput && output.read < 0))
    return;

  // Everything the child needs is prepared before fork: after it, only calls
  // that are safe in a copy of a multithreaded process may be made.
  std::vector<std::string> envStrings;
  for (const auto& [name, value] : options.environment)
    envStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : envStrings)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (auto& arg : options.argv)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string logPath = logFile_.empty() ? std::string("/dev/null") : logFile_.string();
  const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t parent = ::getpid();
  const int fd3 = options.passAsFd3;

  const pid_t pid = ::fork();
  if (pid == 0) {
    // A test that dies must not leave its server or applications behind.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
      ::_exit(127);
    ::dup2(options.pipeInput ? input.read : devNull, 0);
    ::dup2(options.pipeOutput ? output.write : (log >= 0 ? log : devNull), 1);
    ::dup2(log >= 0 ? log : devNull, 2);
    if (fd3 >= 0)
      ::dup2(fd3, 3);
    ::setpgid(0, 0);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (log >= 0)
    ::close(log);
  if (devNull >= 0)
    ::close(devNull);
  if (pid < 0)
    return;
  pid_ = pid;
  if (options.pipeInput)
    input_ = input.takeWrite();
  if (options.pipeOutput)
    output_ = output.takeRead();
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_)
    terminate();
  closeInput();
  if (output_ >= 0)
    ::close(output_);
}

bool ChildProcess::running() {
  return pid_ > 0 && !waitForExit(0);
}

std::optional<int> ChildProcess::waitForExit(double seconds) {
  if (pid_ <= 0)
    return 127;
  if (status_)
    return status_;
  const auto deadline = deadlineAfter(seconds);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = decodeStatus(status);
      return status_;
    }
    if (done < 0 && errno != EINTR) {
      status_ = -1;
      return status_;
    }
    if (Clock::now() >= deadline)
      return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void ChildProcess::signal(int signal) {
  if (pid_ > 0 && !status_)
    ::kill(pid_, signal);
}

int ChildProcess::terminate(double graceSeconds) {
  if (pid_ <= 0)
    return 127;
  if (status_)
    return *status_;
  ::kill(pid_, SIGTERM);
  if (auto status = waitForExit(graceSeconds))
    return *status;
  ::kill(pid_, SIGKILL);
  return waitForExit(30).value_or(-1);
}

bool ChildProcess::write(const std::string& text) {
  if (input_ < 0)
    return false;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(input_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void ChildProcess::closeInput() {
  if (input_ >= 0)
    ::close(input_);
  input_ = -1;
}

std::optional<std::string> ChildProcess::readLine(double seconds) {
  const auto deadline = deadlineAfter(seconds);
  for (;;) {
    const auto newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return line;
    }
    if (output_ < 0 || outputEnded_)
      return std::nullopt;
    pollfd p{output_, POLLIN, 0};
    const int ready = ::poll(&p, 1, remainingMilliseconds(deadline));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return std::nullopt;
    char buffer[4096];
    const ssize_t n = ::read(output_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      outputEnded_ = true;
      continue;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

std::optional<std::string> ChildProcess::readAll(double seconds) {
  const auto deadline = deadlineAfter(seconds);
  std::string all = std::move(pending_);
  pending_.clear();
  if (output_ < 0 || outputEnded_)
    return all;
  std::string buffer(1 << 16, '\0');
  for (;;) {
    pollfd p{output_, POLLIN, 0};
    const int ready = ::poll(&p, 1, remainingMilliseconds(deadline));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return std::nullopt;
    const ssize_t n = ::read(output_, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      outputEnded_ = true;
      return all;
    }
    all.append(buffer.data(), static_cast<std::size_t>(n));
  }
}

// XSession --------------------------------------------------------------------

XSession::XSession() : XSession(Options{}) {}

XSession::XSession(Options options) : options_(options) {
  start(options);
}

XSession::~XSession() {
  // Applications first, then the window manager and the bus, the display
  // last, so nothing loses its server while it is still shutting down.
  for (auto it = children_.rbegin(); it != children_.rend(); ++it)
    (*it)->terminate();
  children_.clear();
  if (bus_)
    bus_->terminate();
  if (server_)
    server_->terminate();
  std::error_code ignored;
  if (!directory_.empty())
    std::filesystem::remove_all(directory_, ignored);
}

void XSession::start(const Options& options) {
  std::string pattern = (std::filesystem::temp_directory_path() / "lumivane-x-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    failure_ = "cannot make a temporary folder";
    return;
  }
  directory_ = pattern;
  for (const char* sub : {"config", "data", "cache", "runtime", "logs"})
    std::filesystem::create_directories(directory_ / sub);
  std::filesystem::permissions(directory_ / "runtime", std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);

  for (const char* keep :
       {"PATH", "HOME", "LANG", "TSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(keep))
      environment_[keep] = value;
  }
  environment_["NO_AT_BRIDGE"] = "1";
  environment_["XDG_CONFIG_HOME"] = (directory_ / "config").string();
  environment_["XDG_DATA_HOME"] = (directory_ / "data").string();
  environment_["XDG_CACHE_HOME"] = (directory_ / "cache").string();
  environment_["XDG_RUNTIME_DIR"] = (directory_ / "runtime").string();

  if (!startServer(options))
    return;
  if (options.sessionBus && !startSessionBus())
    return;
  if (options.windowManager && !startWindowManager())
    return;
}

bool XSession::startServer(const Options& options) {
  Pipe ready;
  if (ready.read < 0) {
    failure_ = "cannot make a pipe";
    return false;
  }
  ChildProcess::Options server;
  server.argv = {
      "Xvfb",    "-displayfd",
      "3",       "-nolisten",
      "tcp",     "-screen",
      "0",       std::to_string(options.width) + "x" + std::to_string(options.height) + "x24",
      "-noreset"};
  server.argv.insert(server.argv.end(), options.serverArguments.begin(),
                     options.serverArguments.end());
  server.environment = environment_;
  server.logFile = directory_ / "logs" / "Xvfb.log";
  server.passAsFd3 = ready.write;
  server_ = std::make_unique<ChildProcess>(std::move(server));
  ready.closeWrite();
  if (!server_->running()) {
    failure_ = "Xvfb did not start (is it installed?)";
    return false;
  }
  auto number = readReadyLine(ready.read, 30);
  if (!number || number->empty()) {
    failure_ = "Xvfb did not report its display";
    return false;
  }
  display_ = ":" + *number;
  environment_["DISPLAY"] = display_;
  return true;
}

bool XSession::startSessionBus() {
  Pipe ready;
  ChildProcess::Options bus;
  bus.argv = {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=3"};
  bus.environment = environment_;
  bus.logFile = directory_ / "logs" / "dbus-daemon.log";
  bus.passAsFd3 = ready.write;
  bus_ = std::make_unique<ChildProcess>(std::move(bus));
  ready.closeWrite();
  auto address = readReadyLine(ready.read, 30);
  if (!address || address->empty()) {
    failure_ = "the session bus did not start";
    return false;
  }
  environment_["DBUS_SESSION_BUS_ADDRESS"] = *address;
  return true;
}

bool XSession::startWindowManager() {
  spawn({"openbox", "--sm-disable"});
  // openbox announces itself a moment before it manages windows: a window
  // mapped in between would never be managed.
  if (!waitUntil([this] { return hasWindowManager(); }, 30) || !waitUntilWindowsAreManaged()) {
    failure_ = "openbox did not start managing the display";
    return false;
  }
  return true;
}

bool XSession::hasWindowManager() const {
  Display* x = XOpenDisplay(display_.c_str());
  if (!x)
    return false;
  bool found = false;
  const Atom check = XInternAtom(x, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(x, DefaultRootWindow(x), check, 0, 1, False, XA_WINDOW, &type, &format,
                         &count, &after, &data) == Success &&
      data && count == 1 && format == 32) {
    found = *reinterpret_cast<unsigned long*>(data) != 0;
  }
  if (data)
    XFree(data);
  XCloseDisplay(x);
  return found;
}

namespace {

bool isClientOf(Display* x, Window window) {
  const Atom clientList = XInternAtom(x, "_NET_CLIENT_LIST", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(x, DefaultRootWindow(x), clientList, 0, 4096, False, XA_WINDOW, &type,
                         &format, &count, &after, &data) == Success &&
      data && format == 32) {
    const auto* windows = reinterpret_cast<const unsigned long*>(data);
    for (unsigned long i = 0; i < count && !found; ++i)
      found = windows[i] == window;
  }
  if (data)
    XFree(data);
  return found;
}

}  // namespace

bool XSession::waitUntilWindowsAreManaged(double seconds) const {
  Display* x = XOpenDisplay(display_.c_str());
  if (!x)
    return false;
  const Window probe = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 1, 1, 0, 0, 0);
  const bool managed = waitUntil(
      [&] {
        XUnmapWindow(x, probe);
        XMapWindow(x, probe);
        XFlush(x);
        return waitUntil([&] { return isClientOf(x, probe); }, 1);
      },
      seconds);
  XDestroyWindow(x, probe);
  XSync(x, False);
  // Gone from the window manager's list too, so that it plays no part in what
  // a test then sees of focus and stacking.
  waitUntil([&] { return !isClientOf(x, probe); }, seconds);
  XCloseDisplay(x);
  return managed;
}

unsigned long XSession::clipboardOwner() const {
  Display* x = XOpenDisplay(display_.c_str());
  if (!x)
    return 0;
  const Window owner = XGetSelectionOwner(x, XInternAtom(x, "CLIPBOARD", False));
  XCloseDisplay(x);
  return owner;
}

ChildProcess* XSession::offerClipboard(const std::string& target, const std::string& bytes) {
  const unsigned long before = clipboardOwner();
  // -quiet keeps xclip in the foreground, where it can be ended by its pid.
  auto& xclip = spawn({"xclip", "-selection", "clipboard", "-i", "-quiet", "-t", target}, {},
                      /*pipeInput=*/true);
  if (!xclip.write(bytes))
    return nullptr;
  xclip.closeInput();
  const bool owns = waitUntil([&] {
    const unsigned long owner = clipboardOwner();
    return owner != 0 && owner != before;
  });
  return owns ? &xclip : nullptr;
}

std::optional<std::string> XSession::readClipboard(const std::string& target, double seconds) {
  auto& xclip = spawn({"xclip", "-selection", "clipboard", "-o", "-t", target}, {},
                      /*pipeInput=*/false, /*pipeOutput=*/true);
  auto bytes = xclip.readAll(seconds);
  if (xclip.waitForExit(seconds) != 0)
    return std::nullopt;
  return bytes;
}

void XSession::exportToThisProcess() const {
  for (const auto& [name, value] : environment_) {
    if (name != "PATH" && name != "HOME")
      ::setenv(name.c_str(), value.c_str(), 1);
  }
}

ChildProcess& XSession::spawn(std::vector<std::string> argv,
                              Environment extra,
                              bool pipeInput,
                              bool pipeOutput) {
  ChildProcess::Options child;
  const std::string name = argv.empty() ? "child" : std::filesystem::path(argv[0]).filename();
  child.argv = std::move(argv);
  child.environment = environment_;
  for (auto& [key, value] : extra)
    child.environment[key] = std::move(value);
  child.pipeInput = pipeInput;
  child.pipeOutput = pipeOutput;
  child.logFile = directory_ / "logs" / (std::to_string(++spawned_) + "-" + name + ".log");
  children_.push_back(std::make_unique<ChildProcess>(std::move(child)));
  return *children_.back();
}

}  // namespace lumivane::test_support
