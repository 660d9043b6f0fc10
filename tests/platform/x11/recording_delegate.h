#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/application.h"

namespace lumivane::test_support {

// An application delegate that records what it was asked and answers as told.
class RecordingDelegate : public platform::ApplicationDelegate {
 public:
  void applicationDidFinishLaunching(const platform::Notification&) override {
    ++launches;
    if (onLaunch)
      onLaunch();
  }
  bool applicationShouldTerminateAfterLastWindowClosed() override {
    ++lastWindowQuestions;
    return terminateAfterLastWindow;
  }
  bool applicationShouldHandleReopen(bool) override {
    ++reopens;
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
    if (onAction)
      onAction(selector);
    return handles.count(selector) > 0;
  }

  std::function<void()> onLaunch;
  std::function<void(const std::string&)> onAction;
  std::function<void()> onWillTerminate;
  std::set<std::string> handles;
  bool terminateAfterLastWindow = false;
  int launches = 0;
  int reopens = 0;
  int lastWindowQuestions = 0;
  std::vector<std::string> actions;
  std::vector<std::string> terminations;
};

}  // namespace lumivane::test_support
