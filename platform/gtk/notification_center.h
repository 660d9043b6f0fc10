#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/workspace.h"

namespace lumivane::platform::gtk {

// A workspace's notification centre. Observers are called on the main
// thread, in the order they were added.
class MainThreadNotificationCenter final : public NotificationCenter {
 public:
  void addObserver(const std::string& name,
                   std::function<void(const Notification&)> callback) override;

  // Calls the observers of `notification.name` now. Main thread.
  void post(const Notification& notification);

 private:
  struct Observer {
    std::string name;
    std::shared_ptr<std::function<void(const Notification&)>> callback;
  };
  std::mutex mutex_;
  std::vector<Observer> observers_;
};

}  // namespace lumivane::platform::gtk
