#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/flutter/flutter_app_delegate.h"
#include "platform/sim/sim_common.h"

namespace lumivane::platform::sim {

class SimClock;

struct LaunchNotification {
  double time = 0;
  std::string name;
};

// The in-process embedding over the sim's views (setEngineCanStart(false) for
// an engine that cannot start). Its controllers report each plug-in
// registration to the trace.
class SimFlutterEmbedding final : public InProcessFlutterEmbedding {
 public:
  SimFlutterEmbedding(SimClock& clock, SimTrace& trace, MisuseLog& misuse, ViewFactory& views);

  std::shared_ptr<FlutterViewController> makeFlutterViewController() override;
  void applicationDidFinishLaunching(const Notification& notification) override;

  // Inspection.
  const std::vector<LaunchNotification>& launchNotifications() const { return launches_; }
  // The newest controller that is still alive, for reaching its engine from the
  // interface's side.
  std::shared_ptr<FlutterViewController> latestViewController() const { return latest_.lock(); }

 protected:
  std::shared_ptr<FlutterViewController> makeController(std::shared_ptr<View> view) override;

 private:
  SimClock& clock_;
  SimTrace& trace_;
  MisuseLog& misuse_;
  std::vector<LaunchNotification> launches_;
  std::weak_ptr<FlutterViewController> latest_;
};

}  // namespace lumivane::platform::sim
