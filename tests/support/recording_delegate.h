#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/application.h"

namespace lumivane::test_support {

// An application delegate that records what the platform asks of it and
// answers as told, for tests of the platform itself.
class RecordingDelegate : public platform::ApplicationDelegate {
 public:
  void applicationDidFinishLaunching(const platform::Notification& notification) override {
    launches.push_back(notification.name);
    if (onLaunch)
      onLaunch();
  }
  bool applicationShouldTerminateAfterLastWindowClosed() override {
    ++lastWindowQuestions;
    return terminateAfterLastWindowClosed;
  }
  bool applicationShouldHandleReopen(bool hasVisibleWindows) override {
    reopens.push_back(hasVisibleWindows);
    return true;
  }
  bool applicationSupportsSecureRestorableState() override { return true; }
  void applicationWillTerminate(const platform::Notification& notification) override {
    terminations.push_back(notification.name);
    if (onWillTerminate)
      onWillTerminate();
  }
  bool performAction(const std::string& selector) override {
    actions.push_back(selector);
    return handledActions.count(selector) > 0;
  }

  std::function<void()> onLaunch;
  std::function<void()> onWillTerminate;
  std::set<std::string> handledActions;
  bool terminateAfterLastWindowClosed = false;
  std::vector<std::string> launches;
  std::vector<std::string> terminations;
  std::vector<bool> reopens;
  std::vector<std::string> actions;
  int lastWindowQuestions = 0;
};

}  // namespace lumivane::test_support
