#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessibility_trust.h"
#include "platform/login_items.h"
#include "platform/sim/sim_common.h"
#include "platform/standard_output.h"

namespace lumivane::platform::sim {

class SimClock;

struct AccessibilityQuery {
  double time = 0;
  AXTrustedCheckOptions options;
  bool answer = false;
};

// The Accessibility permission. The user may grant or revoke it at any time,
// from any thread's point of view.
class SimAccessibility final : public Accessibility {
 public:
  SimAccessibility(SimClock& clock, SimTrace& trace) : clock_(clock), trace_(trace) {}

  bool AXIsProcessTrustedWithOptions(const AXTrustedCheckOptions& options) override;

  // Scripting.
  void setTrusted(bool trusted) { trusted_.store(trusted); }
  bool isTrusted() const { return trusted_.load(); }

  // Inspection.
  std::vector<AccessibilityQuery> queries() const;
  // When the system prompt came up. It comes up once per process, however
  // often it is asked for.
  std::vector<double> promptTimes() const;

 private:
  SimClock& clock_;
  SimTrace& trace_;
  std::atomic<bool> trusted_{false};
  mutable std::mutex mutex_;
  std::vector<AccessibilityQuery> queries_;
  std::vector<double> promptTimes_;
};

// How the login-item service answers a registration.
enum class LoginRegistrationBehaviour {
  succeeds,       // the application is enabled at once
  needsApproval,  // accepted, but waits for the user in System Settings
  refuses,        // fails with the scripted error
};

struct AppServiceCall {
  double time = 0;
  std::string operation;  // "register", "unregister" or "status"
  bool succeeded = true;
};

// SMAppService mainAppService.
class SimAppService final : public AppService {
 public:
  SimAppService(SimClock& clock, MisuseLog& misuse) : clock_(clock), misuse_(misuse) {}

  bool registerAndReturnError(std::optional<NSError>& error) override;
  bool unregisterAndReturnError(std::optional<NSError>& error) override;
  SMAppServiceStatus status() override;

  // Scripting.
  void setRegistrationBehaviour(LoginRegistrationBehaviour behaviour,
                                std::string refusalDescription =
                                    "The operation couldn’t be completed. Operation not permitted");
  void setStatus(SMAppServiceStatus status);
  std::vector<AppServiceCall> calls() const;

 private:
  SimClock& clock_;
  MisuseLog& misuse_;
  mutable std::mutex mutex_;
  SMAppServiceStatus status_ = SMAppServiceStatus::notRegistered;
  LoginRegistrationBehaviour behaviour_ = LoginRegistrationBehaviour::succeeds;
  std::string refusalDescription_;
  std::vector<AppServiceCall> calls_;
};

// A macOS version (NSOperatingSystemVersion).
struct NSOperatingSystemVersion {
  long majorVersion = 0;
  long minorVersion = 0;
  long patchVersion = 0;
};

// ServiceManagement on a modelled macOS version: the main-app service exists
// from macOS 13.0 on. Reaching it on an older system is recorded as misuse
// (the real call would not link).
class SimLoginItems final : public LoginItems {
 public:
  SimLoginItems(SimClock& clock, MisuseLog& misuse) : misuse_(misuse), service_(clock, misuse) {}
  bool isSupported() override;
  AppService& mainAppService() override;

  // Scripting.
  SimAppService& service() { return service_; }
  // The version the system reports (14.5.0 unless set).
  void setOperatingSystemVersion(NSOperatingSystemVersion version);

 private:
  MisuseLog& misuse_;
  SimAppService service_;
  mutable std::mutex mutex_;
  NSOperatingSystemVersion version_{14, 5, 0};
};

// Standard output, captured line by line.
class SimStandardOutput final : public StandardOutput {
 public:
  SimStandardOutput(SimTrace& trace, MisuseLog& misuse) : trace_(trace), misuse_(misuse) {}

  void write(const std::string& text) override;

  // Everything written, as it was written.
  std::string text() const;
  // Complete lines, without their line breaks.
  std::vector<std::string> lines() const;

 private:
  SimTrace& trace_;
  MisuseLog& misuse_;
  mutable std::mutex mutex_;
  std::string text_;
  std::string partialLine_;
  std::vector<std::string> lines_;
};

}  // namespace lumivane::platform::sim
