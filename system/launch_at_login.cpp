#include "shell/app_delegate.h"

namespace lumivane {
namespace {

// Login items for the main application exist from macOS 13 on.
constexpr platform::NSOperatingSystemVersion kLoginItemsSince{13, 0, 0};

}  // namespace

std::optional<platform::NSError> AppDelegate::setLaunchAtLogin(bool enabled) {
  if (!desktop_.processInfo().isOperatingSystemAtLeastVersion(kLoginItemsSince)) {
    return std::nullopt;
  }
  auto& service = desktop_.loginItems().mainAppService();
  std::optional<platform::NSError> error;
  const bool done =
      enabled ? service.registerAndReturnError(error) : service.unregisterAndReturnError(error);
  if (done)
    return std::nullopt;
  if (!error)
    error = platform::NSError{"", 0, "The operation couldn\u2019t be completed."};
  desktop_.standardOutput().write(
      "Failed to update launch at login: " + error->localizedDescription + "\n");
  return error;
}

bool AppDelegate::isLaunchAtLoginEnabled() {
  if (!desktop_.processInfo().isOperatingSystemAtLeastVersion(kLoginItemsSince))
    return false;
  return desktop_.loginItems().mainAppService().status() == platform::SMAppServiceStatus::enabled;
}

}  // namespace lumivane
