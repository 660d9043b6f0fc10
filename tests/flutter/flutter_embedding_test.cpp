#include <gtest/gtest.h>

#include "platform/flutter/flutter_app_delegate.h"
#include "platform/flutter/flutter_view_controller.h"
#include "platform/flutter/interface_peer.h"
#include "platform/flutter/method_channel.h"
#include "tests/support/printing.h"

namespace lumivane::platform::testing {
namespace {

// Just enough of a view to be the embedding's content.
class InertView : public View {
 public:
  void addSubview(const std::shared_ptr<View>&,
                  WindowOrderingMode,
                  const std::shared_ptr<View>&) override {}
  void setTranslatesAutoresizingMaskIntoConstraints(bool) override {}
  std::shared_ptr<LayoutAnchor> topAnchor() override { return nullptr; }
  std::shared_ptr<LayoutAnchor> bottomAnchor() override { return nullptr; }
  std::shared_ptr<LayoutAnchor> leadingAnchor() override { return nullptr; }
  std::shared_ptr<LayoutAnchor> trailingAnchor() override { return nullptr; }
};

class InertViewFactory : public ViewFactory {
 public:
  bool makesViews = true;
  std::shared_ptr<View> lastView;

  std::shared_ptr<View> makeView() override {
    lastView = makesViews ? std::make_shared<InertView>() : nullptr;
    return lastView;
  }
  std::shared_ptr<VisualEffectView> makeVisualEffectView() override { return nullptr; }
  void activateConstraints(const std::vector<std::shared_ptr<LayoutConstraint>>&) override {}
};

TEST(FlutterEmbedding, ControllerIsAbsentWhenTheEngineCannotStart) {
  InertViewFactory factory;
  InProcessFlutterEmbedding embedding(factory);

  auto controller = embedding.makeFlutterViewController();
  ASSERT_TRUE(controller);
  EXPECT_EQ(controller->view(), factory.lastView);

  embedding.setEngineCanStart(false);
  EXPECT_EQ(embedding.makeFlutterViewController(), nullptr);
  embedding.setEngineCanStart(true);
  factory.makesViews = false;
  EXPECT_EQ(embedding.makeFlutterViewController(), nullptr);
}

// A plug-in's channel, registered through the registry, answers the
// interface of that controller's engine and no other.
TEST(FlutterEmbedding, RegistrarsTalkThroughTheControllersEngine) {
  InertViewFactory factory;
  InProcessFlutterEmbedding embedding(factory);
  auto controller = embedding.makeFlutterViewController();
  auto other = embedding.makeFlutterViewController();

  auto registrar = controller->registrarForPlugin("WindowManagerPlugin");
  controller->registrarForPlugin("ScreenRetrieverPlugin");
  controller->registrarForPlugin("WindowManagerPlugin");
  EXPECT_EQ(registrar->pluginKey(), "WindowManagerPlugin");
  EXPECT_EQ(controller->registeredPluginKeys(),
            (std::vector<std::string>{"WindowManagerPlugin", "ScreenRetrieverPlugin",
                                      "WindowManagerPlugin"}));

  auto channel =
      FlutterMethodChannel::methodChannelWithName("window_manager", registrar->messenger());
  channel->setMethodCallHandler(
      [](const FlutterMethodCall&, const FlutterResult& result) { result(EncodableValue(true)); });

  InterfacePeer interface(controller->engine().interfaceMessenger());
  EXPECT_EQ(interface.invoke("window_manager", "show").value, EncodableValue(true));
  InterfacePeer otherInterface(other->engine().interfaceMessenger());
  EXPECT_EQ(otherInterface.invoke("window_manager", "show").kind, PeerReply::Kind::notImplemented);
}

class CountingDelegate : public FlutterAppDelegate {
 public:
  using FlutterAppDelegate::embedding;
  using FlutterAppDelegate::FlutterAppDelegate;
};

TEST(FlutterEmbedding, AppDelegateTellsTheEmbeddingAboutLaunch) {
  InertViewFactory factory;
  InProcessFlutterEmbedding embedding(factory);
  CountingDelegate delegate(embedding);

  delegate.applicationDidFinishLaunching(
      Notification{NSApplicationDidFinishLaunchingNotification, std::nullopt});
  EXPECT_EQ(embedding.launchCount(), 1);
  EXPECT_EQ(&delegate.embedding(), &embedding);
  // A window-only application quits with its last window unless the host
  // decides otherwise, and unknown actions travel on up the chain.
  EXPECT_TRUE(delegate.applicationShouldTerminateAfterLastWindowClosed());
  EXPECT_FALSE(delegate.performAction("terminate:"));
}

}  // namespace
}  // namespace lumivane::platform::testing
