#include "shell/app_delegate.h"

namespace lumivane {

std::optional<platform::NSError> AppDelegate::setLaunchAtLogin(bool enabled) {
  // A system without login items has nothing to change and nothing to report.
  if (!desktop_.loginItems().isSupported())
    return std::nullopt;
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
  if (!desktop_.loginItems().isSupported())
    return false;
  return desktop_.loginItems().mainAppService().status() == platform::SMAppServiceStatus::enabled;
}

}  // namespace lumivane
