#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gtk/glib_handles.h"
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
  // Posts `notification` as a main-loop task of its own, after those posted
  // this way before it: what observers call (the front application, among
  // others) must not run inside the code that noticed the change. Main
  // thread.
  void postSoon(Notification notification);
  // Forgets what postSoon has not delivered yet.
  void dropPending();

 private:
  void deliverPending();

  struct Observer {
    std::string name;
    std::shared_ptr<std::function<void(const Notification&)>> callback;
  };
  std::mutex mutex_;
  std::vector<Observer> observers_;
  std::deque<Notification> pending_;
  // Removed with the centre, so it never runs after it.
  GSourcePtr delivery_;
};

}  // namespace lumivane::platform::gtk
