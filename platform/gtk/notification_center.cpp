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

void MainThreadNotificationCenter::postSoon(Notification notification) {
  const bool scheduled = !pending_.empty();
  pending_.push_back(std::move(notification));
  if (scheduled)
    return;
  delivery_ = addMainTimeout(0, [this] {
    deliverPending();
    return false;
  });
}

void MainThreadNotificationCenter::dropPending() {
  delivery_.reset();
  pending_.clear();
}

void MainThreadNotificationCenter::deliverPending() {
  std::deque<Notification> due;
  due.swap(pending_);
  for (const Notification& notification : due)
    post(notification);
}

}  // namespace lumivane::platform::gtk
