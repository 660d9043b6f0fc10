#include "platform/sim/sim_flutter.h"

#include "platform/sim/sim_clock.h"

namespace lumivane::platform::sim {

SimFlutterEmbedding::SimFlutterEmbedding(SimClock& clock, MisuseLog& misuse, ViewFactory& views)
    : clock_(clock), misuse_(misuse), embedding_(views) {}

std::shared_ptr<FlutterViewController> SimFlutterEmbedding::makeFlutterViewController() {
  misuse_.requireMainThread("FlutterViewController init");
  auto controller = embedding_.makeFlutterViewController();
  if (controller) {
    ++made_;
    latest_ = controller;
  }
  return controller;
}

void SimFlutterEmbedding::applicationDidFinishLaunching(const Notification& notification) {
  misuse_.requireMainThread("FlutterAppDelegate applicationDidFinishLaunching:");
  launches_.push_back({clock_.now(), notification.name});
  embedding_.applicationDidFinishLaunching(notification);
}

}  // namespace lumivane::platform::sim
