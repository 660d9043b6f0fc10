#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
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

}  // namespace

bool processGone(pid_t pid) {
  if (::kill(pid, 0) != 0)
    return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const auto close = line.rfind(')');
  return close == std::string::npos || line.substr(close + 2, 1) == "Z";
}

std::filesystem::path executableDirectory() {
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path() : self.parent_path();
}

Pipe::Pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) == 0) {
    read = fds[0];
    write = fds[1];
  }
}

Pipe::~Pipe() {
  closeRead();
  closeWrite();
}

void Pipe::closeRead() {
  if (read >= 0)
    ::close(read);
  read = -1;
}

void Pipe::closeWrite() {
  if (write >= 0)
    ::close(write);
  write = -1;
}

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

std::unique_ptr<ChildProcess> startSessionBus(const Environment& environment,
                                              const std::filesystem::path& logFile,
                                              std::string& address,
                                              bool openToEveryUser) {
  Pipe ready;
  ChildProcess::Options bus;
  bus.argv = {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=3"};
  if (openToEveryUser) {
    // The session's own rules, and every user let in.
    const auto config = logFile.parent_path() / "dbus-session.conf";
    std::ofstream(config)
        << "<busconfig><include>/usr/share/dbus-1/session.conf</include>"
           "<policy context=\"default\"><allow user=\"*\"/></policy></busconfig>\n";
    bus.argv[1] = "--config-file=" + config.string();
  }
  bus.environment = environment;
  bus.logFile = logFile;
  bus.passAsFd3 = ready.write;
  auto process = std::make_unique<ChildProcess>(std::move(bus));
  ready.closeWrite();
  address = readReadyLine(ready.read, 30).value_or("");
  if (address.empty())
    return nullptr;
  return process;
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
    input_ = std::exchange(input.write, -1);
  if (options.pipeOutput)
    output_ = std::exchange(output.read, -1);
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

}  // namespace lumivane::test_support
