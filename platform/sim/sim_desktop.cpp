#include "platform/sim/sim_desktop.h"

namespace lumivane::platform::sim {

SimDesktop::SimDesktop()
    : clock_(std::make_unique<SimClock>()),
      trace_(*clock_),
      misuse_(*clock_),
      live_(std::make_shared<LiveCounters>()),
      accessibility_(*clock_, trace_),
      pasteboard_(*clock_, trace_, live_),
      workspace_(std::make_shared<SimWorkspace>(*clock_, trace_, misuse_, pasteboard_)),
      keyboardEvents_(*clock_, trace_, misuse_, live_, *workspace_, accessibility_),
      views_(misuse_),
      windows_(std::make_shared<SimWindowFactory>(trace_, misuse_, views_)),
      application_(*clock_, misuse_, *workspace_, *windows_),
      statusBar_(std::make_shared<SimStatusBar>(*clock_, trace_, misuse_, application_, live_)),
      hotKeys_(*clock_, trace_, misuse_),
      loginItems_(*clock_, misuse_),
      standardOutput_(trace_, misuse_),
      flutter_(*clock_, trace_, misuse_, views_) {
  workspace_->createHostApplication(AppProfile{kHostName, bundle_.bundleIdentifier(), kHostPid});
  workspace_->setHostActivationListener(
      [this](bool active) { windows_->hostActivationChanged(active); });
  windows_->setLastWindowClosedHandler([this] { application_.lastWindowClosed(); });
}

SimDesktop::~SimDesktop() {
  // Work still running on simulated workers is carried to its end first, while
  // every service it may touch is still there.
  clock_.reset();
}

void SimDesktop::setMainBundleIdentifier(std::optional<std::string> bundleId) {
  bundle_.setBundleIdentifier(bundleId);
  workspace_->hostApplication()->setBundleIdentifier(std::move(bundleId));
}

}  // namespace lumivane::platform::sim
