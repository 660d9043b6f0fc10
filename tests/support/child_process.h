#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumivane::test_support {

using Environment = std::map<std::string, std::string>;

// A process a test started. It is ended by its pid when this object goes
// (SIGTERM, then SIGKILL when it does not go within a bound), and never by
// name: a test ends only what it started.
class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> argv;
    Environment environment;
    // Connect standard input and/or output to pipes this object keeps.
    bool pipeInput = false;
    bool pipeOutput = false;
    // Where standard error (and standard output when not piped) goes;
    // /dev/null when empty.
    std::filesystem::path logFile;
    // A descriptor of this process the child gets as its descriptor 3, for
    // programs that report on a numbered descriptor (Xvfb -displayfd 3).
    int passAsFd3 = -1;
  };

  // Starts the process; `running()` is false when it could not be started.
  explicit ChildProcess(Options options);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // The exit status once the process has ended within `seconds`: its exit
  // code, or 128 + the signal that ended it. Absent when it still runs.
  std::optional<int> waitForExit(double seconds);
  // Sends `signal`; the process is reaped later.
  void signal(int signal);
  // SIGTERM, a bounded wait, then SIGKILL. Returns the exit status.
  int terminate(double graceSeconds = 5);

  // Standard input, when piped. False when the process no longer reads it.
  bool write(const std::string& text);
  void closeInput();
  // One line of standard output (without its line break), waiting at most
  // `seconds`. Absent at end of output or when nothing came in time.
  std::optional<std::string> readLine(double seconds);
  // The rest of standard output, byte for byte, up to its end; absent when
  // it has not ended within `seconds`.
  std::optional<std::string> readAll(double seconds);

  const std::filesystem::path& logFile() const { return logFile_; }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
  bool outputEnded_ = false;
  std::filesystem::path logFile_;
};

// A pipe whose ends close with it (both close on exec).
struct Pipe {
  int read = -1;
  int write = -1;
  Pipe();
  ~Pipe();
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  void closeRead();
  void closeWrite();
};

// One line from `fd` within `seconds`: what a server or bus prints on its
// numbered descriptor when it is ready. Absent when nothing came in time.
std::optional<std::string> readReadyLine(int fd, double seconds);

// A private D-Bus session bus, started with `environment` and logging to
// `logFile`. Its address is set in `address`; null when it did not start.
// With `openToEveryUser`, processes of other users may use it too.
std::unique_ptr<ChildProcess> startSessionBus(const Environment& environment,
                                              const std::filesystem::path& logFile,
                                              std::string& address,
                                              bool openToEveryUser = false);

// Whether process `pid` has exited, whether or not its parent has collected
// it: for processes a test did not start itself, such as a clipboard keeper.
bool processGone(pid_t pid);

// The folder of the running test executable, to find programs built beside it.
std::filesystem::path executableDirectory();

}  // namespace lumivane::test_support
