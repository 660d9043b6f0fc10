#include "tests/support/desktop_session.h"

#include <stdlib.h>

#include <cstdlib>
#include <utility>

namespace lumivane::test_support {

namespace fs = std::filesystem;

DesktopSession::~DesktopSession() = default;

bool DesktopSession::makeFolders(const char* prefix) {
  std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) {
    failure_ = "cannot make a temporary folder";
    return false;
  }
  directory_ = pattern;
  for (const char* sub : {"config", "data", "cache", "runtime", "logs"})
    fs::create_directories(directory_ / sub);
  fs::permissions(directory_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);

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
  return true;
}

void DesktopSession::end(std::unique_ptr<ChildProcess>& display) {
  for (auto it = children_.rbegin(); it != children_.rend(); ++it)
    (*it)->terminate();
  children_.clear();
  if (bus_)
    bus_->terminate();
  if (display)
    display->terminate();
  std::error_code ignored;
  if (!directory_.empty())
    fs::remove_all(directory_, ignored);
}

std::optional<std::string> DesktopSession::outputOf(std::vector<std::string> argv, double seconds) {
  auto& child = spawn(std::move(argv), {}, /*pipeInput=*/false, /*pipeOutput=*/true);
  auto bytes = child.readAll(seconds);
  if (child.waitForExit(seconds) != 0)
    return std::nullopt;
  return bytes;
}

void DesktopSession::exportToThisProcess() const {
  for (const auto& [name, value] : environment_) {
    if (name != "PATH" && name != "HOME")
      ::setenv(name.c_str(), value.c_str(), 1);
  }
}

ChildProcess& DesktopSession::spawn(std::vector<std::string> argv,
                                    Environment extra,
                                    bool pipeInput,
                                    bool pipeOutput) {
  ChildProcess::Options child;
  const std::string name = argv.empty() ? "child" : fs::path(argv[0]).filename().string();
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
