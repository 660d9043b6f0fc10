#pragma once

#include <memory>
#include <optional>
#include <string>

namespace lumivane::platform {

// SMAppServiceStatus.
enum class SMAppServiceStatus {
  notRegistered = 0,
  enabled = 1,
  requiresApproval = 2,
  notFound = 3,
};

// An error the platform returns (NSError).
struct NSError {
  std::string domain;
  long code = 0;
  std::string localizedDescription;
};

// The login-item service for the main application (SMAppService
// mainAppService). Main thread.
class AppService {
 public:
  virtual ~AppService() = default;
  // Registers the application to open at login. On failure returns false and
  // fills `error`.
  virtual bool registerAndReturnError(std::optional<NSError>& error) = 0;
  virtual bool unregisterAndReturnError(std::optional<NSError>& error) = 0;
  // Asked anew on every call.
  virtual SMAppServiceStatus status() = 0;
};

// ServiceManagement: the application's own login item.
class LoginItems {
 public:
  virtual ~LoginItems() = default;
  // Whether this system can register the application as a login item at all
  // (macOS from 13.0 on; elsewhere, whether the desktop has a place for
  // applications that start at login). Asked anew on every call.
  virtual bool isSupported() = 0;
  // Only to be used when isSupported() is true.
  virtual AppService& mainAppService() = 0;
};

}  // namespace lumivane::platform
