#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/sim/sim_application.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_common.h"
#include "platform/sim/sim_flutter.h"
#include "platform/sim/sim_hot_keys.h"
#include "platform/sim/sim_keyboard_events.h"
#include "platform/sim/sim_pasteboard.h"
#include "platform/sim/sim_status_bar.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_view.h"
#include "platform/sim/sim_window.h"
#include "platform/sim/sim_workspace.h"

namespace lumivane::platform::sim {

// The host process's own identity on the simulated desktop.
inline constexpr pid_t kHostPid = 100;
inline constexpr const char* kHostName = "Lumivane";

// A whole desktop in memory: every platform service, on a virtual clock, with
// scripting for what the user and other applications do and records of what
// the host did. The thread that constructs it is the host's main thread.
//
// Each service is reachable under its platform name with its sim type, so
// tests script it directly: desktop.generalPasteboard().setRefusesWrites(true).
class SimDesktop final : public Desktop {
 public:
  SimDesktop();
  ~SimDesktop() override;
  SimDesktop(const SimDesktop&) = delete;
  SimDesktop& operator=(const SimDesktop&) = delete;

  // Desktop.
  SimApplication& application() override { return application_; }
  SimWindowFactory& windows() override { return *windows_; }
  SimViewFactory& views() override { return views_; }
  SimStatusBar& statusBar() override { return *statusBar_; }
  SimPasteboard& generalPasteboard() override { return pasteboard_; }
  SimWorkspace& workspace() override { return *workspace_; }
  SimBundle& mainBundle() override { return bundle_; }
  SimKeyboardEvents& keyboardEvents() override { return keyboardEvents_; }
  SimHotKeys& hotKeys() override { return hotKeys_; }
  SimAccessibility& accessibility() override { return accessibility_; }
  SimLoginItems& loginItems() override { return loginItems_; }
  SimClock& dispatch() override { return *clock_; }
  SimStandardOutput& standardOutput() override { return standardOutput_; }
  SimFlutterEmbedding& flutter() override { return flutter_; }

  // Time.
  SimClock& clock() { return *clock_; }
  double now() const { return clock_->now(); }
  void advance(double seconds) { clock_->advance(seconds); }
  void runUntilIdle() { clock_->runUntilIdle(); }

  // Applications.
  std::shared_ptr<SimRunningApplication> addApplication(AppProfile profile) {
    return workspace_->addApplication(std::move(profile));
  }
  void bringToFront(const std::shared_ptr<SimRunningApplication>& app) {
    workspace_->bringToFront(app);
  }
  void quit(const std::shared_ptr<SimRunningApplication>& app) { workspace_->quit(app); }
  std::shared_ptr<SimRunningApplication> hostApplication() const {
    return workspace_->hostApplication();
  }
  // The host's bundle identifier, for its bundle and its running application.
  void setMainBundleIdentifier(std::optional<std::string> bundleId);

  // Headless output: every effect a user would notice, as it happens.
  void setTraceListener(std::function<void(const TraceEvent&)> listener) {
    trace_.setListener(std::move(listener));
  }

  // For teardown checks: platform objects still alive, and calls the real
  // platform would not have survived.
  LiveObjects liveObjects() const { return live_->snapshot(); }
  std::vector<std::string> misuse() const { return misuse_.entries(); }

 private:
  std::unique_ptr<SimClock> clock_;
  SimTrace trace_;
  MisuseLog misuse_;
  std::shared_ptr<LiveCounters> live_;
  SimBundle bundle_;
  SimAccessibility accessibility_;
  SimPasteboard pasteboard_;
  std::shared_ptr<SimWorkspace> workspace_;
  SimKeyboardEvents keyboardEvents_;
  SimViewFactory views_;
  std::shared_ptr<SimWindowFactory> windows_;
  SimApplication application_;
  std::shared_ptr<SimStatusBar> statusBar_;
  SimHotKeys hotKeys_;
  SimLoginItems loginItems_;
  SimStandardOutput standardOutput_;
  SimFlutterEmbedding flutter_;
};

}  // namespace lumivane::platform::sim
