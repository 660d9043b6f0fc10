#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/login_items.h"

namespace lumivane::platform::gtk {

// The domain of the errors below: their code is the errno of the failed call.
inline constexpr const char* kPosixErrorDomain = "NSPOSIXErrorDomain";

// Where the desktop looks for programs to start at login: the autostart
// folders, the user's first and then the system's, as the environment places
// them.
struct AutostartFolders {
  // $XDG_CONFIG_HOME/autostart, else $HOME/.config/autostart; absent when
  // neither variable holds an absolute path.
  std::optional<std::filesystem::path> user;
  // autostart in each folder of $XDG_CONFIG_DIRS (/etc/xdg when unset), in
  // order of precedence.
  std::vector<std::filesystem::path> system;

  // From the variables XDG_CONFIG_HOME, HOME and XDG_CONFIG_DIRS in
  // `environment`. Relative paths count as unset.
  static AutostartFolders fromEnvironment(const std::map<std::string, std::string>& environment);
  // From this process's environment.
  static AutostartFolders fromProcess();
};

// The host's login item as an autostart entry, lumivane.desktop in the user's
// autostart folder. Registering writes an entry that starts this program;
// unregistering writes one that is hidden, which also masks an entry of the
// same name that a system-wide installation put in a system autostart folder.
// Every write replaces the entry whole or not at all. Main thread.
class XdgAppService final : public AppService {
 public:
  XdgAppService(AutostartFolders folders, std::optional<std::filesystem::path> executable);

  // False with `error` set when the entry could not be written: its
  // description names the file and the reason, its code is the errno.
  bool registerAndReturnError(std::optional<NSError>& error) override;
  bool unregisterAndReturnError(std::optional<NSError>& error) override;
  // enabled when the entry the desktop would use (the user's, else the first
  // system-wide one) can be read, is not hidden and is not switched off;
  // notRegistered otherwise.
  SMAppServiceStatus status() override;

  // The user's entry; absent when its folder cannot be found.
  std::optional<std::filesystem::path> entryPath() const;

 private:
  bool write(bool hidden, std::optional<NSError>& error);

  const AutostartFolders folders_;
  const std::optional<std::filesystem::path> executable_;
};

class XdgAutostartLoginItems final : public LoginItems {
 public:
  struct Options {
    // The program the entry starts (an absolute path); the running
    // executable when absent.
    std::optional<std::filesystem::path> executable;
    // The autostart folders; those of this process's environment when absent.
    std::optional<AutostartFolders> folders;
  };

  XdgAutostartLoginItems();
  explicit XdgAutostartLoginItems(Options options);

  // True when the user's autostart folder can be found.
  bool isSupported() override;
  XdgAppService& mainAppService() override { return service_; }

 private:
  XdgAppService service_;
};

}  // namespace lumivane::platform::gtk
