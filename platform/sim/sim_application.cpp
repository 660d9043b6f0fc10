#include "platform/sim/sim_application.h"

#include <utility>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_window.h"
#include "platform/sim/sim_workspace.h"

namespace lumivane::platform::sim {

SimApplication::SimApplication(SimClock& clock,
                               MisuseLog& misuse,
                               SimWorkspace& workspace,
                               SimWindowFactory& windows)
    : clock_(clock), misuse_(misuse), workspace_(workspace), windows_(windows) {}

void SimApplication::setDelegate(std::weak_ptr<ApplicationDelegate> delegate) {
  misuse_.requireMainThread("NSApplication setDelegate:");
  delegate_ = std::move(delegate);
}

std::shared_ptr<ApplicationDelegate> SimApplication::delegate() const {
  return delegate_.lock();
}

void SimApplication::activateIgnoringOtherApps(bool /*flag*/) {
  misuse_.requireMainThread("NSApplication activateIgnoringOtherApps:");
  workspace_.activateHost();
}

bool SimApplication::isActive() const {
  return workspace_.isHostActive();
}

void SimApplication::terminate() {
  misuse_.requireMainThread("NSApplication terminate:");
  if (terminating_)
    return;
  terminating_ = true;
  if (auto delegate = delegate_.lock()) {
    delegate->applicationWillTerminate(
        Notification{NSApplicationWillTerminateNotification, std::nullopt});
  }
}

int SimApplication::run() {
  misuse_.requireMainThread("NSApplication run");
  if (auto delegate = delegate_.lock()) {
    secureRestorableState_ = delegate->applicationSupportsSecureRestorableState();
  }
  // Looked up again: answering the question above may have released it.
  if (auto delegate = delegate_.lock()) {
    delegate->applicationDidFinishLaunching(
        Notification{NSApplicationDidFinishLaunchingNotification, std::nullopt});
  }
  if (!terminating_) {
    if (runHook_) {
      runHook_();
    } else {
      clock_.runUntilIdle();
    }
  }
  return exitStatus_;
}

bool SimApplication::sendAction(const std::string& selector,
                                const std::shared_ptr<Responder>& target) {
  misuse_.requireMainThread("NSApplication sendAction:to:from:");
  // Logged in the order sent; an action may send others while it is handled.
  const std::size_t index = sentActions_.size();
  sentActions_.push_back({clock_.now(), selector, "nobody"});
  std::string handledBy = "nobody";
  if (selector.empty()) {
    return false;
  }
  if (target && target->performAction(selector)) {
    handledBy = "target";
  } else if (auto delegate = delegate_.lock(); delegate && delegate->performAction(selector)) {
    handledBy = "delegate";
  } else if (selector == "terminate:") {
    handledBy = "application";
    terminate();
  }
  sentActions_[index].handledBy = handledBy;
  return handledBy != "nobody";
}

std::optional<bool> SimApplication::reopen() {
  auto delegate = delegate_.lock();
  if (!delegate) {
    return std::nullopt;
  }
  return delegate->applicationShouldHandleReopen(windows_.anyVisible());
}

void SimApplication::handleEvent(const Event& event, const std::function<void()>& block) {
  auto previous = std::exchange(currentEvent_, event);
  block();
  currentEvent_ = previous;
}

void SimApplication::lastWindowClosed() {
  auto delegate = delegate_.lock();
  if (delegate && delegate->applicationShouldTerminateAfterLastWindowClosed()) {
    terminate();
  }
}

}  // namespace lumivane::platform::sim
