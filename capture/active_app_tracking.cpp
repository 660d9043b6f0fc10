#include "shell/app_delegate.h"

namespace lumivane {

void AppDelegate::recordIfNotHost(const std::shared_ptr<platform::RunningApplication>& candidate) {
  // The host's own panel takes the focus whenever it is shown; recording it
  // would aim the next copy or paste at the host itself. Two absent bundle
  // identifiers count as the same application.
  if (candidate->bundleIdentifier() == desktop_.mainBundle().bundleIdentifier())
    return;
  const platform::pid_t pid = candidate->processIdentifier();
  std::lock_guard lock(lastActiveAppMutex_);
  lastActiveApp = candidate;
  lastActiveAppPid = pid;
}

void AppDelegate::setupAppActivationObserver() {
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  desktop_.workspace().notificationCenter().addObserver(
      platform::NSWorkspaceDidActivateApplicationNotification,
      [weak](const platform::Notification& notification) {
        if (auto self = weak.lock())
          self->appDidActivate(notification);
      });
  updateLastActiveAppIfNeeded();
}

void AppDelegate::appDidActivate(const platform::Notification& notification) {
  if (!notification.userInfo)
    return;
  auto entry = notification.userInfo->find(platform::NSWorkspaceApplicationKey);
  if (entry == notification.userInfo->end())
    return;
  const auto* app = std::get_if<std::shared_ptr<platform::RunningApplication>>(&entry->second);
  if (!app || !*app)
    return;
  recordIfNotHost(*app);
}

void AppDelegate::updateLastActiveAppIfNeeded() {
  if (auto front = desktop_.workspace().frontmostApplication())
    recordIfNotHost(front);
}

std::shared_ptr<platform::RunningApplication> AppDelegate::lastActiveApplication() const {
  std::lock_guard lock(lastActiveAppMutex_);
  return lastActiveApp;
}

platform::pid_t AppDelegate::lastActiveApplicationPid() const {
  std::lock_guard lock(lastActiveAppMutex_);
  return lastActiveAppPid;
}

}  // namespace lumivane
