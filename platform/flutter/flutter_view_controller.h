#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/color.h"
#include "platform/flutter/binary_messenger.h"
#include "platform/flutter/flutter_engine.h"
#include "platform/view.h"

namespace lumivane::platform {

// What a plug-in gets when it registers (FlutterPluginRegistrar).
class FlutterPluginRegistrar {
 public:
  virtual ~FlutterPluginRegistrar() = default;
  // The host's side of the engine's messenger, for the plug-in's channels.
  // Never absent.
  virtual std::shared_ptr<BinaryMessenger> messenger() = 0;
  // The key the registrar was asked for under.
  virtual std::string pluginKey() const = 0;
};

// Hands out registrars to plug-ins (FlutterPluginRegistry).
class FlutterPluginRegistry {
 public:
  virtual ~FlutterPluginRegistry() = default;
  // A registrar for the plug-in named `pluginKey` (registrarForPlugin:). Never
  // absent; each call makes a new one.
  virtual std::shared_ptr<FlutterPluginRegistrar> registrarForPlugin(
      const std::string& pluginKey) = 0;
};

// The view controller that shows the interface (FlutterViewController): it
// owns the engine running the interface and the view the interface draws
// into. Main thread only.
class FlutterViewController : public ViewController, public FlutterPluginRegistry {
 public:
  // `view` is the embedding's content view; it must not be absent.
  explicit FlutterViewController(std::shared_ptr<View> view);
  ~FlutterViewController() override;

  std::shared_ptr<View> view() override { return view_; }

  // The engine running this controller's interface; lives as long as the
  // controller.
  FlutterEngine& engine() { return engine_; }

  // What shows where the interface has not drawn (backgroundColor). Opaque
  // black until set.
  void setBackgroundColor(const Color& color) { backgroundColor_ = color; }
  Color backgroundColor() const { return backgroundColor_; }

  // Registrars share the engine's host-side messenger.
  std::shared_ptr<FlutterPluginRegistrar> registrarForPlugin(const std::string& pluginKey) override;

  // Every key asked for, in order, repeats included.
  const std::vector<std::string>& registeredPluginKeys() const { return registeredPluginKeys_; }

 private:
  std::shared_ptr<View> view_;
  FlutterEngine engine_;
  Color backgroundColor_;
  std::vector<std::string> registeredPluginKeys_;
};

}  // namespace lumivane::platform
