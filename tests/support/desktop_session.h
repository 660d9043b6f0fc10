#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace lumivane::test_support {

// What every private desktop for tests has, whatever its display server: a
// temporary folder with the XDG folders its clients use, the environment they
// run with, a session bus, and the processes the test starts there, each
// ended by pid when the session goes.
class DesktopSession {
 public:
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  // False when the desktop could not be started; `failure()` says why.
  bool ready() const { return failure_.empty(); }
  const std::string& failure() const { return failure_; }

  // The variables a process on this desktop runs with: the display's, the
  // session bus, NO_AT_BRIDGE=1, XDG_CONFIG_HOME, XDG_DATA_HOME,
  // XDG_CACHE_HOME, XDG_RUNTIME_DIR, plus PATH and HOME from this process.
  const Environment& environment() const { return environment_; }
  // Sets the variables above in this process, for code under test that runs
  // in process (GTK reads them once, when it opens its display).
  void exportToThisProcess() const;

  // A temporary folder that lives as long as the session.
  const std::filesystem::path& directory() const { return directory_; }
  std::filesystem::path configHome() const { return directory_ / "config"; }

  // Starts `argv` on this desktop with this session's environment plus
  // `extra`; its output goes to a log file in the session's folder. The
  // process is ended when the session goes, if it has not ended before.
  ChildProcess& spawn(std::vector<std::string> argv,
                      Environment extra = {},
                      bool pipeInput = false,
                      bool pipeOutput = false);

 protected:
  DesktopSession() = default;
  ~DesktopSession();

  // Makes the session's folder (its name begins with `prefix`) with the XDG
  // folders and a log folder, and the clients' environment. False, with
  // `failure_` set, when it cannot.
  bool makeFolders(const char* prefix);
  // Runs `argv` on this desktop to its end; its standard output, absent when
  // it fails or does not end within `seconds`.
  std::optional<std::string> outputOf(std::vector<std::string> argv, double seconds);
  // Ends what the test started (newest first), then the bus, then `display`,
  // so nothing loses its server while it is still shutting down, and removes
  // the folder.
  void end(std::unique_ptr<ChildProcess>& display);

  std::string failure_;
  std::filesystem::path directory_;
  Environment environment_;
  std::unique_ptr<ChildProcess> bus_;

 private:
  std::vector<std::unique_ptr<ChildProcess>> children_;
  int spawned_ = 0;
};

}  // namespace lumivane::test_support
