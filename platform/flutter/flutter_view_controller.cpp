#include "platform/flutter/flutter_view_controller.h"

namespace lumivane::platform {

namespace {

class EngineRegistrar : public FlutterPluginRegistrar {
 public:
  EngineRegistrar(std::shared_ptr<BinaryMessenger> messenger, std::string pluginKey)
      : messenger_(std::move(messenger)), pluginKey_(std::move(pluginKey)) {}

  std::shared_ptr<BinaryMessenger> messenger() override { return messenger_; }
  std::string pluginKey() const override { return pluginKey_; }

 private:
  std::shared_ptr<BinaryMessenger> messenger_;
  std::string pluginKey_;
};

}  // namespace

FlutterViewController::FlutterViewController(std::shared_ptr<View> view) : view_(std::move(view)) {}

FlutterViewController::~FlutterViewController() = default;

std::shared_ptr<FlutterPluginRegistrar> FlutterViewController::registrarForPlugin(
    const std::string& pluginKey) {
  registeredPluginKeys_.push_back(pluginKey);
  return std::make_shared<EngineRegistrar>(engine_.binaryMessenger(), pluginKey);
}

}  // namespace lumivane::platform
