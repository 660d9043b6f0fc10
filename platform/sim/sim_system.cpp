#include "platform/sim/sim_system.h"

#include <utility>

#include "platform/sim/sim_clock.h"

namespace lumivane::platform::sim {

// --- SimAccessibility ---

bool SimAccessibility::AXIsProcessTrustedWithOptions(const AXTrustedCheckOptions& options) {
  const bool trusted = isTrusted();
  auto prompt = options.find(kAXTrustedCheckOptionPrompt);
  const bool wantsPrompt = prompt != options.end() && prompt->second;
  bool showPrompt = false;
  {
    std::lock_guard lock(mutex_);
    queries_.push_back({clock_.now(), options, trusted});
    if (wantsPrompt && !trusted && promptTimes_.empty()) {
      promptTimes_.push_back(clock_.now());
      showPrompt = true;
    }
  }
  if (showPrompt) {
    trace_.emit(TraceKind::accessibilityPrompt, {});
  }
  return trusted;
}

std::vector<AccessibilityQuery> SimAccessibility::queries() const {
  std::lock_guard lock(mutex_);
  return queries_;
}

std::vector<double> SimAccessibility::promptTimes() const {
  std::lock_guard lock(mutex_);
  return promptTimes_;
}

// --- SimAppService ---

bool SimAppService::registerAndReturnError(std::optional<NSError>& error) {
  misuse_.requireMainThread("SMAppService registerAndReturnError:");
  std::lock_guard lock(mutex_);
  bool ok = true;
  switch (behaviour_) {
    case LoginRegistrationBehaviour::succeeds:
      status_ = SMAppServiceStatus::enabled;
      break;
    case LoginRegistrationBehaviour::needsApproval:
      status_ = SMAppServiceStatus::requiresApproval;
      break;
    case LoginRegistrationBehaviour::refuses:
      error = NSError{"SMAppServiceErrorDomain", 1, refusalDescription_};
      ok = false;
      break;
  }
  calls_.push_back({clock_.now(), "register", ok});
  return ok;
}

bool SimAppService::unregisterAndReturnError(std::optional<NSError>& error) {
  misuse_.requireMainThread("SMAppService unregisterAndReturnError:");
  std::lock_guard lock(mutex_);
  const bool registered =
      status_ == SMAppServiceStatus::enabled || status_ == SMAppServiceStatus::requiresApproval;
  if (registered) {
    status_ = SMAppServiceStatus::notRegistered;
  } else {
    // What ServiceManagement says when there is nothing to unregister.
    error = NSError{"SMAppServiceErrorDomain", 3,
                    "The operation couldn’t be completed. (SMAppServiceErrorDomain error 3.)"};
  }
  calls_.push_back({clock_.now(), "unregister", registered});
  return registered;
}

SMAppServiceStatus SimAppService::status() {
  std::lock_guard lock(mutex_);
  calls_.push_back({clock_.now(), "status", true});
  return status_;
}

void SimAppService::setRegistrationBehaviour(LoginRegistrationBehaviour behaviour,
                                             std::string refusalDescription) {
  std::lock_guard lock(mutex_);
  behaviour_ = behaviour;
  refusalDescription_ = std::move(refusalDescription);
}

void SimAppService::setStatus(SMAppServiceStatus status) {
  std::lock_guard lock(mutex_);
  status_ = status;
}

std::vector<AppServiceCall> SimAppService::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

bool SimLoginItems::isSupported() {
  std::lock_guard lock(mutex_);
  return version_.majorVersion >= 13;
}

AppService& SimLoginItems::mainAppService() {
  if (!isSupported()) {
    misuse_.record("SMAppService used on a system older than macOS 13.0");
  }
  return service_;
}

void SimLoginItems::setOperatingSystemVersion(NSOperatingSystemVersion version) {
  std::lock_guard lock(mutex_);
  version_ = version;
}

// --- SimStandardOutput ---

void SimStandardOutput::write(const std::string& text) {
  misuse_.requireMainThread("standard output");
  std::vector<std::string> completed;
  {
    std::lock_guard lock(mutex_);
    text_ += text;
    for (char c : text) {
      if (c == '\n') {
        completed.push_back(std::move(partialLine_));
        partialLine_.clear();
      } else {
        partialLine_ += c;
      }
    }
    lines_.insert(lines_.end(), completed.begin(), completed.end());
  }
  for (auto& line : completed) {
    trace_.emit(TraceKind::standardOutputLine, {{"line", std::move(line)}});
  }
}

std::string SimStandardOutput::text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

std::vector<std::string> SimStandardOutput::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

}  // namespace lumivane::platform::sim
