#include "platform/gtk/notification_center.h"

namespace lumivane::platform::gtk {

void MainThreadNotificationCenter::addObserver(const std::string& name,
                                               std::function<void(const Notification&)> callback) {
  std::lock_guard lock(mutex_);
  observers_.push_back(
      {name, std::make_shared<std::function<void(const Notification&)>>(std::move(callback))});
}

void MainThreadNotificationCenter::post(const Notification& notification) {
  // Observers may add observers; they are called from a copy of the list.
  std::vector<std::shared_ptr<std::function<void(const Notification&)>>> due;
  {
    std::lock_guard lock(mutex_);
    for (const Observer& observer : observers_) {
      if (observer.name == notification.name)
        due.push_back(observer.callback);
    }
  }
  for (const auto& callback : due)
    (*callback)(notification);
}

}  // namespace lumivane::platform::gtk
