#include "platform/sim/sim_flutter.h"

#include "platform/sim/sim_clock.h"

namespace lumivane::platform::sim {

namespace {

// The embedding's controller, telling the trace which plug-ins register.
class TracingFlutterViewController final : public FlutterViewController {
 public:
  TracingFlutterViewController(std::shared_ptr<View> view, SimTrace& trace)
      : FlutterViewController(std::move(view)), trace_(trace) {}

  std::shared_ptr<FlutterPluginRegistrar> registrarForPlugin(
      const std::string& pluginKey) override {
    auto registrar = FlutterViewController::registrarForPlugin(pluginKey);
    trace_.emit(TraceKind::pluginRegistered, {{"plugin", pluginKey}});
    return registrar;
  }

 private:
  SimTrace& trace_;
};

}  // namespace

SimFlutterEmbedding::SimFlutterEmbedding(SimClock& clock,
                                         SimTrace& trace,
                                         MisuseLog& misuse,
                                         ViewFactory& views)
    : InProcessFlutterEmbedding(views), clock_(clock), trace_(trace), misuse_(misuse) {}

std::shared_ptr<FlutterViewController> SimFlutterEmbedding::makeFlutterViewController() {
  misuse_.requireMainThread("FlutterViewController init");
  return InProcessFlutterEmbedding::makeFlutterViewController();
}

std::shared_ptr<FlutterViewController> SimFlutterEmbedding::makeController(
    std::shared_ptr<View> view) {
  auto controller = std::make_shared<TracingFlutterViewController>(std::move(view), trace_);
  latest_ = controller;
  trace_.emit(TraceKind::viewControllerCreated, {});
  return controller;
}

void SimFlutterEmbedding::applicationDidFinishLaunching(const Notification& notification) {
  misuse_.requireMainThread("FlutterAppDelegate applicationDidFinishLaunching:");
  launches_.push_back({clock_.now(), notification.name});
  InProcessFlutterEmbedding::applicationDidFinishLaunching(notification);
}

}  // namespace lumivane::platform::sim
