#include "bridge/channel_handlers.h"
#include "shell/app_delegate.h"

namespace lumivane {

void AppDelegate::setupMethodChannel(
    const std::shared_ptr<platform::FlutterViewController>& controller) {
  if (!controller)
    return;
  std::weak_ptr<AppDelegate> weak = weak_from_this();

  selectionChannel = platform::FlutterMethodChannel::methodChannelWithName(
      kSelectionChannelName, controller->engine().binaryMessenger());
  if (selectionChannel) {
    selectionChannel->setMethodCallHandler(
        [weak](const platform::FlutterMethodCall& call, platform::FlutterResult result) {
          handleSelectionCall(weak, call, result);
        });
  }

  systemChannel = platform::FlutterMethodChannel::methodChannelWithName(
      kSystemChannelName, controller->engine().binaryMessenger());
  if (systemChannel) {
    systemChannel->setMethodCallHandler(
        [weak](const platform::FlutterMethodCall& call, platform::FlutterResult result) {
          handleSystemCall(weak, call, result);
        });
  }
}

}  // namespace lumivane
