#include "platform/flutter/flutter_app_delegate.h"

namespace lumivane::platform {

std::shared_ptr<FlutterViewController> InProcessFlutterEmbedding::makeFlutterViewController() {
  if (!engineCanStart_) {
    return nullptr;
  }
  auto view = factory_.makeView();
  if (!view) {
    return nullptr;
  }
  auto controller = makeController(std::move(view));
  if (controller && runner_) {
    if (auto interface = runner_(*controller))
      controller->engine().runInterface(std::move(interface));
  }
  return controller;
}

std::shared_ptr<FlutterViewController> InProcessFlutterEmbedding::makeController(
    std::shared_ptr<View> view) {
  return std::make_shared<FlutterViewController>(std::move(view));
}

void InProcessFlutterEmbedding::applicationDidFinishLaunching(
    const Notification& /*notification*/) {
  ++launchCount_;
}

void FlutterAppDelegate::applicationDidFinishLaunching(const Notification& notification) {
  embedding_.applicationDidFinishLaunching(notification);
}

}  // namespace lumivane::platform
