#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/application.h"
#include "platform/flutter/flutter_view_controller.h"
#include "platform/notification.h"
#include "platform/view.h"

namespace lumivane::platform {

// Starts the interface in a newly made controller's engine: it draws into the
// controller's view and talks through its engine's interface messenger. Null
// when there is nothing to run.
using InterfaceRunner =
    std::function<std::unique_ptr<RunningInterface>(FlutterViewController& controller)>;

// The embedding as a service of the platform: what the host asks of it beyond
// a single controller. Main thread only.
class FlutterEmbedding {
 public:
  virtual ~FlutterEmbedding() = default;
  // What runs in every engine started from now on (the compiled interface, in
  // a real embedding); none by default, so the host's channels go unanswered
  // until something attaches to them.
  virtual void setInterfaceRunner(InterfaceRunner runner) = 0;
  // A new controller with a started engine. Absent when the engine cannot
  // start; the caller owns it.
  virtual std::shared_ptr<FlutterViewController> makeFlutterViewController() = 0;
  // The embedding's own work once the application has finished launching.
  virtual void applicationDidFinishLaunching(const Notification& notification) = 0;
};

// The embedding with the engine in process: controllers draw into plain views
// from `factory`. Main thread only.
class InProcessFlutterEmbedding : public FlutterEmbedding {
 public:
  // `factory` must outlive the embedding.
  explicit InProcessFlutterEmbedding(ViewFactory& factory) : factory_(factory) {}

  // Absent when the factory makes no view or the engine has been told it
  // cannot start.
  std::shared_ptr<FlutterViewController> makeFlutterViewController() override;
  void applicationDidFinishLaunching(const Notification& notification) override;
  void setInterfaceRunner(InterfaceRunner runner) override { runner_ = std::move(runner); }

  // Makes later makeFlutterViewController calls fail (or succeed again), as an
  // engine whose assets are missing would.
  void setEngineCanStart(bool canStart) { engineCanStart_ = canStart; }
  // How many launch notifications arrived; the embedding expects one.
  int launchCount() const { return launchCount_; }

 protected:
  // The controller over a freshly made view; backends that watch what the
  // controller does make their own kind.
  virtual std::shared_ptr<FlutterViewController> makeController(std::shared_ptr<View> view);

 private:
  ViewFactory& factory_;
  InterfaceRunner runner_;
  bool engineCanStart_ = true;
  int launchCount_ = 0;
};

// The application delegate the embedding provides (FlutterAppDelegate), for
// the host's delegate to derive from. Its answers are the platform's defaults;
// subclasses override what they decide differently.
class FlutterAppDelegate : public ApplicationDelegate {
 public:
  // `embedding` must outlive the delegate.
  explicit FlutterAppDelegate(FlutterEmbedding& embedding) : embedding_(embedding) {}

  // Tells the embedding; subclasses that override it call this last, once
  // their own start-up is done.
  void applicationDidFinishLaunching(const Notification& notification) override;
  // True: an application whose only window is the interface ends with it.
  bool applicationShouldTerminateAfterLastWindowClosed() override { return true; }
  bool applicationShouldHandleReopen(bool /*hasVisibleWindows*/) override { return true; }
  bool applicationSupportsSecureRestorableState() override { return false; }
  // Handles no actions of its own, so they travel on to the application.
  bool performAction(const std::string& /*selector*/) override { return false; }

 protected:
  FlutterEmbedding& embedding() { return embedding_; }

 private:
  FlutterEmbedding& embedding_;
};

}  // namespace lumivane::platform
